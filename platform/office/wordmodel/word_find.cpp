// Find and its Replacement: the settings a caller makes on them, and Execute,
// which finds (and replaces) within the one story of the range they belong to.

#include "word_objects.h"

#include "picture_and_text.h"

namespace office {

namespace {

struct FindSettings {
    QString text;
    QString replacement;
    bool forward = true;
    int wrap = 0;
    bool format = false;
    bool matchCase = false;
    bool wholeWord = false;
    bool wildcards = false;
    bool soundsLike = false;
    bool allWordForms = false;
};

void assign(bool& field, const Variant& v) {
    field = v.toBool();
}
void assign(int& field, const Variant& v) {
    field = v.toInt();
}
void assign(QString& field, const Variant& v) {
    field = v.toString();
}

Variant valueOf(bool field) {
    return Variant(field);
}
Variant valueOf(int field) {
    return Variant(int32_t(field));
}
Variant valueOf(const QString& field) {
    return Variant(field);
}

// A property that is only kept: a write stores the value, a read gives it back.
template <class T>
Variant setting(const QString& name, CallKind kind, const QList<Variant>& args, T& field) {
    if (kind != CallKind::Put)
        return valueOf(field);
    assign(field, putValue(name, args));
    return Variant();
}

class Replacement final : public InDocument {
  public:
    Replacement(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
                std::shared_ptr<FindSettings> f)
        : InDocument(std::move(s), std::move(d)), mSettings(std::move(f)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        static const Member<Replacement> members[] = {
            {"ClearFormatting", // no formatting kept
             [](Replacement& r, const Call& c) {
                 return r.call(c.name, Bound::Ordinary, [] { return Variant(); });
             }},
            {"Text",
             [](Replacement& r, const Call& c) {
                 return r.call(c.name, Bound::Ordinary, [&] {
                     return setting(c.name, c.kind, c.args, r.mSettings->replacement);
                 });
             }},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    std::shared_ptr<FindSettings> mSettings;
};

class Find final : public InDocument {
  public:
    Find(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        static const Member<Find> members[] = {
            {"Execute",
             [](Find& f, const Call& c) {
                 return f.call(c.name, Bound::Lengthy, [&] { return f.execute(c.args, c.named); });
             }},
            {"ClearFormatting",
             [](Find& f, const Call& c) {
                 return f.call(c.name, Bound::Ordinary, [&] {
                     f.mSettings->format = false;
                     return Variant();
                 });
             }},
            {"Replacement", [](Find& f, const Call& c) { return f.replacement(c); }},
            {"Text", kept<&FindSettings::text>},
            {"Forward", kept<&FindSettings::forward>},
            {"Wrap", kept<&FindSettings::wrap>},
            {"Format", kept<&FindSettings::format>},
            {"MatchCase", kept<&FindSettings::matchCase>},
            {"MatchWholeWord", kept<&FindSettings::wholeWord>},
            {"MatchWildcards", kept<&FindSettings::wildcards>},
            {"MatchSoundsLike", kept<&FindSettings::soundsLike>},
            {"MatchAllWordForms", kept<&FindSettings::allWordForms>},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    // A setting the caller reads and writes; Execute reads it.
    template <auto field> static Variant kept(Find& f, const Call& c) {
        return f.call(c.name, Bound::Ordinary,
                      [&] { return setting(c.name, c.kind, c.args, (*f.mSettings).*field); });
    }

    Variant replacement(const Call& c) {
        if (c.kind == CallKind::Put)
            readOnlyProperty(c.name);
        return call(c.name, Bound::Ordinary, [&] {
            if (!mReplacement)
                mReplacement = std::make_shared<Replacement>(mSession, mDoc, mSettings);
            return Variant(Object(mReplacement));
        });
    }

    // Arguments given to Execute become the find object's settings, as in Word.
    void takeSettings(const Args& a) {
        auto take = [&](int i, auto& field) {
            if (a.has(i))
                assign(field, a.at(i));
        };
        FindSettings& s = *mSettings;
        take(0, s.text);
        take(1, s.matchCase);
        take(2, s.wholeWord);
        take(3, s.wildcards);
        take(4, s.soundsLike);
        take(5, s.allWordForms);
        take(6, s.forward);
        take(7, s.wrap);
        take(8, s.format);
        take(9, s.replacement);
    }

    Variant execute(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named,
                     {"FindText", "MatchCase", "MatchWholeWord", "MatchWildcards",
                      "MatchSoundsLike", "MatchAllWordForms", "Forward", "Wrap", "Format",
                      "ReplaceWith", "Replace", "MatchKashida", "MatchDiacritics", "MatchAlefHamza",
                      "MatchControl"});
        takeSettings(a);
        const FindSettings& s = *mSettings;
        const int replace = a.has(10) ? a.at(10).toInt() : 0;
        if (replace < 0 || replace > 2)
            throw Error(QStringLiteral("Execute: Replace must be 0, 1 or 2, not %1").arg(replace));
        if (s.wildcards || s.soundsLike || s.allWordForms)
            throw Error(QStringLiteral("Execute: wildcard, sounds-like and all-word-forms "
                                       "matching are not supported"));
        if (s.text.isEmpty())
            return Variant(false);
        const SearchTerms terms{s.text, s.matchCase, s.wholeWord};
        const int found = replaceInStory(*mSession, mDoc->doc, mStory, terms,
                                         replacementLines(s.replacement), ReplaceMode(replace));
        return Variant(found > 0);
    }

    Story mStory;
    std::shared_ptr<FindSettings> mSettings = std::make_shared<FindSettings>();
    std::shared_ptr<Replacement> mReplacement;
};

} // namespace

Object makeFind(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story) {
    return Object(std::make_shared<Find>(std::move(s), std::move(d), std::move(story)));
}

} // namespace office

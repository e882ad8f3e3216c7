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
                   const QList<NamedArg>&) override {
        if (sameName(name, "ClearFormatting"))
            return call(name, Bound::Ordinary, [] { return Variant(); }); // no formatting kept
        if (sameName(name, "Text")) {
            return call(name, Bound::Ordinary,
                        [&] { return setting(name, kind, args, mSettings->replacement); });
        }
        automation::throwNoMember(name);
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
        if (sameName(name, "Execute")) {
            return call(name, Bound::Lengthy, [&] { return execute(args, named); });
        }
        if (sameName(name, "ClearFormatting")) {
            return call(name, Bound::Ordinary, [&] {
                mSettings->format = false;
                return Variant();
            });
        }
        if (sameName(name, "Replacement")) {
            if (kind == CallKind::Put)
                readOnlyProperty(name);
            return call(name, Bound::Ordinary, [&] {
                if (!mReplacement)
                    mReplacement = std::make_shared<Replacement>(mSession, mDoc, mSettings);
                return Variant(Object(mReplacement));
            });
        }
        if (sameName(name, "Text"))
            return property(name, kind, args, mSettings->text);
        if (sameName(name, "Forward"))
            return property(name, kind, args, mSettings->forward);
        if (sameName(name, "Wrap"))
            return property(name, kind, args, mSettings->wrap);
        if (sameName(name, "Format"))
            return property(name, kind, args, mSettings->format);
        if (sameName(name, "MatchCase"))
            return property(name, kind, args, mSettings->matchCase);
        if (sameName(name, "MatchWholeWord"))
            return property(name, kind, args, mSettings->wholeWord);
        if (sameName(name, "MatchWildcards"))
            return property(name, kind, args, mSettings->wildcards);
        if (sameName(name, "MatchSoundsLike"))
            return property(name, kind, args, mSettings->soundsLike);
        if (sameName(name, "MatchAllWordForms"))
            return property(name, kind, args, mSettings->allWordForms);
        automation::throwNoMember(name);
    }

  private:
    template <class T>
    Variant property(const QString& name, CallKind kind, const QList<Variant>& args, T& field) {
        return call(name, Bound::Ordinary, [&] { return setting(name, kind, args, field); });
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

// A range: one whole story of a document, with its find object, its text,
// and the picture of its document.

#include "word_objects.h"

#include "copy_picture.h"

namespace office {

namespace {

class Range final : public InDocument {
  public:
    Range(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        static const Member<Range> members[] = {
            {"Find", [](Range& r, const Call& c) { return r.find(c.name); }},
            {"Text",
             [](Range& r, const Call& c) {
                 return r.call(c.name, Bound::Ordinary,
                               [&] { return Variant(storyText(r.mStory)); });
             }},
            {"StoryType",
             [](Range& r, const Call& c) {
                 return r.call(c.name, Bound::Ordinary,
                               [&] { return Variant(int32_t(r.mStory.type)); });
             }},
            {"CopyAsPicture",
             [](Range& r, const Call& c) { return r.copyAsPicture(c.name, c.args); }},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    // The same find object every time, so settings made on it stay.
    Variant find(const QString& name) {
        return call(name, Bound::Ordinary, [&] {
            if (mFind.isNothing())
                mFind = makeFind(mSession, mDoc, mStory);
            return Variant(mFind);
        });
    }

    Variant copyAsPicture(const QString& name, const QList<Variant>& args) {
        // Whatever fails from here on, no earlier picture stays on the
        // clipboard to be read back as this document's.
        dropPictureFromClipboard();
        if (!args.isEmpty())
            throw Error(QStringLiteral("Wrong number of arguments: CopyAsPicture"));
        const QImage picture = call(name, Bound::Lengthy, [&] {
            runPictureHook(long(mSession->pid()));
            mDoc->releaseLayout();
            return renderDocumentPicture(mSession->context(), mDoc->doc);
        });
        putPictureOnClipboard(picture);
        return Variant();
    }

    Story mStory;
    Object mFind;
};

} // namespace

Object makeRange(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story) {
    return Object(std::make_shared<Range>(std::move(s), std::move(d), std::move(story)));
}

} // namespace office

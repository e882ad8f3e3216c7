// A floating shape and its text frame, the way into the text of a text box.

#include "word_objects.h"

namespace office {

namespace {

class TextFrame final : public InDocument {
  public:
    TextFrame(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        static const Member<TextFrame> members[] = {
            {"HasText",
             [](TextFrame& t, const Call& c) {
                 return t.call(c.name, Bound::Ordinary,
                               [&] { return Variant(t.hasTextRoom() && !storyIsEmpty(t.mStory)); });
             }},
            {"TextRange",
             [](TextFrame& t, const Call& c) {
                 return t.call(c.name, Bound::Ordinary, [&] {
                     if (!t.hasTextRoom())
                         throw Error(QStringLiteral("This shape cannot hold text"));
                     return Variant(makeRange(t.mSession, t.mDoc, t.mStory));
                 });
             }},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    bool hasTextRoom() const { return mStory.shapeText.is() || !mStory.writerTexts.empty(); }

    Story mStory;
};

class Shape final : public InDocument {
  public:
    Shape(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
          Reference<css::drawing::XShape> shape)
        : InDocument(std::move(s), std::move(d)), mShape(std::move(shape)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        static const Member<Shape> members[] = {
            {"TextFrame",
             [](Shape& s, const Call& c) {
                 return s.call(c.name, Bound::Ordinary, [&] {
                     return Variant(Object(std::make_shared<TextFrame>(
                         s.mSession, s.mDoc, shapeStory(*s.mSession, s.mShape))));
                 });
             }},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    Reference<css::drawing::XShape> mShape;
};

} // namespace

Object makeShape(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
                 Reference<css::drawing::XShape> shape) {
    return Object(std::make_shared<Shape>(std::move(s), std::move(d), std::move(shape)));
}

} // namespace office

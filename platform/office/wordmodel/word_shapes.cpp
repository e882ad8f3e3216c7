// A floating shape and its text frame, the way into the text of a text box.

#include "word_objects.h"

namespace office {

namespace {

class TextFrame final : public InDocument {
  public:
    TextFrame(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story)
        : InDocument(std::move(s), std::move(d)), mStory(std::move(story)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        const bool hasTextRoom = mStory.shapeText.is() || !mStory.writerTexts.empty();
        if (sameName(name, "HasText"))
            return call(name, Bound::Ordinary,
                        [&] { return Variant(hasTextRoom && !storyIsEmpty(mStory)); });
        if (sameName(name, "TextRange")) {
            return call(name, Bound::Ordinary, [&] {
                if (!hasTextRoom)
                    throw Error(QStringLiteral("This shape cannot hold text"));
                return Variant(makeRange(mSession, mDoc, mStory));
            });
        }
        automation::throwNoMember(name);
    }

  private:
    Story mStory;
};

class Shape final : public InDocument {
  public:
    Shape(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
          Reference<css::drawing::XShape> shape)
        : InDocument(std::move(s), std::move(d)), mShape(std::move(shape)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "TextFrame")) {
            return call(name, Bound::Ordinary, [&] {
                return Variant(Object(
                    std::make_shared<TextFrame>(mSession, mDoc, shapeStory(*mSession, mShape))));
            });
        }
        automation::throwNoMember(name);
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

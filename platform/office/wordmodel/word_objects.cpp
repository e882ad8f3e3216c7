#include "word_objects.h"

#include <com/sun/star/frame/XModel.hpp>

#include <QUrl>

namespace office {

Args::Args(const QList<Variant>& positional, const QList<NamedArg>& named,
           std::initializer_list<const char*> params)
    : mArgs(positional) {
    for (const NamedArg& n : named) {
        int index = 0;
        for (const char* p : params) {
            if (sameName(n.name, p))
                break;
            ++index;
        }
        if (index == int(params.size()))
            throw Error(QStringLiteral("Named argument not found: %1").arg(n.name));
        while (mArgs.size() <= index)
            mArgs.append(Variant::missing());
        mArgs[index] = n.value;
    }
    if (mArgs.size() > qsizetype(params.size()))
        throw Error(QStringLiteral("Wrong number of arguments or invalid property assignment"));
}

void readOnlyProperty(const QString& name) {
    throw Error(QStringLiteral("Can't assign to read-only property: %1").arg(name));
}

const Variant& putValue(const QString& name, const QList<Variant>& args) {
    if (args.size() != 1)
        throw Error(QStringLiteral("Wrong number of arguments or invalid property assignment: %1")
                        .arg(name));
    return args.first();
}

QString fileUrl(const QString& path) {
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

void DocState::releaseLayout() {
    if (!layoutHeld)
        return;
    layoutHeld = false;
    Reference<css::frame::XModel> model(doc, UNO_QUERY_THROW);
    while (model->hasControllersLocked())
        model->unlockControllers();
}

std::shared_ptr<DocState> AppState::active() const {
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (!(*it)->closed)
            return *it;
    return nullptr;
}

namespace {

class Collection final : public InDocument {
  public:
    Collection(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, QList<Variant> items)
        : InDocument(std::move(s), std::move(d)), mItems(std::move(items)) {}

    Variant invoke(const QString& name, CallKind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        automation::throwNoMember(name);
    }

    QList<Variant> enumerate() override {
        return call(QStringLiteral("For Each"), Bound::Ordinary, [&] { return mItems; });
    }

  private:
    QList<Variant> mItems;
};

} // namespace

Object makeCollection(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
                      QList<Variant> items) {
    return Object(std::make_shared<Collection>(std::move(s), std::move(d), std::move(items)));
}

} // namespace office

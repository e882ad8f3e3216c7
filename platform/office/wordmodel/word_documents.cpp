// The documents of an application instance: opening one, and how many are open.

#include "word_objects.h"

#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/util/XCloseable.hpp>

namespace office {

namespace {

class Documents final : public automation::Dispatch {
  public:
    Documents(std::shared_ptr<OfficeSession> s, std::shared_ptr<AppState> app)
        : mSession(std::move(s)), mApp(std::move(app)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        static const Member<Documents> members[] = {
            {"Open",
             [](Documents& d, const Call& c) {
                 return d.mSession->call(c.name, Bound::Lengthy,
                                         [&] { return d.open(c.args, c.named); });
             }},
            {"Count",
             [](Documents& d, const Call& c) {
                 return d.mSession->call(c.name, Bound::Ordinary, [&] { return d.count(); });
             }},
        };
        return callMember(*this, members, {name, kind, args, named});
    }

  private:
    Variant count() const {
        int n = 0;
        for (const auto& d : mApp->open)
            n += d->closed ? 0 : 1;
        return Variant(int32_t(n));
    }

    Variant open(const QList<Variant>& positional, const QList<NamedArg>& named) {
        const Args a(positional, named,
                     {"FileName", "ConfirmConversions", "ReadOnly", "AddToRecentFiles",
                      "PasswordDocument", "PasswordTemplate", "Revert", "WritePasswordDocument",
                      "WritePasswordTemplate", "Format", "Encoding", "Visible", "OpenAndRepair",
                      "DocumentDirection", "NoEncodingDialog", "XMLTransform"});
        if (!a.has(0) || a.at(0).toString().isEmpty())
            throw Error(QStringLiteral("Open: a file name is needed"));
        const QString path = a.at(0).toString();
        if (!QFileInfo(path).isFile())
            throw Error(QStringLiteral("Open: the file %1 was not found").arg(path));
        const Reference<css::text::XTextDocument> doc = load(path, a.has(2) && a.at(2).toBool());
        // Writer lays out every change as it goes, and a long value in one
        // paragraph makes that slow: a megabyte costs it half a minute before
        // the next call gets through. Held back, the layout is done once, when
        // saving or rendering needs it.
        Reference<css::frame::XModel> model(doc, UNO_QUERY);
        if (model.is())
            model->lockControllers();
        auto state = std::make_shared<DocState>();
        state->doc = doc;
        state->layoutHeld = model.is();
        state->name = path;
        mApp->open.push_back(state);
        return Variant(makeDocument(mSession, state));
    }

    Reference<css::text::XTextDocument> load(const QString& path, bool readOnly) {
        // The file may be untrusted (it sits in a temporary folder).
        Reference<css::lang::XComponent> component =
            loadHidden(mSession->desktop(), fileUrl(path), readOnly);
        if (!component.is())
            throw Error(QStringLiteral("Open: LibreOffice Writer could not open %1").arg(path));
        Reference<css::text::XTextDocument> doc(component, UNO_QUERY);
        if (!doc.is()) {
            Reference<css::util::XCloseable> c(component, UNO_QUERY);
            if (c.is())
                c->close(true);
            throw Error(QStringLiteral("Open: %1 is not a text document").arg(path));
        }
        return doc;
    }

    std::shared_ptr<OfficeSession> mSession;
    std::shared_ptr<AppState> mApp;
};

} // namespace

Object makeDocuments(std::shared_ptr<OfficeSession> s, std::shared_ptr<AppState> app) {
    return Object(std::make_shared<Documents>(std::move(s), std::move(app)));
}

} // namespace office

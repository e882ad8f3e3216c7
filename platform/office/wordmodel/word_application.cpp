// "Word.Application": one session on the office, with its documents and its
// one setting.

#include "word_model.h"
#include "word_objects.h"

namespace office {

namespace {

class Application final : public automation::Dispatch {
  public:
    explicit Application(std::shared_ptr<OfficeSession> s) : mSession(std::move(s)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (sameName(name, "DisplayAlerts"))
            return mSession->call(name, Bound::Ordinary,
                                  [&] { return displayAlerts(name, kind, args); });
        if (kind == CallKind::Put)
            readOnlyProperty(name);
        if (sameName(name, "Documents")) {
            return mSession->call(name, Bound::Ordinary,
                                  [&] { return Variant(makeDocuments(mSession, mApp)); });
        }
        if (sameName(name, "ActiveDocument"))
            return mSession->call(name, Bound::Ordinary, [&] { return activeDocument(); });
        if (sameName(name, "Quit"))
            return quit(args, named);
        automation::throwNoMember(name);
    }

    pid_t pid() const { return mSession->pid(); }

  private:
    Variant displayAlerts(const QString& name, CallKind kind, const QList<Variant>& args) {
        if (kind == CallKind::Put) {
            // Nothing here ever asks the user, so the setting is only kept.
            mApp->displayAlerts = putValue(name, args).toBool();
            return Variant();
        }
        return Variant(mApp->displayAlerts);
    }

    Variant activeDocument() {
        auto active = mApp->active();
        if (!active)
            throw Error(QStringLiteral(
                "ActiveDocument: this command is not available because no document is open"));
        return Variant(makeDocument(mSession, active));
    }

    Variant quit(const QList<Variant>& args, const QList<NamedArg>& named) {
        const Args a(args, named, {"SaveChanges", "OriginalFormat", "RouteDocument"});
        (void)a; // documents still open are closed without saving
        mSession->quit();
        for (const auto& d : mApp->open)
            d->closed = true;
        return Variant();
    }

    std::shared_ptr<OfficeSession> mSession;
    std::shared_ptr<AppState> mApp = std::make_shared<AppState>();
};

} // namespace

std::shared_ptr<automation::Dispatch> makeApplication(std::shared_ptr<OfficeSession> session) {
    return std::make_shared<Application>(std::move(session));
}

pid_t applicationProcessId(automation::Dispatch* app) {
    auto* a = dynamic_cast<Application*>(app);
    return a ? a->pid() : -1;
}

} // namespace office

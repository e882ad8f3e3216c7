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
        // The one setting a caller may write; everything else only reads.
        if (kind == CallKind::Put && !sameName(name, "DisplayAlerts"))
            readOnlyProperty(name);
        static const Member<Application> members[] = {
            {"DisplayAlerts",
             [](Application& a, const Call& c) {
                 return a.mSession->call(c.name, Bound::Ordinary,
                                         [&] { return a.displayAlerts(c.name, c.kind, c.args); });
             }},
            {"Documents",
             [](Application& a, const Call& c) {
                 return a.mSession->call(c.name, Bound::Ordinary, [&] {
                     return Variant(makeDocuments(a.mSession, a.mApp));
                 });
             }},
            {"ActiveDocument",
             [](Application& a, const Call& c) {
                 return a.mSession->call(c.name, Bound::Ordinary,
                                         [&] { return a.activeDocument(); });
             }},
            {"Quit", [](Application& a, const Call& c) { return a.quit(c.args, c.named); }},
        };
        return callMember(*this, members, {name, kind, args, named});
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

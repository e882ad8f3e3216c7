#include "office_session.h"

#include "office_host.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/util/XCloseable.hpp>

namespace office {

std::shared_ptr<OfficeSession> OfficeSession::begin() {
    return std::shared_ptr<OfficeSession>(new OfficeSession(OfficeHost::instance().take()));
}

void OfficeSession::ensureUsable(const QString& member) const {
    if (mQuit)
        throw automation::Error(
            QStringLiteral("LibreOffice Writer has already quit; %1 is no longer available")
                .arg(member));
    mOffice->ensureUsable(member);
}

// Every document of the office goes, unsaved, whatever the session set.
// Returns why the office should be replaced afterwards, or nothing when it is clean.
QString OfficeSession::closeEverything() {
    try {
        return mOffice->call(QStringLiteral("quit"), Bound::Lengthy, [&] {
            Reference<css::container::XEnumerationAccess> components =
                mOffice->desktop()->getComponents();
            Reference<css::container::XEnumeration> it = components->createEnumeration();
            while (it->hasMoreElements()) {
                Reference<css::util::XCloseable> doc(it->nextElement(), UNO_QUERY);
                if (doc.is())
                    doc->close(true);
            }
            if (components->createEnumeration()->hasMoreElements())
                return QStringLiteral("a document could not be closed");
            return QString();
        });
    } catch (const automation::Error& e) {
        return e.description();
    }
}

// Nothing of the session stays in the office: its documents, the objects it
// kept (released only now that no document of it is open) and what a failed
// save left in the office's folder.
void OfficeSession::end() {
    if (mQuit.exchange(true))
        return;
    const QString replaceReason = mOffice->usable() ? closeEverything() : QString();
    mOffice->releaseKept();
    mOffice->clearOwnTemp();
    OfficeHost::instance().giveBack(mOffice, replaceReason, mLoadedWriter);
}

void OfficeSession::quit() {
    if (mQuit)
        ensureUsable(QStringLiteral("quit")); // says it has already quit
    const bool failed = !mOffice->usable();
    end();
    if (failed)
        mOffice->ensureUsable(QStringLiteral("quit")); // says what became of the office
}

OfficeSession::~OfficeSession() {
    end();
}

void OfficeSession::keepUntilEnd(const Reference<css::uno::XInterface>& object) {
    mOffice->keepUntilEnd(object);
}

pid_t OfficeSession::pid() const {
    return mOffice->pid();
}

Reference<css::uno::XComponentContext> OfficeSession::context() const {
    return mOffice->context();
}

Reference<css::frame::XDesktop2> OfficeSession::desktop() const {
    return mOffice->desktop();
}

QString OfficeSession::privateTemp() const {
    return mOffice->privateTemp();
}

} // namespace office

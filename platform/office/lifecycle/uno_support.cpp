#include "uno_support.h"

#include "platform/automation/automation.h"

#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <rtl/bootstrap.hxx>

#include <mutex>

namespace office {

Reference<css::uno::XComponentContext> localContext() {
    static std::mutex mutex;
    // Kept for the life of the process: tearing the UNO runtime down from a
    // static destructor races its own bridge threads.
    static Reference<css::uno::XComponentContext>* context = nullptr;
    std::lock_guard lock(mutex);
    if (context)
        return *context;
    rtl::Bootstrap::set("URE_BOOTSTRAP",
                        "vnd.sun.star.pathname:" VELTRANE_LO_PROGRAM_DIR "/fundamentalrc");
    try {
        context = new Reference<css::uno::XComponentContext>(
            cppu::defaultBootstrap_InitialComponentContext());
    } catch (const css::uno::Exception&) {
        throw automation::Error(QStringLiteral("The UNO runtime of LibreOffice could not start: %1")
                                    .arg(caughtUnoExceptionText()));
    }
    return *context;
}

QString caughtUnoExceptionText() {
    const css::uno::Any caught = cppu::getCaughtException();
    QString text = toQ(caught.getValueTypeName());
    if (caught.getValueTypeClass() == css::uno::TypeClass_EXCEPTION) {
        const auto* e = static_cast<const css::uno::Exception*>(caught.getValue());
        const QString message = toQ(e->Message).trimmed();
        if (!message.isEmpty())
            text += QStringLiteral(": ") + message;
    }
    return text;
}

css::beans::PropertyValue property(const char* name, const css::uno::Any& value) {
    css::beans::PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Reference<css::lang::XComponent> loadHidden(const Reference<css::frame::XDesktop2>& desktop,
                                            const QString& url, bool readOnly) {
    return desktop->loadComponentFromURL(
        toOU(url), "_blank", 0,
        properties({
            property("Hidden", css::uno::Any(true)),
            property("ReadOnly", css::uno::Any(readOnly)),
            property("MacroExecutionMode",
                     css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
            property("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
        }));
}

bool supportsService(const Reference<css::uno::XInterface>& object, const char* service) {
    Reference<css::lang::XServiceInfo> info(object, UNO_QUERY);
    return info.is() && info->supportsService(rtl::OUString::createFromAscii(service));
}

} // namespace office

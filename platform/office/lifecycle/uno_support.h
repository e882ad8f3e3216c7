#pragma once
// Small UNO helpers: strings, the local UNO runtime, properties, exception text.

#include <QString>

#include <initializer_list>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/Sequence.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

namespace office {

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

inline rtl::OUString toOU(const QString& s) {
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}

inline QString toQ(const rtl::OUString& s) {
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}

// The process's own UNO runtime, started once (it needs URE_BOOTSTRAP set before
// anything else, or the first office call crashes). Throws automation::Error.
Reference<css::uno::XComponentContext> localContext();

// "type: message" of the UNO exception being handled; call inside a catch block.
QString caughtUnoExceptionText();

css::beans::PropertyValue property(const char* name, const css::uno::Any& value);

inline css::uno::Sequence<css::beans::PropertyValue>
properties(std::initializer_list<css::beans::PropertyValue> list) {
    return css::uno::Sequence<css::beans::PropertyValue>(list.begin(), sal_Int32(list.size()));
}

// A property's value; a missing property (or object without properties) gives fallback.
template <class T>
T getPropertyOr(const Reference<css::uno::XInterface>& object, const char* name, T fallback) {
    Reference<css::beans::XPropertySet> props(object, UNO_QUERY);
    if (!props.is())
        return fallback;
    const rtl::OUString key = rtl::OUString::createFromAscii(name);
    Reference<css::beans::XPropertySetInfo> info = props->getPropertySetInfo();
    if (info.is() && !info->hasPropertyByName(key))
        return fallback;
    T value = fallback;
    props->getPropertyValue(key) >>= value;
    return value;
}

// Opens the document at url hidden, for the program's own use: the file may be
// untrusted, so no macros run and no links are updated. What the office
// loaded may be nothing, or not a text document.
Reference<css::lang::XComponent> loadHidden(const Reference<css::frame::XDesktop2>& desktop,
                                            const QString& url, bool readOnly);

bool supportsService(const Reference<css::uno::XInterface>& object, const char* service);

} // namespace office

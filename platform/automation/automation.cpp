#include "automation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QMap>
#include <cmath>
#include <limits>

namespace automation {

Error::Error(const QString& description) : std::runtime_error(description.toStdString()) {}

Dispatch::~Dispatch() = default;

QList<Variant> Dispatch::enumerate() {
    throw Error(QStringLiteral("Object doesn't support this property or method"));
}

Variant::Variant(bool v) : mType(VarType::Bool), mBool(v) {}
Variant::Variant(int16_t v) : mType(VarType::I2), mInt(v) {}
Variant::Variant(int32_t v) : mType(VarType::I4), mInt(v) {}
Variant::Variant(float v) : mType(VarType::R4), mReal(v) {}
Variant::Variant(double v) : mType(VarType::R8), mReal(v) {}
Variant::Variant(const QString& v) : mType(VarType::String), mStr(v) {}
Variant::Variant(const char* v) : mType(VarType::String), mStr(QString::fromUtf8(v)) {}
Variant::Variant(const Object& v) : mType(VarType::Object), mObj(v.dispatch()) {}

Variant Variant::missing() {
    Variant v;
    v.mType = VarType::Missing;
    return v;
}

Variant Variant::null() {
    Variant v;
    v.mType = VarType::Null;
    return v;
}

static Error typeMismatch() {
    return Error(QStringLiteral("Type mismatch"));
}

bool Variant::toBool() const {
    switch (mType) {
    case VarType::Empty:
        return false;
    case VarType::Bool:
        return mBool;
    case VarType::I2:
    case VarType::I4:
        return mInt != 0;
    case VarType::R4:
    case VarType::R8:
        return mReal != 0;
    case VarType::String: {
        if (mStr.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (mStr.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double d = mStr.toDouble(&ok);
        if (ok)
            return d != 0;
        throw typeMismatch();
    }
    default:
        throw typeMismatch();
    }
}

static int32_t roundToInt32(double v) {
    const double r = std::nearbyint(v); // halves to even, as the basic conversions do
    if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
        throw Error(QStringLiteral("Overflow"));
    return static_cast<int32_t>(r);
}

// Numbers print with the significant digits their width holds (7 for single,
// 15 for double precision), the way the basic conversions print them.
static QString numberText(double v, int digits) {
    QString s = QString::number(v, 'g', digits);
    s.replace(QLatin1Char('e'), QLatin1Char('E'));
    return s;
}

// Read as a number first, so "2.5" converts like 2.5 (to 2) and "1e3" to 1000;
// every 32-bit integer is exact as a double.
int32_t Variant::toInt() const {
    return roundToInt32(toDouble());
}

double Variant::toDouble() const {
    switch (mType) {
    case VarType::Empty:
        return 0;
    case VarType::Bool:
        return mBool ? -1 : 0;
    case VarType::I2:
    case VarType::I4:
        return static_cast<double>(mInt);
    case VarType::R4:
    case VarType::R8:
        return mReal;
    case VarType::String: {
        bool ok = false;
        const double v = mStr.trimmed().toDouble(&ok);
        if (!ok)
            throw typeMismatch();
        return v;
    }
    default:
        throw typeMismatch();
    }
}

QString Variant::toString() const {
    switch (mType) {
    case VarType::Empty:
        return QString();
    case VarType::Bool:
        return mBool ? QStringLiteral("True") : QStringLiteral("False");
    case VarType::I2:
    case VarType::I4:
        return QString::number(mInt);
    case VarType::R4:
        return numberText(mReal, 7);
    case VarType::R8:
        return numberText(mReal, 15);
    case VarType::String:
        return mStr;
    default:
        throw typeMismatch();
    }
}

Object Variant::toObject() const {
    if (mType != VarType::Object)
        throw Error(QStringLiteral("Object required"));
    return Object(mObj);
}

bool Variant::operator==(const Variant& o) const {
    if (mType != o.mType)
        return false;
    switch (mType) {
    case VarType::Bool:
        return mBool == o.mBool;
    case VarType::I2:
    case VarType::I4:
        return mInt == o.mInt;
    case VarType::R4:
    case VarType::R8:
        return mReal == o.mReal;
    case VarType::String:
        return mStr == o.mStr;
    case VarType::Object:
        return mObj == o.mObj;
    default:
        return true;
    }
}

QString Variant::debugString() const {
    switch (mType) {
    case VarType::Empty:
        return QStringLiteral("Empty");
    case VarType::Missing:
        return QStringLiteral("Missing");
    case VarType::Null:
        return QStringLiteral("Null");
    case VarType::Bool:
        return mBool ? QStringLiteral("Bool(true)") : QStringLiteral("Bool(false)");
    case VarType::I2:
        return QStringLiteral("I2(%1)").arg(mInt);
    case VarType::I4:
        return QStringLiteral("I4(%1)").arg(mInt);
    case VarType::R4:
        return QStringLiteral("R4(%1)").arg(mReal);
    case VarType::R8:
        return QStringLiteral("R8(%1)").arg(mReal);
    case VarType::String:
        return QStringLiteral("Str(\"%1\")").arg(mStr);
    case VarType::Object:
        return mObj ? QStringLiteral("Object") : QStringLiteral("Nothing");
    }
    return QString();
}

static Dispatch& target(const std::shared_ptr<Dispatch>& d) {
    if (!d)
        throw Error(QStringLiteral("Object variable or With block variable not set"));
    return *d;
}

Variant Object::get(const QString& name, const QList<Variant>& args) const {
    return target(mDisp).invoke(name, CallKind::Get, args, {});
}

void Object::set(const QString& name, const Variant& value) const {
    target(mDisp).invoke(name, CallKind::Put, {value}, {});
}

Variant Object::call(const QString& name, const QList<Variant>& args,
                     const QList<NamedArg>& named) const {
    return target(mDisp).invoke(name, CallKind::Method, args, named);
}

QList<Variant> Object::items() const {
    return target(mDisp).enumerate();
}

bool sameName(const QString& a, const char* b) {
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

void throwNoMember(const QString& name) {
    throw Error(QStringLiteral("object doesn't support this property or method: %1").arg(name));
}

namespace {

QMap<QString, Factory>& registry() {
    static QMap<QString, Factory> r;
    return r;
}

QString& pluginPathOverride() {
    static QString p;
    return p;
}

// The plugin exports one C entry point that hands back a new application object.
using CreateFn = void (*)(std::shared_ptr<Dispatch>* out);

// The plugin, loaded once and kept for the rest of the run like an in-process server.
QLibrary* officePlugin() {
    static std::unique_ptr<QLibrary> plugin;
    if (plugin)
        return plugin.get();
    const QString path = officePluginPath();
    if (!QFileInfo::exists(path))
        throw Error(
            QStringLiteral("ActiveX component can't create object: %1 not found").arg(path));
    auto lib = std::make_unique<QLibrary>(path);
    lib->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!lib->load() || !lib->resolve("veltrane_create_word_application"))
        throw Error(
            QStringLiteral("ActiveX component can't create object: %1").arg(lib->errorString()));
    plugin = std::move(lib);
    return plugin.get();
}

bool gPluginLoaded = false;

Object createFromPlugin() {
    auto create =
        reinterpret_cast<CreateFn>(officePlugin()->resolve("veltrane_create_word_application"));
    gPluginLoaded = true;
    std::shared_ptr<Dispatch> out;
    create(&out);
    if (!out)
        throw Error(QStringLiteral("ActiveX component can't create object"));
    return Object(out);
}

} // namespace

void prepareServer(const QString& progId) {
    const QString key = progId.toLower();
    if (registry().contains(key) || key != QLatin1String("word.application") || !gPluginLoaded)
        return;
    using PrepareFn = void (*)();
    if (auto prepare = reinterpret_cast<PrepareFn>(
            officePlugin()->resolve("veltrane_prepare_word_application")))
        prepare();
}

void registerServer(const QString& progId, Factory factory) {
    const QString key = progId.toLower();
    if (factory)
        registry().insert(key, std::move(factory));
    else
        registry().remove(key);
}

void setOfficePluginPath(const QString& path) {
    pluginPathOverride() = path;
}

QString officePluginPath() {
    if (!pluginPathOverride().isEmpty())
        return pluginPathOverride();
    return QCoreApplication::applicationDirPath() + QStringLiteral("/libveltrane_office.so");
}

Object createObject(const QString& progId) {
    const QString key = progId.toLower();
    const auto it = registry().constFind(key);
    if (it != registry().constEnd()) {
        auto d = (*it)();
        if (!d)
            throw Error(QStringLiteral("ActiveX component can't create object"));
        return Object(std::move(d));
    }
    if (key == QLatin1String("word.application"))
        return createFromPlugin();
    throw Error(QStringLiteral("ActiveX component can't create object"));
}

} // namespace automation

#pragma once
// A small late-bound bridge: objects are reached by member name at run time,
// the way the program talks to its word processor.

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace automation {

class Dispatch;
class Object;

// A failed call. what() is the description shown in the error report.
class Error : public std::runtime_error {
  public:
    explicit Error(const QString& description);
    QString description() const { return QString::fromUtf8(what()); }
};

enum class VarType { Empty, Missing, Null, Bool, I2, I4, R4, R8, String, Object };

// A value that keeps the width it was given (16-bit, 32-bit, float, ...).
class Variant {
  public:
    Variant() = default;
    Variant(bool v);
    Variant(int16_t v);
    Variant(int32_t v);
    Variant(float v);
    Variant(double v);
    Variant(const QString& v);
    Variant(const char* v);
    Variant(const Object& v);

    static Variant missing(); // an omitted argument
    static Variant null();

    VarType type() const { return mType; }
    bool isEmpty() const { return mType == VarType::Empty; }
    bool isMissing() const { return mType == VarType::Missing; }
    bool isNull() const { return mType == VarType::Null; }

    // Conversions the way a late-bound caller expects them; they throw Error
    // ("Type mismatch") when the value cannot be read as asked.
    bool toBool() const;
    int32_t toInt() const;
    double toDouble() const;
    QString toString() const;
    Object toObject() const;

    bool operator==(const Variant& o) const;
    QString debugString() const; // e.g. "I2(2)", "Str(\"x\")", handy in recordings

  private:
    VarType mType = VarType::Empty;
    bool mBool = false;
    int64_t mInt = 0;
    double mReal = 0;
    QString mStr;
    std::shared_ptr<Dispatch> mObj;
};

struct NamedArg {
    QString name;
    Variant value;
};

enum class CallKind { Get, Put, Method };

// What a server implements. Names arrive exactly as the caller wrote them;
// servers compare them without regard to case.
class Dispatch {
  public:
    virtual ~Dispatch();
    virtual Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                           const QList<NamedArg>& named) = 0;
    // For Each over a collection; a non-collection throws.
    virtual QList<Variant> enumerate();
};

// A counted reference to a server object. An empty Object fails every call.
class Object {
  public:
    Object() = default;
    explicit Object(std::shared_ptr<Dispatch> d) : mDisp(std::move(d)) {}

    bool isNothing() const { return !mDisp; }
    void release() { mDisp.reset(); }

    Variant get(const QString& name, const QList<Variant>& args = {}) const;
    void set(const QString& name, const Variant& value) const;
    Variant call(const QString& name, const QList<Variant>& args = {},
                 const QList<NamedArg>& named = {}) const;
    QList<Variant> items() const; // For Each

    // Shorthand for get(name).toObject().
    Object operator[](const QString& name) const { return get(name).toObject(); }

    const std::shared_ptr<Dispatch>& dispatch() const { return mDisp; }

  private:
    std::shared_ptr<Dispatch> mDisp;
};

// Case-insensitive member name comparison for servers.
bool sameName(const QString& a, const char* b);

// Thrown by servers for a member they do not have.
[[noreturn]] void throwNoMember(const QString& name);

using Factory = std::function<std::shared_ptr<Dispatch>()>;

// Creates a new instance of the server registered for progId. Throws Error
// when none is registered or the server cannot start.
Object createObject(const QString& progId);

// Lets the server behind progId get ready in the background (the office plugin
// warms its word processor). Does nothing for a server a test registered, or
// when the plugin has not been loaded by a createObject before.
void prepareServer(const QString& progId);

// Registers (or, with an empty factory, removes) a server. Tests use this to
// stand in for "Word.Application".
void registerServer(const QString& progId, Factory factory);

// Where the plugin serving "Word.Application" is looked for; by default
// libveltrane_office.so in the application folder.
void setOfficePluginPath(const QString& path);
QString officePluginPath();

} // namespace automation

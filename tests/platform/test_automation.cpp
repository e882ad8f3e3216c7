// The late-bound bridge as the handlers and the word-processor server read it:
// values that keep their width, conversions with the classic rounding and
// overflow, and calls that reach a server by name with positional, omitted and
// named arguments.

#include "platform/automation/automation.h"
#include "tests/support/testenv.h"

#include <cmath>
#include <limits>

using automation::CallKind;
using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::Variant;
using automation::VarType;

Q_DECLARE_METATYPE(automation::Variant)

namespace automation {
// How Qt Test prints a value in a failure message.
char* toString(const Variant& v) {
    return qstrdup(qPrintable(v.debugString()));
}
} // namespace automation

namespace {

// Runs f and returns the description of the Error it throws ("" when none).
template <class F> QString errorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.description();
    }
    return QString();
}

// A server with one property, one method and one collection, written the way
// the real server compares names; every call it takes is kept.
class RecordingServer : public automation::Dispatch {
  public:
    struct Call {
        QString name;
        CallKind kind;
        QList<Variant> args;
        QList<NamedArg> named;
    };
    QList<Call> calls;
    Variant text = Variant("initial");
    std::shared_ptr<automation::Dispatch> child;

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        calls.append({name, kind, args, named});
        if (automation::sameName(name, "Text")) {
            if (kind == CallKind::Put)
                text = args.value(0);
            return text;
        }
        if (automation::sameName(name, "Execute"))
            return Variant(true);
        if (automation::sameName(name, "Child"))
            return Variant(Object(child));
        automation::throwNoMember(name);
    }
};

class Collection : public automation::Dispatch {
  public:
    QList<Variant> members;
    Variant invoke(const QString& name, CallKind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        automation::throwNoMember(name);
    }
    QList<Variant> enumerate() override { return members; }
};

} // namespace

class AutomationTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        automation::registerServer(QStringLiteral("Word.Application"), {});
        automation::registerServer(QStringLiteral("Test.Server"), {});
        automation::setOfficePluginPath(QString());
    }

    void valuesKeepTheWidthTheyWereGiven() {
        QCOMPARE(Variant(int16_t(2)).type(), VarType::I2);
        QCOMPARE(Variant(int32_t(2)).type(), VarType::I4);
        QCOMPARE(Variant(2.5f).type(), VarType::R4);
        QCOMPARE(Variant(2.5).type(), VarType::R8);
        QCOMPARE(Variant(true).type(), VarType::Bool);
        QCOMPARE(Variant("x").type(), VarType::String);
        QCOMPARE(Variant().type(), VarType::Empty);
        QCOMPARE(Variant::missing().type(), VarType::Missing);
        QCOMPARE(Variant::null().type(), VarType::Null);
        QCOMPARE(Variant(Object()).type(), VarType::Object);

        // The same number in two widths is two different values: a server that
        // is handed 2 as a 32-bit integer where 16 bits were asked must see it.
        QVERIFY(!(Variant(int16_t(2)) == Variant(int32_t(2))));
        QVERIFY(!(Variant(2.5f) == Variant(2.5)));
        QVERIFY(Variant(int16_t(2)) == Variant(int16_t(2)));
        QVERIFY(!(Variant() == Variant::missing()));
        QVERIFY(!(Variant::missing() == Variant::null()));
        QVERIFY(!(Variant(QString()) == Variant()));

        QCOMPARE(Variant(int16_t(2)).debugString(), QStringLiteral("I2(2)"));
        QCOMPARE(Variant(int32_t(1)).debugString(), QStringLiteral("I4(1)"));
        QCOMPARE(Variant(false).debugString(), QStringLiteral("Bool(false)"));
        QCOMPARE(Variant("a").debugString(), QStringLiteral("Str(\"a\")"));
        QCOMPARE(Variant::missing().debugString(), QStringLiteral("Missing"));
        QCOMPARE(Variant(Object()).debugString(), QStringLiteral("Nothing"));

        // Extremes of each width come back unchanged.
        QCOMPARE(Variant(int16_t(-32768)).toInt(), -32768);
        QCOMPARE(Variant(int16_t(32767)).toInt(), 32767);
        QCOMPARE(Variant(std::numeric_limits<int32_t>::min()).toInt(),
                 std::numeric_limits<int32_t>::min());
        QCOMPARE(Variant(std::numeric_limits<int32_t>::max()).toInt(),
                 std::numeric_limits<int32_t>::max());
        // A single keeps single precision: 1.1 as a float is not 1.1.
        QCOMPARE(Variant(1.1f).toDouble(), double(1.1f));
        QVERIFY(Variant(1.1f).toDouble() != 1.1);
    }

    // Whole numbers from reals: halves go to the even neighbour, and a value
    // outside 32 bits is an overflow, never a wrapped number.
    void wholeNumbersRoundHalvesToEvenAndOverflow_data() {
        QTest::addColumn<Variant>("value");
        QTest::addColumn<int>("expected"); // ignored when overflow
        QTest::addColumn<bool>("overflow");
        QTest::newRow("0.5") << Variant(0.5) << 0 << false;
        QTest::newRow("1.5") << Variant(1.5) << 2 << false;
        QTest::newRow("2.5") << Variant(2.5) << 2 << false;
        QTest::newRow("-2.5") << Variant(-2.5) << -2 << false;
        QTest::newRow("-3.5") << Variant(-3.5) << -4 << false;
        QTest::newRow("2.4999") << Variant(2.4999) << 2 << false;
        QTest::newRow("2.5001") << Variant(2.5001) << 3 << false;
        QTest::newRow("single 2.5") << Variant(2.5f) << 2 << false;
        QTest::newRow("single 3.5") << Variant(3.5f) << 4 << false;
        QTest::newRow("largest") << Variant(2147483647.0) << std::numeric_limits<int>::max()
                                 << false;
        QTest::newRow("largest - 0.5") << Variant(2147483646.5) << 2147483646 << false;
        QTest::newRow("largest + 0.5") << Variant(2147483647.5) << 0 << true;
        QTest::newRow("smallest - 0.5")
            << Variant(-2147483648.5) << std::numeric_limits<int>::min() << false;
        QTest::newRow("smallest - 1") << Variant(-2147483649.0) << 0 << true;
        QTest::newRow("1e300") << Variant(1e300) << 0 << true;
        QTest::newRow("infinity") << Variant(std::numeric_limits<double>::infinity()) << 0 << true;
        QTest::newRow("not a number") << Variant(std::nan("")) << 0 << true;
        QTest::newRow("string 2.5") << Variant("2.5") << 2 << false;
        QTest::newRow("string 3.5") << Variant("3.5") << 4 << false;
        QTest::newRow("string padded") << Variant(" 42 ") << 42 << false;
        QTest::newRow("string negative") << Variant("-7") << -7 << false;
        QTest::newRow("string 1e3") << Variant("1e3") << 1000 << false;
        QTest::newRow("string too big") << Variant("99999999999") << 0 << true;
        QTest::newRow("true") << Variant(true) << -1 << false;
        QTest::newRow("false") << Variant(false) << 0 << false;
        QTest::newRow("empty") << Variant() << 0 << false;
    }

    void wholeNumbersRoundHalvesToEvenAndOverflow() {
        QFETCH(Variant, value);
        QFETCH(int, expected);
        QFETCH(bool, overflow);
        if (overflow) {
            QCOMPARE(errorOf([&] { value.toInt(); }), QStringLiteral("Overflow"));
        } else {
            int got = 0;
            QCOMPARE(errorOf([&] { got = value.toInt(); }), QString());
            QCOMPARE(got, expected);
        }
    }

    // What cannot be read as asked is a type mismatch; null and missing values
    // are never quietly taken for zero, false or "".
    void unreadableValuesAreTypeMismatches() {
        const QString mismatch = QStringLiteral("Type mismatch");
        for (const Variant& v : {Variant::null(), Variant::missing()}) {
            QCOMPARE(errorOf([&] { v.toBool(); }), mismatch);
            QCOMPARE(errorOf([&] { v.toInt(); }), mismatch);
            QCOMPARE(errorOf([&] { v.toDouble(); }), mismatch);
            QCOMPARE(errorOf([&] { v.toString(); }), mismatch);
        }
        for (const char* text : {"", "abc", "12abc", "1,5"}) {
            const Variant v(text);
            QCOMPARE(errorOf([&] { v.toInt(); }), mismatch);
            QCOMPARE(errorOf([&] { v.toDouble(); }), mismatch);
            QCOMPARE(errorOf([&] { v.toBool(); }), mismatch);
        }
        QCOMPARE(errorOf([&] { Variant(Object()).toInt(); }), mismatch);
        QCOMPARE(errorOf([&] { Variant(int32_t(1)).toObject(); }),
                 QStringLiteral("Object required"));
        QCOMPARE(errorOf([&] { Variant::null().toObject(); }), QStringLiteral("Object required"));

        // Empty, by contrast, reads as nothing at all.
        QCOMPARE(Variant().toBool(), false);
        QCOMPARE(Variant().toDouble(), 0.0);
        QCOMPARE(Variant().toString(), QString());
    }

    void truthOfEveryKind() {
        QCOMPARE(Variant(int16_t(0)).toBool(), false);
        QCOMPARE(Variant(int16_t(-1)).toBool(), true);
        QCOMPARE(Variant(int32_t(2)).toBool(), true);
        QCOMPARE(Variant(0.0f).toBool(), false);
        QCOMPARE(Variant(0.25).toBool(), true);
        QCOMPARE(Variant("TRUE").toBool(), true);
        QCOMPARE(Variant("false").toBool(), false);
        QCOMPARE(Variant("0").toBool(), false);
        QCOMPARE(Variant("-1").toBool(), true);
    }

    // Numbers print as the basic conversions print them (7 significant digits
    // for a single, 15 for a double) and read back as the same number.
    void numbersToTextAndBack_data() {
        QTest::addColumn<Variant>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("16-bit") << Variant(int16_t(-32768)) << QStringLiteral("-32768");
        QTest::newRow("32-bit") << Variant(int32_t(2147483647)) << QStringLiteral("2147483647");
        QTest::newRow("true") << Variant(true) << QStringLiteral("True");
        QTest::newRow("false") << Variant(false) << QStringLiteral("False");
        QTest::newRow("0.1") << Variant(0.1) << QStringLiteral("0.1");
        QTest::newRow("third") << Variant(1.0 / 3) << QStringLiteral("0.333333333333333");
        QTest::newRow("1234567.89") << Variant(1234567.89) << QStringLiteral("1234567.89");
        QTest::newRow("15 digits")
            << Variant(123456789012345.0) << QStringLiteral("123456789012345");
        QTest::newRow("1e15") << Variant(1e15) << QStringLiteral("1E+15");
        QTest::newRow("1e-5") << Variant(1e-5) << QStringLiteral("1E-05");
        QTest::newRow("-2.5") << Variant(-2.5) << QStringLiteral("-2.5");
        QTest::newRow("single 1.1") << Variant(1.1f) << QStringLiteral("1.1");
        QTest::newRow("single 0.1") << Variant(0.1f) << QStringLiteral("0.1");
        QTest::newRow("single 1234567") << Variant(1234567.0f) << QStringLiteral("1234567");
        QTest::newRow("single 2^24") << Variant(16777216.0f) << QStringLiteral("1.677722E+07");
    }

    void numbersToTextAndBack() {
        QFETCH(Variant, value);
        QFETCH(QString, text);
        QCOMPARE(value.toString(), text);
        if (value.type() == VarType::Bool) {
            QCOMPARE(Variant(text).toBool(), value.toBool());
            return;
        }
        double back = 0;
        QCOMPARE(errorOf([&] { back = Variant(text).toDouble(); }), QString());
        const double want = value.toDouble();
        const int digits = value.type() == VarType::R4 ? 7 : 15;
        QVERIFY2(back == want ||
                     std::abs(back - want) <= std::abs(want) * 0.5 * std::pow(10.0, 1 - digits),
                 qPrintable(QStringLiteral("%1 read back as %2").arg(want).arg(back)));
    }

    void textToNumbers() {
        QCOMPARE(Variant(" 2.5 ").toDouble(), 2.5);
        QCOMPARE(Variant("-1E-3").toDouble(), -0.001);
        QCOMPARE(Variant("42").toInt(), 42);
        QCOMPARE(Variant(QString::fromUtf8("naïve")).toString(), QString::fromUtf8("naïve"));
    }

    // Member names reach the server exactly as written (the server compares
    // them without regard to case); omitted arguments keep their places and
    // named ones their names and widths.
    void callsReachTheServerByName() {
        auto server = std::make_shared<RecordingServer>();
        const Object obj(server);

        obj.set(QStringLiteral("TEXT"), Variant("[Name]"));
        QCOMPARE(obj.get(QStringLiteral("text")).toString(), QStringLiteral("[Name]"));
        QList<Variant> eleven{Variant("[Name]")};
        for (int i = 0; i < 8; ++i)
            eleven << Variant::missing();
        eleven << Variant("Ada") << Variant(int16_t(2));
        obj.call(QStringLiteral("Execute"), eleven);
        obj.call(QStringLiteral("execute"), {},
                 {NamedArg{QStringLiteral("Replace"), Variant(int16_t(2))}});

        QCOMPARE(server->calls.size(), 4);
        QCOMPARE(server->calls[0].name, QStringLiteral("TEXT"));
        QCOMPARE(server->calls[0].kind, CallKind::Put);
        QCOMPARE(server->calls[0].args, QList<Variant>{Variant("[Name]")});
        QCOMPARE(server->calls[1].name, QStringLiteral("text"));
        QCOMPARE(server->calls[1].kind, CallKind::Get);
        QVERIFY(server->calls[1].args.isEmpty());
        QCOMPARE(server->calls[2].kind, CallKind::Method);
        QCOMPARE(server->calls[2].args, eleven);
        QVERIFY(server->calls[2].args[1].isMissing() && server->calls[2].args[8].isMissing());
        QCOMPARE(server->calls[2].args[10].type(), VarType::I2);
        QCOMPARE(server->calls[3].name, QStringLiteral("execute"));
        QVERIFY(server->calls[3].args.isEmpty());
        QCOMPARE(server->calls[3].named.size(), 1);
        QCOMPARE(server->calls[3].named[0].name, QStringLiteral("Replace"));
        QCOMPARE(server->calls[3].named[0].value, Variant(int16_t(2)));

        QVERIFY(automation::sameName(QStringLiteral("savechanges"), "SaveChanges"));
        QVERIFY(automation::sameName(QStringLiteral("QUIT"), "quit"));
        QVERIFY(!automation::sameName(QStringLiteral("TextRange"), "Text"));
        QVERIFY(!automation::sameName(QStringLiteral("Tex"), "Text"));
    }

    void unknownMembersAndEmptyReferencesFail() {
        auto server = std::make_shared<RecordingServer>();
        const Object obj(server);
        QCOMPARE(errorOf([&] { obj.call(QStringLiteral("Frobnicate")); }),
                 QStringLiteral("object doesn't support this property or method: Frobnicate"));
        // A non-collection cannot be walked; a non-object result cannot be entered.
        QCOMPARE(errorOf([&] { obj.items(); }),
                 QStringLiteral("Object doesn't support this property or method"));
        QCOMPARE(errorOf([&] { obj[QStringLiteral("Text")]; }), QStringLiteral("Object required"));
        // A Nothing child fails its first call, not before.
        const Object nothing = obj[QStringLiteral("Child")];
        QVERIFY(nothing.isNothing());
        const QString notSet = QStringLiteral("Object variable or With block variable not set");
        QCOMPARE(errorOf([&] { nothing.get(QStringLiteral("Text")); }), notSet);
        QCOMPARE(errorOf([&] { nothing.set(QStringLiteral("Text"), Variant(1)); }), notSet);
        QCOMPARE(errorOf([&] { nothing.call(QStringLiteral("quit")); }), notSet);
        QCOMPARE(errorOf([&] { nothing.items(); }), notSet);
    }

    // References are counted: a server lives while any Object or Variant holds
    // it, and goes when the last one is released.
    void referencesAreCounted() {
        auto list = std::make_shared<Collection>();
        auto member = std::make_shared<RecordingServer>();
        list->members = {Variant(Object(member)), Variant("plain")};
        std::weak_ptr<automation::Dispatch> watch = member;
        member.reset();
        {
            Object coll(list);
            list.reset();
            const QList<Variant> items = coll.items();
            QCOMPARE(items.size(), 2);
            Object first = items[0].toObject();
            QCOMPARE(first.get(QStringLiteral("Text")).toString(), QStringLiteral("initial"));
            coll.release();
            QVERIFY(coll.isNothing());
            QVERIFY(!watch.expired()); // still held by `first` and `items`
        }
        QVERIFY(watch.expired());
    }

    void objectsAreCreatedByProgIdWithoutRegardToCase() {
        int made = 0;
        automation::registerServer(QStringLiteral("Test.Server"), [&] {
            ++made;
            return std::make_shared<RecordingServer>();
        });
        const Object a = automation::createObject(QStringLiteral("TEST.SERVER"));
        const Object b = automation::createObject(QStringLiteral("test.server"));
        QCOMPARE(made, 2);
        QVERIFY(a.dispatch() != b.dispatch()); // every creation is a new instance

        automation::registerServer(QStringLiteral("test.SERVER"), {});
        const QString cannot = QStringLiteral("ActiveX component can't create object");
        QCOMPARE(errorOf([] { automation::createObject(QStringLiteral("Test.Server")); }), cannot);
        QCOMPARE(errorOf([] { automation::createObject(QStringLiteral("No.Such")); }), cannot);

        automation::registerServer(QStringLiteral("Test.Server"), [] { return nullptr; });
        QCOMPARE(errorOf([] { automation::createObject(QStringLiteral("Test.Server")); }), cannot);
    }

    // Without a registered stand-in, "Word.Application" comes from the office
    // plugin; a missing or broken plugin is only "can't create", every time.
    void aMissingOrBrokenOfficePluginCannotCreate() {
        const QString missing = testsupport::sandboxRoot() + QStringLiteral("/nowhere/plugin.so");
        automation::setOfficePluginPath(missing);
        QCOMPARE(automation::officePluginPath(), missing);
        QCOMPARE(
            errorOf([] { automation::createObject(QStringLiteral("word.application")); }),
            QStringLiteral("ActiveX component can't create object: %1 not found").arg(missing));

        const QString broken = testsupport::writeFile(
            testsupport::sandboxRoot() + QStringLiteral("/broken/libveltrane_office.so"),
            "not a library");
        automation::setOfficePluginPath(broken);
        for (int i = 0; i < 2; ++i) {
            const QString why =
                errorOf([] { automation::createObject(QStringLiteral("Word.Application")); });
            QVERIFY2(why.startsWith(QStringLiteral("ActiveX component can't create object: ")),
                     qPrintable(why));
        }

        automation::setOfficePluginPath(QString());
        QVERIFY(automation::officePluginPath().endsWith(QStringLiteral("/libveltrane_office.so")));
    }

    // The description travels as the report shows it, in any language.
    void errorTextsKeepEveryCharacter() {
        const QString text = QString::fromUtf8("Datei nicht gefunden: /tmp/Ünïcødé €/名前.doc");
        QCOMPARE(Error(text).description(), text);
        QCOMPARE(errorOf([&] { automation::throwNoMember(text); }),
                 QStringLiteral("object doesn't support this property or method: ") + text);
    }
};

VELTRANE_TEST_MAIN(AutomationTest)
#include "test_automation.moc"

// Times one generation, from the click to the preview painted, and the start-up
// to the main window shown, against a yardstick measured in the same run: a
// bare `soffice.bin --convert-to doc` of the template with a seeded profile.
//
// Usage: bench_generation [runs]   (default 5)

#include "app/files.h"
#include "app/form1.h"
#include "app/shell.h"
#include "bench_setup.h"
#include "generate/template.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"
#include "preview/form2.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

// Where a generation's time goes: every call into the word processor, timed
// by member name, through a thin proxy around the real plugin.
QMap<QString, double> gMemberMs;

class TimingProxy : public automation::Dispatch {
  public:
    explicit TimingProxy(std::shared_ptr<automation::Dispatch> inner) : mInner(std::move(inner)) {}
    automation::Variant invoke(const QString& name, automation::CallKind kind,
                               const QList<automation::Variant>& args,
                               const QList<automation::NamedArg>& named) override {
        QElapsedTimer t;
        t.start();
        automation::Variant v = mInner->invoke(name, kind, args, named);
        gMemberMs[name] += static_cast<double>(t.nsecsElapsed()) / 1e6;
        return wrap(v);
    }
    QList<automation::Variant> enumerate() override {
        QList<automation::Variant> out;
        for (const auto& v : mInner->enumerate())
            out << wrap(v);
        return out;
    }

  private:
    static automation::Variant wrap(const automation::Variant& v) {
        if (v.type() != automation::VarType::Object || v.toObject().isNothing())
            return v;
        return automation::Variant(
            automation::Object(std::make_shared<TimingProxy>(v.toObject().dispatch())));
    }
    std::shared_ptr<automation::Dispatch> mInner;
};

void installTimingProxy(const QString& plugin) {
    using CreateFn = void (*)(std::shared_ptr<automation::Dispatch>*);
    auto* lib = new QLibrary(plugin);
    auto create = reinterpret_cast<CreateFn>(lib->resolve("veltrane_create_word_application"));
    if (!create)
        return;
    automation::registerServer(QStringLiteral("Word.Application"), [create] {
        QElapsedTimer t;
        t.start();
        std::shared_ptr<automation::Dispatch> app;
        create(&app);
        gMemberMs[QStringLiteral("(create)")] += static_cast<double>(t.nsecsElapsed()) / 1e6;
        return std::make_shared<TimingProxy>(app);
    });
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString officeVersion() {
    QFile f(QStringLiteral("/usr/lib/libreoffice/program/bootstraprc"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString s = QString::fromUtf8(f.readAll());
    const auto m = QRegularExpression(QStringLiteral("ProductKey=.*?(\\d+\\.\\d+)")).match(s);
    return m.hasMatch() ? m.captured(1) : QString();
}

// A profile seeded the way the program seeds its own, so the yardstick does
// not pay for the first-start graphics test either.
void seed(const QString& profile) {
    QDir().mkpath(profile + QStringLiteral("/user"));
    QFile f(profile + QStringLiteral("/user/registrymodifications.xcu"));
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items "
                "xmlns:oor=\"http://openoffice.org/2001/registry\" "
                "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<item "
                "oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
                "oor:op=\"fuse\"><value>%1</value></prop></item>\n</oor:items>\n")
                .arg(officeVersion())
                .toUtf8());
}

double yardstick(const QString& dot, const QString& profile, const QString& out) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(
        QStringLiteral("/usr/lib/libreoffice/program/soffice.bin"),
        {QStringLiteral("--headless"), QStringLiteral("--invisible"), QStringLiteral("--nologo"),
         QStringLiteral("--norestore"), QStringLiteral("--nolockcheck"),
         QStringLiteral("-env:UserInstallation=file://") + profile, QStringLiteral("--convert-to"),
         QStringLiteral("doc"), QStringLiteral("--outdir"), out, dot});
    p.waitForFinished(120000);
    return static_cast<double>(t.elapsed());
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir sandbox;
    prepareBenchEnvironment(sandbox);
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    answerBenchBoxes();

    const QString dot = sandbox.path() + QStringLiteral("/template.dot");
    {
        QFile f(dot);
        f.open(QIODevice::WriteOnly);
        f.write(generate::LoadResData(101, QStringLiteral("CUSTOM")));
    }
    const QString profile = sandbox.path() + QStringLiteral("/yardstick-profile");
    seed(profile);
    yardstick(dot, profile, sandbox.path() + QStringLiteral("/out")); // first start of the profile

    QList<double> yard, startUp, generation;
    Form1* form = nullptr;
    for (int i = 0; i < runs; ++i) {
        yard << yardstick(dot, profile, sandbox.path() + QStringLiteral("/out"));

        QElapsedTimer t;
        t.start();
        Form1* f = Form1::create();
        if (app::programEnded()) {
            std::fprintf(stderr, "no word processor: cannot measure\n");
            return 1;
        }
        f->show();
        QCoreApplication::processEvents();
        startUp << static_cast<double>(t.elapsed());
        if (form)
            delete f;
        else
            form = f;
    }

    form->PushButton4->click();
#ifdef VELTRANE_OFFICE_PLUGIN
    installTimingProxy(QStringLiteral(VELTRANE_OFFICE_PLUGIN));
#endif
    for (int i = 0; i < runs; ++i) {
        form->show();
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        form->PushButton6->click();
        QCoreApplication::processEvents(); // the preview's set-up and first paint
        Form2::loaded()->repaint();
        generation << static_cast<double>(t.elapsed());
        app::DeleteFileQuietly(Form2::loaded()->mWordFile);
    }

    const double y = median(yard);
    std::printf("runs: %d\n", runs);
    std::printf("yardstick (soffice --convert-to doc, seeded): median %.0f ms\n", y);
    std::printf(
        "start-up to main window shown:               median %.0f ms  ratio %.2f (target <= 1.2)\n",
        median(startUp), median(startUp) / y);
    std::printf(
        "generation, click to preview painted:        median %.0f ms  ratio %.2f (target <= 2.0)\n",
        median(generation), median(generation) / y);
    std::printf("time per generation in word-processor calls, by member:\n");
    for (auto it = gMemberMs.constBegin(); it != gMemberMs.constEnd(); ++it)
        if (it.value() / runs >= 1.0)
            std::printf("  %-20s %7.0f ms\n", qPrintable(it.key()), it.value() / runs);
    return 0;
}

// Printing and saving as PDF from the preview, with the real office: through
// the picture's context menu and the window's shortcuts, dialogs answered by
// the test seams, and the PDFs read back with poppler-utils. Printing goes to
// a CUPS of the test's own whose printer writes what it prints to a file.

#include "app/mainwindow.h"
#include "common/files.h"
#include "common/shell.h"
#include "export/printing.h"
#include "platform/automation/automation.h"
#include "preview/previewwindow.h"
#include "tests/support/childprocess.h"
#include "tests/support/doctools.h"
#include "tests/support/pdftools.h"
#include "tests/support/testenv.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QPointer>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cups/cups.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using testsupport::MsgBoxRecorder;
using testsupport::PrintDialogRecorder;
using testsupport::SaveDialogRecorder;

struct PreviewWindowProbe {
    static float zoom(const PreviewWindow* f) { return f->mZoom; }
};

namespace {

// A printer driver description for a queue that takes PDF and hands on PDF:
// CUPS itself applies page ranges and copies, and the file device keeps the
// result where the test can read it.
const char* const kPdfQueuePpd = R"ppd(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VTEST.PPD"
*Manufacturer: "Veltrane"
*Product: "(Test PDF)"
*ModelName: "Veltrane Test PDF"
*ShortNickName: "Veltrane Test PDF"
*NickName: "Veltrane Test PDF"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsManualCopies: True
*cupsFilter2: "application/vnd.cups-pdf application/pdf 0 -"
*OpenUI *Duplex/2-Sided Printing: PickOne
*OrderDependency: 10 AnySetup *Duplex
*DefaultDuplex: None
*Duplex None/Off: "<</Duplex false>>setpagedevice"
*Duplex DuplexNoTumble/Long Edge: "<</Duplex true/Tumble false>>setpagedevice"
*Duplex DuplexTumble/Short Edge: "<</Duplex true/Tumble true>>setpagedevice"
*CloseUI: *Duplex
*OpenUI *PageSize/Page Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: Letter
*PageSize Letter/Letter: "<</PageSize[612 792]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: Letter
*PageRegion Letter/Letter: "<</PageSize[612 792]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: Letter
*ImageableArea Letter/Letter: "0 0 612 792"
*DefaultPaperDimension: Letter
*PaperDimension Letter/Letter: "612 792"
)ppd";

// A cupsd on a private socket with a private configuration; nothing of the
// machine's own printing system is touched.
class PrivateCups {
  public:
    ~PrivateCups() {
        if (mCupsd.running()) {
            mCupsd.terminate();
            if (!mCupsd.waitForFinished(10000))
                mCupsd.kill();
            mCupsd.waitForFinished(5000);
        }
    }

    // Empty when running, else why it cannot run here.
    QString start() {
        if (::geteuid() != 0)
            return QStringLiteral("a private cupsd needs root here");
        for (const char* needed : {"/usr/sbin/cupsd", "/usr/lib/cups/filter/pdftopdf"})
            if (!QFile::exists(QLatin1String(needed)))
                return QStringLiteral("%1 is missing (Debian: cups, cups-filters)")
                    .arg(QLatin1String(needed));
        if (!mDir.isValid())
            return mDir.errorString();
        // The filters run as lp and must reach the spool and temporary folders.
        QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadGroup | QFile::ExeGroup |
                                               QFile::ReadOther | QFile::ExeOther);
        for (const char* d : {"spool", "cache", "state", "tmp", "log", "out"})
            QDir(mDir.path()).mkpath(QLatin1String(d));
        ::chmod(QFile::encodeName(path("tmp")).constData(), 01777);
        testsupport::writeFile(path("cupsd.conf"), QStringLiteral("Listen %1\n"
                                                                  "Browsing No\n"
                                                                  "WebInterface No\n"
                                                                  "LogLevel info\n"
                                                                  "DefaultAuthType None\n"
                                                                  "<Location />\n"
                                                                  "  Order allow,deny\n"
                                                                  "  Allow all\n"
                                                                  "</Location>\n")
                                                       .arg(socket())
                                                       .toUtf8());
        testsupport::writeFile(path("cups-files.conf"),
                               QStringLiteral("ServerRoot %1\n"
                                              "RequestRoot %1/spool\n"
                                              "CacheDir %1/cache\n"
                                              "StateDir %1/state\n"
                                              "TempDir %1/tmp\n"
                                              "AccessLog %1/log/access_log\n"
                                              "ErrorLog %1/log/error_log\n"
                                              "PageLog %1/log/page_log\n"
                                              "Printcap %1/printcap\n"
                                              "FileDevice Yes\n")
                                   .arg(mDir.path())
                                   .toUtf8());
        testsupport::writeFile(path("vtest.ppd"), kPdfQueuePpd);
        mCupsd.setMergedChannels(true);
        // A test that is killed takes its cupsd with it.
        mCupsd.setParentDeathSignal(SIGTERM);
        mCupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                     {QStringLiteral("-f"), QStringLiteral("-c"), path("cupsd.conf"),
                      QStringLiteral("-s"), path("cups-files.conf")});
        for (int i = 0; i < 200 && !QFile::exists(socket()); ++i) {
            if (!mCupsd.running())
                return QStringLiteral("cupsd ended: ") + QString::fromLocal8Bit(mCupsd.readAll());
            QTest::qWait(50);
        }
        if (!QFile::exists(socket()))
            return QStringLiteral("cupsd made no socket");
        qputenv("CUPS_SERVER", QFile::encodeName(socket()));
        cupsSetServer(nullptr); // read again from the environment
        return QString();
    }

    QString path(const char* name) const { return mDir.filePath(QLatin1String(name)); }
    QString socket() const { return path("cups.sock"); }
    QString printed() const { return path("out/printed.pdf"); }
    QString errorLog() const {
        return QString::fromLocal8Bit(testsupport::readFile(path("log/error_log")));
    }

    // Runs a CUPS command-line tool against this cupsd.
    bool tool(const QString& program, const QStringList& args) const {
        testsupport::ChildProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CUPS_SERVER"), socket());
        p.setEnvironment(env);
        p.setMergedChannels(true);
        const bool ok = p.start(program, args) && p.waitForFinished(30000) && p.exitCode() == 0;
        if (!ok)
            qWarning() << program << args << QString::fromLocal8Bit(p.readAll());
        return ok;
    }

    bool addPrinter() const {
        return tool(QStringLiteral("lpadmin"),
                    {QStringLiteral("-p"), QStringLiteral("vtest"), QStringLiteral("-E"),
                     QStringLiteral("-v"), QStringLiteral("file://") + printed(),
                     QStringLiteral("-P"), path("vtest.ppd")});
    }

    // A queue on one paper that prints to its edges, as the PDF printer and
    // many photo and driverless printers do, writing what it prints to
    // out/NAME.pdf.
    bool addPrinterOn(const QString& name, const QString& paper, const QSize& points) const {
        QString ppd = QString::fromLatin1(kPdfQueuePpd);
        ppd.replace(QStringLiteral("Letter/Letter"), paper + QLatin1Char('/') + paper)
            .replace(QStringLiteral(": Letter"), QStringLiteral(": ") + paper)
            .replace(QStringLiteral("612 792"),
                     QStringLiteral("%1 %2").arg(points.width()).arg(points.height()));
        const QString ppdFile = path("vtest.ppd") + QLatin1Char('.') + name;
        testsupport::writeFile(ppdFile, ppd.toLatin1());
        return tool(QStringLiteral("lpadmin"),
                    {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                     QStringLiteral("file://") + output(name), QStringLiteral("-P"), ppdFile});
    }
    QString output(const QString& queue) const {
        return path("out") + QLatin1Char('/') + queue + QStringLiteral(".pdf");
    }

    // Waits until the queues have finished every job.
    bool jobsDone() const {
        for (int i = 0; i < 600; ++i) {
            cups_job_t* jobs = nullptr;
            const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
            cupsFreeJobs(n, jobs);
            if (n == 0)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

  private:
    QTemporaryDir mDir{QStringLiteral("/tmp/veltrane-cups-XXXXXX")};
    testsupport::ChildProcess mCupsd;
};

ui::PrintChoice printTo(const QString& printer, int copies, const QString& ranges = QString()) {
    ui::PrintChoice c;
    c.accepted = true;
    c.printer = printer;
    c.copies = copies;
    c.pageRanges = ranges;
    return c;
}

} // namespace

class PrintPdfTest : public QObject {
    Q_OBJECT
    QPointer<MainWindow> form;
    PreviewWindow* preview = nullptr;
    PrivateCups cups;
    QString cupsMissing; // why printing cannot be tried here
    QString saved;       // where the user saves
    QStringList sampleValues;

    // Generates with the current fields and waits for the preview.
    bool generate() {
        MsgBoxRecorder boxes;
        form->show();
        form->createButton->click();
        if (!boxes.seen.isEmpty())
            qWarning() << boxes.prompts();
        preview = PreviewWindow::loaded();
        return boxes.seen.isEmpty() && preview && preview->isVisible() &&
               QFile::exists(preview->mWordFile);
    }

    // A command of the picture's menu, as the window names it.
    QAction* command(const char* name) const {
        QAction* a = preview->findChild<QAction*>(QLatin1String(name));
        if (!a)
            qFatal("no command %s", name);
        return a;
    }

    void press(const QKeySequence& keys) {
        preview->activateWindow();
        QApplication::setActiveWindow(preview);
        QTest::keySequence(preview, keys);
    }

    // A right click on the picture, moved by `moveBy` while the button is
    // held; act runs on the context menu if one opens. Says whether one did.
    bool rightClick(const QPoint& moveBy, const std::function<void(QMenu*)>& act = {}) {
        bool seen = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                seen = true;
                if (act)
                    act(menu);
                menu->close();
            }
        });
        poll.start(5);
        const QPoint at(300, 300);
        QTest::mousePress(preview->viewer, Qt::RightButton, {}, at);
        if (!moveBy.isNull())
            QTest::mouseMove(preview->viewer, at + moveBy);
        QTest::mouseRelease(preview->viewer, Qt::RightButton, {}, at + moveBy);
        QTest::qWait(100);
        return seen;
    }

    // The picture's context menu as a still right click opens it.
    void withContextMenu(const std::function<void(QMenu*)>& act) { QVERIFY(rightClick({}, act)); }

  private slots:
    void initTestCase() {
        automation::setOfficePluginPath(QStringLiteral(VELTRANE_OFFICE_PLUGIN));
        common::setAppPathForTests(testsupport::sandboxRoot());
        cupsMissing = cups.start();
        if (!cupsMissing.isEmpty())
            qWarning("printing is not tried: %s", qPrintable(cupsMissing));
        MsgBoxRecorder boxes;
        form = MainWindow::create();
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.prompts().join('\n')));
        form->sampleButton->click(); // the sample data
        for (const ui::TextBox* field : form->fields())
            sampleValues << field->Text();
        QVERIFY(generate());
        saved = testsupport::sandboxRoot() + QStringLiteral("/saved");
        QVERIFY(QDir().mkpath(saved));
    }

    void contextMenuOffersTheCommandsWithTheirShortcuts() {
        QStringList entries;
        withContextMenu([&](QMenu* menu) {
            for (QAction* a : menu->actions())
                entries << (a->isSeparator()
                                ? QStringLiteral("-")
                                : a->text() + QLatin1Char('\t') +
                                      a->shortcut().toString(QKeySequence::PortableText));
        });
        QCOMPARE(entries, (QStringList{"Print...\tCtrl+P", "Save as PDF...\tCtrl+Shift+S", "-",
                                       "Save Results To Word File\tCtrl+S", "Zoom In\tCtrl++",
                                       "Zoom Out\tCtrl+-"}));
    }

    // Every held button pans the picture, the right one too: the menu is for
    // a right click that moved nothing.
    void aRightDragPansAndOpensNoMenu() {
        MsgBoxRecorder boxes;
        const float left = preview->viewer->Left(), top = preview->viewer->Top();
        QVERIFY(!rightClick(QPoint(-40, -30)));
        QVERIFY(preview->viewer->Left() != left || preview->viewer->Top() != top);
        QVERIFY(boxes.seen.isEmpty());
        QVERIFY(rightClick({}));
    }

    // The menu and the shortcuts do what the buttons do.
    void buttonsCommandsFromTheMenuAndTheKeys() {
        MsgBoxRecorder boxes;
        QCOMPARE(PreviewWindowProbe::zoom(preview), 1.0f);
        withContextMenu([](QMenu* menu) {
            for (QAction* a : menu->actions())
                if (a->text() == QLatin1String("Zoom Out"))
                    a->trigger();
        });
        QCOMPARE(PreviewWindowProbe::zoom(preview), 0.75f);
        press(QKeySequence::ZoomOut);
        QCOMPARE(PreviewWindowProbe::zoom(preview), 0.5f);
        press(QKeySequence::ZoomIn);
        QCOMPARE(PreviewWindowProbe::zoom(preview), 0.75f);
        command("mnuZoomIn")->trigger();
        QCOMPARE(PreviewWindowProbe::zoom(preview), 1.0f);

        const QString word = saved + QStringLiteral("/notice.doc");
        SaveDialogRecorder dialog(word);
        press(QKeySequence::Save);
        QCOMPARE(dialog.seen.size(), 1);
        QCOMPARE(dialog.seen[0].title, QStringLiteral("Save File"));
        QCOMPARE(testsupport::readFile(word), testsupport::readFile(preview->mWordFile));
        QCOMPARE(boxes.prompts(), QStringList{"Done."});
    }

    void savesAnArchivalPdfOfTheWholeDocument() {
        MsgBoxRecorder boxes;
        const QString pdf = saved + QString::fromUtf8("/Notice ü.pdf");
        SaveDialogRecorder dialog(pdf);
        press(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
        QCOMPARE(dialog.seen.size(), 1);
        QCOMPARE(dialog.seen[0].title, QStringLiteral("Save as PDF"));
        QCOMPARE(dialog.seen[0].filterDescription, QStringLiteral("PDF Files (*.pdf)"));
        QCOMPARE(dialog.seen[0].filterPattern, QStringLiteral("*.pdf"));
        QCOMPARE(dialog.seen[0].initialName, QString());
        QCOMPARE(dialog.seen[0].defaultSuffix, QStringLiteral("pdf"));
        QCOMPARE(boxes.prompts(), QStringList{"Done."});

        QCOMPARE(testsupport::pdfaClaim(pdf), QStringLiteral("2B"));
        QCOMPARE(testsupport::pdfFontsNotEmbedded(pdf), QStringList());
        QVERIFY(testsupport::pdfPageCount(pdf) >= 1);
        const QString text = testsupport::pdfText(pdf);
        for (const QString& value : sampleValues)
            QVERIFY2(text.contains(value.simplified()), qPrintable(value + " not in: " + text));
        // Nothing of the export is left in the temporary folder.
        QCOMPARE(QDir(common::tempFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(preview->mWordFile).fileName()});
    }

    // Same rules as saving the Word file: asked before replacing, and an old
    // file survives every failure.
    void anExistingFileIsAskedAboutAndNeverLost() {
        const QString pdf = saved + QStringLiteral("/kept.pdf");
        const QByteArray old("an older file the user keeps");
        testsupport::writeFile(pdf, old);
        SaveDialogRecorder dialog(pdf);
        {
            MsgBoxRecorder no(ui::vbNo);
            command("mnuSaveAsPdf")->trigger();
            QCOMPARE(no.prompts(), QStringList{"Are you sure you wish to overwrite " + pdf + " ?"});
            QCOMPARE(testsupport::readFile(pdf), old);
        }
        {
            // The filled document gone behind the program's back: the export fails.
            MsgBoxRecorder yes(ui::vbYes);
            const QString doc = preview->mWordFile;
            const QString aside = doc + QStringLiteral(".aside");
            QVERIFY(QFile::rename(doc, aside));
            command("mnuSaveAsPdf")->trigger();
            QVERIFY(QFile::rename(aside, doc));
            QCOMPARE(yes.seen.size(), 2);
            QCOMPARE(yes.seen[1].title, QStringLiteral("Application Error"));
            QVERIFY2(yes.seen[1].prompt.contains("Form2.mnuSaveAsPdf_Click at line 116"),
                     qPrintable(yes.seen[1].prompt));
            QCOMPARE(testsupport::readFile(pdf), old);
        }
        {
            MsgBoxRecorder yes(ui::vbYes);
            command("mnuSaveAsPdf")->trigger();
            QCOMPARE(yes.prompts(),
                     (QStringList{"Are you sure you wish to overwrite " + pdf + " ?", "Done."}));
            QCOMPARE(testsupport::pdfaClaim(pdf), QStringLiteral("2B"));
        }
        {
            MsgBoxRecorder none;
            SaveDialogRecorder cancel{QString()};
            command("mnuSaveAsPdf")->trigger();
            QCOMPARE(cancel.seen.size(), 1);
            QCOMPARE(none.prompts(), QStringList());
        }
    }

    // A link that points nowhere is asked about as the Word save asks; Yes
    // makes the file it names and the link stays.
    void aLinkThatPointsNowhereIsAskedAbout() {
        const QString link = saved + QStringLiteral("/linked.pdf");
        const QString named = saved + QStringLiteral("/named.pdf");
        QVERIFY(QFile::link(named, link));
        const QString question = "Are you sure you wish to overwrite " + link + " ?";
        SaveDialogRecorder dialog(link);
        {
            MsgBoxRecorder no(ui::vbNo);
            command("mnuSaveAsPdf")->trigger();
            QCOMPARE(no.prompts(), QStringList{question});
            QVERIFY(!QFileInfo::exists(named));
        }
        MsgBoxRecorder yes(ui::vbYes);
        command("mnuSaveAsPdf")->trigger();
        QCOMPARE(yes.prompts(), (QStringList{question, "Done."}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), named);
        QCOMPARE(testsupport::pdfaClaim(named), QStringLiteral("2B"));
    }

    void printErrorsSaySoAndNeverAskForNothing() {
        if (!cupsMissing.isEmpty())
            QSKIP(qPrintable(cupsMissing));
        PrintDialogRecorder dialog(printTo(QStringLiteral("vtest"), 1));
        {
            // No queue set up yet.
            MsgBoxRecorder boxes;
            press(QKeySequence::Print);
            QCOMPARE(boxes.seen.size(), 1);
            QVERIFY2(boxes.seen[0].prompt.startsWith("No printer is set up"),
                     qPrintable(boxes.seen[0].prompt));
            QCOMPARE(dialog.seen.size(), 0);
        }
        QVERIFY(cups.addPrinter());
        {
            // The printing system not there at all: said plainly, with the
            // program's title, not as an error report; the real reason is
            // what libcups found, not whatever errno held afterwards.
            MsgBoxRecorder boxes;
            cupsSetServer(QFile::encodeName(cups.path("no-such.sock")).constData());
            command("mnuPrint")->trigger();
            QString reason, cupsSays;
            try {
                exporting::listPrinters();
            } catch (const exporting::PrintingUnreachable& e) {
                reason = e.description();
                cupsSays = QString::fromUtf8(cupsLastErrorString());
            }
            cupsSetServer(nullptr);
            QCOMPARE(boxes.seen.size(), 1);
            QCOMPARE(boxes.seen[0].title, QStringLiteral("Veltrane"));
            QVERIFY2(boxes.seen[0].prompt.startsWith("The printing system (CUPS) is not running or "
                                                     "cannot be reached, so nothing can be printed "
                                                     "now."),
                     qPrintable(boxes.seen[0].prompt));
            QVERIFY2(!boxes.seen[0].prompt.contains("line") &&
                         !boxes.seen[0].prompt.contains("support"),
                     qPrintable(boxes.seen[0].prompt));
            QVERIFY2(!cupsSays.isEmpty() && reason.endsWith(QStringLiteral(": ") + cupsSays),
                     qPrintable(reason));
            for (const int notTheReason : {0, EBADF})
                QVERIFY2(!reason.endsWith(QString::fromLocal8Bit(std::strerror(notTheReason))),
                         qPrintable(reason));
            QCOMPARE(dialog.seen.size(), 0);
        }
        {
            // A printing system that takes the connection and never answers:
            // the window waits a bounded time, then says so.
            const QByteArray silent = QFile::encodeName(cups.path("silent.sock"));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, silent.constData(), sizeof(addr.sun_path) - 1);
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0);
            QVERIFY(::listen(fd, 4) == 0);
            MsgBoxRecorder boxes;
            cupsSetServer(silent.constData());
            command("mnuPrint")->trigger();
            cupsSetServer(nullptr);
            ::close(fd);
            QCOMPARE(boxes.seen.size(), 1);
            QCOMPARE(boxes.seen[0].title, QStringLiteral("Veltrane"));
            QVERIFY2(boxes.seen[0].prompt.startsWith("The printing system (CUPS) is not running"),
                     qPrintable(boxes.seen[0].prompt));
            QCOMPARE(dialog.seen.size(), 0);
        }
        {
            // A printer that takes no jobs.
            MsgBoxRecorder boxes;
            QVERIFY(cups.tool(QStringLiteral("cupsreject"), {QStringLiteral("vtest")}));
            command("mnuPrint")->trigger();
            QVERIFY(cups.tool(QStringLiteral("cupsaccept"), {QStringLiteral("vtest")}));
            QCOMPARE(dialog.seen.size(), 1);
            QCOMPARE(boxes.seen.size(), 1);
            QVERIFY2(boxes.seen[0].prompt.contains("The printer vtest did not take the document"),
                     qPrintable(boxes.seen[0].prompt));
        }
        {
            MsgBoxRecorder boxes;
            dialog.choice.accepted = false;
            command("mnuPrint")->trigger();
            QCOMPARE(dialog.seen.size(), 2);
            QCOMPARE(boxes.prompts(), QStringList());
            QVERIFY(cups.jobsDone());
            QVERIFY(!QFile::exists(cups.printed()));
        }
    }

    // The real dialog, filled in as a user would; what it gives back is what
    // goes to the printer.
    void theSystemDialogGivesTheChoices() {
        if (!cupsMissing.isEmpty())
            QSKIP(qPrintable(cupsMissing));
        QVERIFY(cups.addPrinter());
        QStringList offered;
        QTimer::singleShot(0, this, [&] {
            QWidget* dlg = QApplication::activeModalWidget();
            QVERIFY(dlg);
            auto* printers = dlg->findChild<QComboBox*>(QStringLiteral("printers"));
            QVERIFY(printers);
            for (int i = 0; i < printers->count(); ++i)
                offered << printers->itemText(i);
            printers->setCurrentText(QStringLiteral("vtest"));
            dlg->findChild<QSpinBox*>(QStringLiteral("copies"))->setValue(3);
            dlg->findChild<QCheckBox*>(QStringLiteral("collate"))->setChecked(false);
            dlg->findChild<QRadioButton*>(QStringLiteral("printRange"))->setChecked(true);
            dlg->findChild<QSpinBox*>(QStringLiteral("to"))->setValue(3);
            dlg->findChild<QSpinBox*>(QStringLiteral("from"))->setValue(2);
            dlg->findChild<QRadioButton*>(QStringLiteral("duplexLong"))->setChecked(true);
            QMetaObject::invokeMethod(dlg, "accept");
        });
        const ui::PrintChoice c = ui::ShowPrintDialog(
            preview,
            ui::PrintDialogRequest{
                QStringLiteral("Print"), {QStringLiteral("vtest")}, QStringLiteral("vtest"), 4});
        // Printing to a file is saving as PDF's business.
        QCOMPARE(offered, QStringList{"vtest"});
        QVERIFY(c.accepted);
        QCOMPARE(c.printer, QStringLiteral("vtest"));
        QCOMPARE(c.copies, 3);
        QVERIFY(!c.collate);
        QCOMPARE(c.pageRanges, QStringLiteral("2-3"));
        QVERIFY(c.sides == ui::PrintChoice::Sides::LongEdge);

        QTimer::singleShot(0, this, [] {
            QVERIFY(QApplication::activeModalWidget());
            QMetaObject::invokeMethod(QApplication::activeModalWidget(), "reject");
        });
        QVERIFY(!ui::ShowPrintDialog(preview, {}).accepted);
    }

    // Prints the notice shown to the queue; the PDF the queue wrote.
    QString printOn(const QString& queue) {
        QFile::remove(cups.output(queue));
        MsgBoxRecorder boxes;
        PrintDialogRecorder dialog(printTo(queue, 1));
        command("mnuPrint")->trigger();
        if (!boxes.seen.isEmpty() || !cups.jobsDone())
            qWarning() << boxes.prompts() << cups.errorLog().right(2000);
        return cups.output(queue);
    }

    // The notice's own page as Save as PDF makes it.
    QString savedAsPdf(const QString& name) {
        const QString pdf = saved + QLatin1Char('/') + name;
        MsgBoxRecorder boxes;
        SaveDialogRecorder to(pdf);
        command("mnuSaveAsPdf")->trigger();
        return pdf;
    }

    // The ink of what was printed lies inside the queue's paper with a
    // margin all round (20 pt, 7 mm: a page that was made larger to fill the
    // paper loses its sides), no larger than on the document's own page.
    static void checkPrintedWithin(const QString& printed, const QSizeF& paper,
                                   const QRectF& ownInk) {
        QCOMPARE(testsupport::pdfPageSize(printed).toSize(), paper.toSize());
        const QRectF ink = testsupport::pdfInkBox(printed);
        const QRectF printable(20, 20, paper.width() - 40, paper.height() - 40);
        QVERIFY2(printable.contains(ink), qPrintable(QStringLiteral("ink %1,%2 %3x%4 on %5x%6")
                                                         .arg(ink.x())
                                                         .arg(ink.y())
                                                         .arg(ink.width())
                                                         .arg(ink.height())
                                                         .arg(paper.width())
                                                         .arg(paper.height())));
        const QString sizes = QStringLiteral("ink %1x%2, on its own page %3x%4")
                                  .arg(ink.width())
                                  .arg(ink.height())
                                  .arg(ownInk.width())
                                  .arg(ownInk.height());
        QVERIFY2(ink.width() <= ownInk.width() + 1 && ink.height() <= ownInk.height() + 1,
                 qPrintable(sizes));
        // Made smaller by no more than it takes, and centred.
        QVERIFY2(ink.width() >= ownInk.width() * 0.85 && ink.height() >= ownInk.height() * 0.85,
                 qPrintable(sizes));
        const double sideSlack = std::abs(ink.left() - (paper.width() - ink.right()));
        QVERIFY2(sideSlack < ownInk.width() * 0.2, qPrintable(QString::number(sideSlack)));
    }

    // The paper follows the desktop: in a German locale the notice, its PDF
    // and its print are A4. A printer with other paper gets the page made
    // smaller to fit and centred, never larger and never cut.
    void paperFollowsTheDesktopAndPrintingNeverCrops() {
        if (!cupsMissing.isEmpty())
            QSKIP(qPrintable(cupsMissing));
        // Gone again when the test ends, however it ends: the others see one queue.
        struct Queues {
            const PrivateCups& cups;
            ~Queues() {
                for (const char* q : {"letterq", "a4q"})
                    cups.tool(QStringLiteral("lpadmin"),
                              {QStringLiteral("-x"), QString::fromLatin1(q)});
            }
        } queues{cups};
        QVERIFY(cups.addPrinterOn(QStringLiteral("letterq"), QStringLiteral("Letter"), {612, 792}));
        QVERIFY(cups.addPrinterOn(QStringLiteral("a4q"), QStringLiteral("A4"), {595, 842}));
        for (int i = 0; i < 9; ++i)
            form->fields()[static_cast<size_t>(i)]->SetText(sampleValues[i]);

        // A Letter notice (this test's own desktop says Letter) on an A4 printer.
        QVERIFY(generate());
        QCOMPARE(testsupport::docPageTwips(preview->mWordFile), QSize(12240, 15840));
        const QString letterPdf = savedAsPdf(QStringLiteral("letter.pdf"));
        QCOMPARE(testsupport::pdfPageSize(letterPdf).toSize(), QSize(612, 792));
        checkPrintedWithin(printOn(QStringLiteral("a4q")), QSizeF(595.276, 841.89).toSize(),
                           testsupport::pdfInkBox(letterPdf));

        // An A4 notice from a German desktop, on a Letter printer.
        const QString why = testsupport::provideLocale(QStringLiteral("de_DE.UTF-8"));
        if (why.isEmpty()) {
            qputenv("LC_PAPER", "de_DE.UTF-8");
        } else {
            qWarning("the German locale cannot be made (%s); asking for A4 through PAPERSIZE",
                     qPrintable(why));
            qputenv("PAPERSIZE", "a4");
        }
        const bool made = generate();
        qputenv("LC_PAPER", "C");
        qputenv("PAPERSIZE", "letter");
        QVERIFY(made);
        QCOMPARE(testsupport::docPageTwips(preview->mWordFile), QSize(11906, 16838));
        const QString a4Pdf = savedAsPdf(QStringLiteral("a4.pdf"));
        QCOMPARE(testsupport::pdfPageSize(a4Pdf).toSize(), QSize(595, 842));
        const QRectF a4Ink = testsupport::pdfInkBox(a4Pdf);
        checkPrintedWithin(printOn(QStringLiteral("letterq")), QSizeF(612, 792), a4Ink);
        // On its own paper it is printed as it is.
        const QString same = printOn(QStringLiteral("a4q"));
        QCOMPARE(testsupport::pdfPageSize(same).toSize(), QSize(595, 842));
        const QRectF sameInk = testsupport::pdfInkBox(same);
        QVERIFY2(std::abs(sameInk.width() - a4Ink.width()) <= 1 &&
                     std::abs(sameInk.left() - a4Ink.left()) <= 1 &&
                     std::abs(sameInk.top() - a4Ink.top()) <= 1,
                 qPrintable(QStringLiteral("%1 %2 %3")
                                .arg(sameInk.left())
                                .arg(sameInk.top())
                                .arg(sameInk.width())));
    }

    // Every page, also past the ten the preview shows, with the dialog's
    // copies and page range.
    void printsEveryPageThroughCups() {
        if (!cupsMissing.isEmpty())
            QSKIP(qPrintable(cupsMissing));
        QVERIFY(cups.addPrinter());
        QString infraction = form->field(entry::Fact::Infraction)->Text();
        for (int i = 1; i <= 700; ++i)
            infraction += QStringLiteral("\r\nLine %1 of the account.").arg(i);
        form->field(entry::Fact::Infraction)->SetText(infraction);
        QVERIFY(generate());

        // The same document saved as PDF says how many pages it has.
        const QString whole = saved + QStringLiteral("/long.pdf");
        {
            MsgBoxRecorder boxes;
            SaveDialogRecorder to(whole);
            command("mnuSaveAsPdf")->trigger();
            QCOMPARE(boxes.prompts(), QStringList{"Done."});
        }
        const int pages = testsupport::pdfPageCount(whole);
        QVERIFY2(pages > 11, qPrintable(QString::number(pages)));

        MsgBoxRecorder boxes;
        PrintDialogRecorder dialog(printTo(QStringLiteral("vtest"), 2));
        press(QKeySequence::Print);
        QCOMPARE(boxes.prompts(), QStringList());
        QCOMPARE(dialog.seen.size(), 1);
        QCOMPARE(dialog.seen[0].printers, QStringList{"vtest"});
        QCOMPARE(dialog.seen[0].pageCount, pages);
        QVERIFY(cups.jobsDone());
        QCOMPARE(testsupport::pdfPageCount(cups.printed()), 2 * pages);
        const QString text = testsupport::pdfText(cups.printed());
        for (const QString& value : sampleValues.mid(0, 3))
            QCOMPARE(text.count(value.simplified()), 2);
        QCOMPARE(text.count(QStringLiteral("Line 700 of the account.")), 2);

        QFile::remove(cups.printed());
        dialog.choice = printTo(QStringLiteral("vtest"), 1, QStringLiteral("12-12"));
        command("mnuPrint")->trigger();
        QCOMPARE(boxes.prompts(), QStringList());
        QVERIFY(cups.jobsDone());
        QCOMPARE(testsupport::pdfPageCount(cups.printed()), 1);
        const QString twelfth = testsupport::pdfText(cups.printed());
        QCOMPARE(twelfth, testsupport::pdfText(whole, 12));
        QVERIFY2(twelfth.contains(QStringLiteral(" of the account.")), qPrintable(twelfth));
    }
};

VELTRANE_TEST_MAIN(PrintPdfTest)
#include "test_print_pdf.moc"

// "Start Creating Template": the whole road of one generation, from the
// template to the preview window.

#include "app/errortrap.h"
#include "app/files.h"
#include "app/form1.h"
#include "app/procnames.h"
#include "generate/clipboard.h"
#include "generate/randomname.h"
#include "generate/template.h"
#include "platform/automation/automation.h"
#include "platform/automation/stageclock.h"
#include "platform/ui/picture.h"
#include "preview/form2.h"

using app::ErrorTrap;
using automation::NamedArg;
using automation::Object;
using automation::StageClock;
using automation::Variant;

void Form1::PushButton6_Click() {
    ErrorTrap trap(app::proc::Form1_PushButton6_Click);
    bool busy = false;
    trap.at(100, [&] { busy = mBusy; });
    if (busy)
        return;
    trap.at(102, [&] { mBusy = true; });
    trap.at(104, [&] { Pointer.SetMousePointer(ui::vbHourglass); });

    // The template goes to the temporary folder, unless a file of that name is
    // there: the organisation's own where one is installed, else the built-in one.
    QByteArray templateBytes;
    trap.at(106, [&] {
        StageClock clock("template lookup and check");
        templateBytes = generate::TemplateBytes();
    });
    trap.at(108, [&] {
        StageClock clock("template.dot written");
        const QString p = app::TempPath(QStringLiteral("template.dot"));
        if (!app::FileExists(p))
            app::WriteBytesIfMissing(templateBytes, p);
    });

    Object wordApp;
    Object doc;
    QString templatePath;
    trap.at(110, [&] { wordApp = automation::createObject(QStringLiteral("Word.Application")); });
    trap.at(112, [&] { templatePath = app::TempPath(QStringLiteral("template.dot")); });
    trap.at(114, [&] {
        doc = wordApp[QStringLiteral("Documents")]
                  .call(QStringLiteral("Open"), {Variant(templatePath)},
                        {NamedArg{QStringLiteral("ReadOnly"), Variant(true)}})
                  .toObject();
    });

    // Each placeholder in every story: index outside, stories inside, the
    // story collection fetched anew for each index.
    trap.line(116);
    for (int index = 0; index <= 8; ++index) {
        const ui::TextBox* field = Text1[static_cast<size_t>(index)];
        QList<Variant> stories;
        bool haveStories = false;
        trap.at(118, [&] {
            stories = doc.get(QStringLiteral("StoryRanges")).toObject().items();
            haveStories = true;
        });
        if (haveStories) {
            for (const Variant& story : stories) {
                Object range;
                Object find;
                trap.at(120, [&] { range = story.toObject(); });
                trap.at(122, [&] {
                    range[QStringLiteral("Find")].call(QStringLiteral("ClearFormatting"));
                });
                trap.at(124, [&] {
                    range[QStringLiteral("Find")][QStringLiteral("Replacement")].call(
                        QStringLiteral("ClearFormatting"));
                });
                trap.at(126, [&] { find = range[QStringLiteral("Find")]; });
                trap.at(128, [&] { find.set(QStringLiteral("Text"), Variant(field->Tag)); });
                trap.at(130, [&] {
                    find[QStringLiteral("Replacement")].set(QStringLiteral("Text"),
                                                            Variant(field->Text()));
                });
                trap.at(132, [&] { find.set(QStringLiteral("Forward"), Variant(true)); });
                trap.at(134, [&] { find.set(QStringLiteral("Wrap"), Variant(int32_t(1))); });
                trap.at(136, [&] { find.set(QStringLiteral("Format"), Variant(false)); });
                trap.at(138, [&] { find.set(QStringLiteral("MatchCase"), Variant(false)); });
                trap.at(140, [&] { find.set(QStringLiteral("MatchWholeWord"), Variant(false)); });
                trap.at(142, [&] { find.set(QStringLiteral("MatchWildcards"), Variant(false)); });
                trap.at(144, [&] { find.set(QStringLiteral("MatchSoundsLike"), Variant(false)); });
                trap.at(146,
                        [&] { find.set(QStringLiteral("MatchAllWordForms"), Variant(false)); });
                trap.at(148, [&] {
                    range[QStringLiteral("Find")].call(
                        QStringLiteral("Execute"), {},
                        {NamedArg{QStringLiteral("Replace"), Variant(int16_t(2))}});
                });
                trap.line(150);
            }
        }
        trap.line(152);
    }

    // The text frames of shapes: shapes outside, index inside.
    QList<Variant> shapes;
    bool haveShapes = false;
    trap.at(154, [&] {
        shapes = doc[QStringLiteral("Shapes")].items();
        haveShapes = true;
    });
    if (haveShapes) {
        for (const Variant& shape : shapes) {
            bool hasText = false;
            trap.at(156, [&] {
                const Variant v =
                    shape.toObject()[QStringLiteral("TextFrame")].get(QStringLiteral("HasText"));
                hasText = !v.isNull() && v.toBool();
            });
            if (!hasText)
                continue;
            trap.line(158);
            for (int index = 0; index <= 8; ++index) {
                const ui::TextBox* field = Text1[static_cast<size_t>(index)];
                trap.at(160, [&] {
                    QList<Variant> args{Variant(field->Tag)};
                    for (int k = 0; k < 8; ++k)
                        args << Variant::missing();
                    args << Variant(field->Text()) << Variant(int16_t(2));
                    shape
                        .toObject()[QStringLiteral("TextFrame")][QStringLiteral("TextRange")]
                                   [QStringLiteral("Find")]
                        .call(QStringLiteral("Execute"), args);
                });
                trap.line(162);
            }
            trap.line(164);
        }
    }

    // A fresh name in the temporary folder; a name already taken is never reused.
    QString name;
    QString path;
    bool taken = false;
    do {
        trap.at(166, [&] { name = QStringLiteral("amerrow"); });
        trap.line(168);
        for (int k = 0; k < 8; ++k) {
            int digit = 0;
            trap.at(170, [&] { generate::Randomize(generate::secondsSinceMidnight()); });
            trap.at(172, [&] { digit = static_cast<int>(generate::Rnd() * 9.0f) + 1; });
            trap.at(174, [&] { name += QString::number(digit); });
            trap.line(176);
        }
        trap.at(178, [&] { path = app::TempPath(name + QStringLiteral(".doc")); });
        taken = false;
        trap.at(180, [&] { taken = app::FileExists(path); });
    } while (taken);

    trap.at(182, [&] { doc.call(QStringLiteral("SaveAs"), {Variant(path)}); });
    trap.at(184, [&] { wordApp.set(QStringLiteral("DisplayAlerts"), Variant(false)); });
    trap.at(186, [&] { doc.call(QStringLiteral("Close")); });
    trap.at(188, [&] { wordApp.call(QStringLiteral("quit")); });
    trap.at(190, [&] { doc.release(); });
    trap.at(192, [&] { wordApp.release(); });
    trap.at(194, [&] { app::DeleteFileQuietly(templatePath); });

    trap.at(196, [&] { SaveDocAsJPG(path); });
    trap.at(198, [&] { Pointer.SetMousePointer(ui::vbDefault); });

    // Hand-over to the preview window.
    trap.at(200, [&] {
        Form2* preview = Form2::instance();
        QImage picture;
        try {
            StageClock clock("temp.bmp read");
            picture = ui::LoadPicture(app::TempPath(QStringLiteral("temp.bmp")));
        } catch (...) {
            // Never leave the last document's picture beside this document's path.
            preview->setPicture1(QImage());
            throw;
        }
        StageClock clock("picture handed to the preview");
        preview->setPicture1(picture);
    });
    trap.at(202, [&] { Form2::instance()->mWordFile = path; });
    trap.at(204, [&] {
        StageClock clock("preview shown");
        Form2::instance()->show();
    });
    trap.at(206, [&] { hide(); });
    trap.at(208, [&] { app::DeleteFileQuietly(app::TempPath(QStringLiteral("temp.bmp"))); });
    trap.at(210, [&] { mBusy = false; });
}

void Form1::SaveDocAsJPG(QString path) {
    ErrorTrap trap(app::proc::Form1_SaveDocAsJPG);
    Object wordApp;
    Object doc;
    trap.at(116, [&] { wordApp = automation::createObject(QStringLiteral("Word.Application")); });
    trap.at(118, [&] {
        doc = wordApp[QStringLiteral("Documents")]
                  .call(QStringLiteral("Open"), {Variant(path)})
                  .toObject();
    });
    trap.at(120, [&] { doc[QStringLiteral("Range")].call(QStringLiteral("CopyAsPicture")); });
    trap.at(122, [&] {
        const int32_t anyFormat = 0;
        StageClock read("clipboard read");
        const QImage picture = generate::GetClipboardPicture(anyFormat);
        read.stop();
        StageClock write("temp.bmp written");
        ui::SavePicture(picture, app::TempPath(QStringLiteral("temp.bmp")));
    });
    trap.at(124, [&] {
        wordApp[QStringLiteral("ActiveDocument")].call(
            QStringLiteral("Close"), {},
            {NamedArg{QStringLiteral("savechanges"), Variant(int16_t(0))}});
    });
    trap.at(126, [&] { wordApp.call(QStringLiteral("quit")); });
}

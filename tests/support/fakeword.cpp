#include "fakeword.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>

namespace testsupport {

using automation::CallKind;
using automation::Dispatch;
using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::Variant;

namespace {

QString kindText(CallKind k) {
    switch (k) {
    case CallKind::Get:
        return QStringLiteral("Get");
    case CallKind::Put:
        return QStringLiteral("Put");
    default:
        return QStringLiteral("Call");
    }
}

class FakeBase : public Dispatch {
  public:
    FakeBase(std::shared_ptr<FakeWordState> s, QString label)
        : st(std::move(s)), mLabel(std::move(label)) {}

    Variant invoke(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        QStringList parts;
        for (const Variant& a : args)
            parts << a.debugString();
        for (const NamedArg& n : named)
            parts << n.name + QLatin1Char('=') + n.value.debugString();
        const QString line =
            QStringLiteral("%1.%2 %3(%4)")
                .arg(mLabel, name, kindText(kind), parts.join(QStringLiteral(", ")));
        st->log << line;
        if (st->onCall)
            st->onCall(line);
        if (!st->failOn.isEmpty() && line.startsWith(st->failOn)) {
            if (st->failAfter > 0) {
                --st->failAfter;
            } else if (st->failTimes > 0) {
                --st->failTimes;
                throw Error(QStringLiteral("Injected failure in %1").arg(name));
            }
        }
        return handle(name, kind, args, named);
    }

    virtual Variant handle(const QString& name, CallKind kind, const QList<Variant>& args,
                           const QList<NamedArg>& named) = 0;

    std::shared_ptr<FakeWordState> st;
    QString mLabel;
};

// Replaces every occurrence, literally and without regard to case.
void replaceAll(QString& text, const QString& find, const QString& with, bool matchCase) {
    if (find.isEmpty())
        return;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at =
            text.indexOf(find, from, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
        if (at < 0)
            return;
        text.replace(at, find.size(), with);
        from = at + with.size();
    }
}

class FakeReplacement : public FakeBase {
  public:
    using FakeBase::FakeBase;
    QString text;
    Variant handle(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>&) override {
        if (automation::sameName(name, "ClearFormatting"))
            return {};
        if (automation::sameName(name, "Text") && kind == CallKind::Put) {
            text = args.value(0).toString();
            return {};
        }
        automation::throwNoMember(name);
    }
};

class FakeFind : public FakeBase {
  public:
    FakeFind(std::shared_ptr<FakeWordState> s, QString label, QString* target)
        : FakeBase(s, label), mTarget(target),
          mRepl(std::make_shared<FakeReplacement>(s, label + QStringLiteral(".Replacement"))) {}
    QString text;
    bool matchCase = false;

    Variant handle(const QString& name, CallKind kind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (automation::sameName(name, "ClearFormatting"))
            return {};
        if (automation::sameName(name, "Replacement"))
            return Variant(Object(mRepl));
        if (kind == CallKind::Put) {
            if (automation::sameName(name, "Text"))
                text = args.value(0).toString();
            else if (automation::sameName(name, "MatchCase"))
                matchCase = args.value(0).toBool();
            return {};
        }
        if (automation::sameName(name, "Execute")) {
            if (!named.isEmpty()) { // Replace:=2 with the find's own settings
                replaceAll(*mTarget, text, mRepl->text, matchCase);
            } else { // find text, 8 omitted, replacement, 2
                replaceAll(*mTarget, args.value(0).toString(), args.value(9).toString(), matchCase);
            }
            return Variant(true);
        }
        automation::throwNoMember(name);
    }

  private:
    QString* mTarget;
    std::shared_ptr<FakeReplacement> mRepl;
};

class FakeRange : public FakeBase {
  public:
    FakeRange(std::shared_ptr<FakeWordState> s, QString label, QString* target)
        : FakeBase(s, label), mTarget(target),
          mFind(std::make_shared<FakeFind>(s, label + QStringLiteral(".Find"), target)) {}
    Variant handle(const QString& name, CallKind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (automation::sameName(name, "Find"))
            return Variant(Object(mFind));
        if (automation::sameName(name, "CopyAsPicture")) {
            QImage pic = st->picture;
            if (pic.isNull()) {
                pic = QImage(120, 80, QImage::Format_RGB32);
                pic.fill(Qt::white);
            }
            QGuiApplication::clipboard()->setImage(pic);
            return {};
        }
        automation::throwNoMember(name);
    }

  private:
    QString* mTarget;
    std::shared_ptr<FakeFind> mFind;
};

class FakeCollection : public FakeBase {
  public:
    using FakeBase::FakeBase;
    QList<Variant> members;
    Variant handle(const QString& name, CallKind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (automation::sameName(name, "Count"))
            return Variant(int32_t(members.size()));
        automation::throwNoMember(name);
    }
    QList<Variant> enumerate() override {
        st->log << mLabel + QStringLiteral(" ForEach()");
        return members;
    }
};

class FakeTextFrame : public FakeBase {
  public:
    FakeTextFrame(std::shared_ptr<FakeWordState> s, QString label, QString* text, bool has)
        : FakeBase(s, label), mHas(has),
          mRange(std::make_shared<FakeRange>(s, label + QStringLiteral(".TextRange"), text)) {}
    Variant handle(const QString& name, CallKind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (automation::sameName(name, "HasText"))
            return mHas ? Variant(true) : Variant::null();
        if (automation::sameName(name, "TextRange"))
            return Variant(Object(mRange));
        automation::throwNoMember(name);
    }

  private:
    bool mHas;
    std::shared_ptr<FakeRange> mRange;
};

class FakeShape : public FakeBase {
  public:
    FakeShape(std::shared_ptr<FakeWordState> s, QString label, QString* text, bool has)
        : FakeBase(s, label), mFrame(std::make_shared<FakeTextFrame>(
                                  s, label + QStringLiteral(".TextFrame"), text, has)) {}
    Variant handle(const QString& name, CallKind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (automation::sameName(name, "TextFrame"))
            return Variant(Object(mFrame));
        automation::throwNoMember(name);
    }

  private:
    std::shared_ptr<FakeTextFrame> mFrame;
};

class FakeDocument : public FakeBase {
  public:
    FakeDocument(std::shared_ptr<FakeWordState> s, QString path)
        : FakeBase(s, QStringLiteral("Document")), mPath(std::move(path)) {
        mStories = st->stories;
        mShapes = st->shapeTexts;
    }
    Variant handle(const QString& name, CallKind, const QList<Variant>& args,
                   const QList<NamedArg>&) override {
        if (closed)
            throw Error(QStringLiteral("The object has been deleted."));
        if (automation::sameName(name, "StoryRanges")) {
            auto c = std::make_shared<FakeCollection>(st, QStringLiteral("StoryRanges"));
            for (qsizetype i = 0; i < mStories.size(); ++i)
                c->members << Variant(Object(std::make_shared<FakeRange>(
                    st, QStringLiteral("Story%1").arg(i), &mStories[i])));
            return Variant(Object(c));
        }
        if (automation::sameName(name, "Shapes")) {
            auto c = std::make_shared<FakeCollection>(st, QStringLiteral("Shapes"));
            for (qsizetype i = 0; i < mShapes.size(); ++i)
                c->members << Variant(Object(
                    std::make_shared<FakeShape>(st, QStringLiteral("Shape%1").arg(i), &mShapes[i],
                                                st->shapeHasText.value(i, true))));
            return Variant(Object(c));
        }
        if (automation::sameName(name, "Range"))
            return Variant(
                Object(std::make_shared<FakeRange>(st, QStringLiteral("Range"), &mStories[0])));
        if (automation::sameName(name, "SaveAs")) {
            const QString path = args.value(0).toString();
            const QString body = mStories.join(QStringLiteral("\n----\n"));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly))
                throw Error(QStringLiteral("Cannot save %1").arg(path));
            f.write(body.toUtf8());
            st->saved.insert(path, body);
            st->savedShapes.insert(path, mShapes);
            return {};
        }
        if (automation::sameName(name, "Close")) {
            closed = true;
            return {};
        }
        automation::throwNoMember(name);
    }
    bool closed = false;

  private:
    QString mPath;
    QStringList mStories;
    QStringList mShapes;
};

class FakeDocuments : public FakeBase {
  public:
    using FakeBase::FakeBase;
    std::shared_ptr<FakeDocument>* active = nullptr;
    Variant handle(const QString& name, CallKind, const QList<Variant>& args,
                   const QList<NamedArg>& named) override {
        if (automation::sameName(name, "Open")) {
            const QString path = args.value(0).toString();
            bool readOnly = false;
            for (const NamedArg& a : named)
                if (automation::sameName(a.name, "ReadOnly"))
                    readOnly = a.value.toBool();
            st->openedReadOnly.insert(path, readOnly);
            if (!QFile::exists(path))
                throw Error(QStringLiteral("This file could not be found. (%1)").arg(path));
            auto d = std::make_shared<FakeDocument>(st, path);
            *active = d;
            return Variant(Object(d));
        }
        automation::throwNoMember(name);
    }
};

class FakeApplication : public FakeBase {
  public:
    explicit FakeApplication(std::shared_ptr<FakeWordState> s)
        : FakeBase(s, QStringLiteral("Application")),
          mDocs(std::make_shared<FakeDocuments>(s, QStringLiteral("Documents"))) {
        mDocs->active = &mActive;
        ++st->instancesCreated;
        ++st->liveInstances;
    }
    ~FakeApplication() override { --st->liveInstances; }

    Variant handle(const QString& name, CallKind kind, const QList<Variant>&,
                   const QList<NamedArg>&) override {
        if (mQuit)
            throw Error(
                QStringLiteral("The remote server machine does not exist or is unavailable"));
        if (automation::sameName(name, "Documents"))
            return Variant(Object(mDocs));
        if (automation::sameName(name, "ActiveDocument")) {
            if (!mActive)
                throw Error(
                    QStringLiteral("This command is not available because no document is open."));
            return Variant(Object(mActive));
        }
        if (automation::sameName(name, "DisplayAlerts") && kind == CallKind::Put)
            return {};
        if (automation::sameName(name, "quit")) {
            mQuit = true;
            ++st->instancesQuit;
            return {};
        }
        automation::throwNoMember(name);
    }

  private:
    bool mQuit = false;
    std::shared_ptr<FakeDocuments> mDocs;
    std::shared_ptr<FakeDocument> mActive;
};

} // namespace

std::shared_ptr<FakeWordState> installFakeWord() {
    auto state = std::make_shared<FakeWordState>();
    automation::registerServer(
        QStringLiteral("Word.Application"), [state]() -> std::shared_ptr<Dispatch> {
            state->log << QStringLiteral("CreateObject(Word.Application)");
            if (state->failCreate)
                throw Error(QStringLiteral("ActiveX component can't create object"));
            return std::make_shared<FakeApplication>(state);
        });
    return state;
}

void uninstallFakeWord() {
    automation::registerServer(QStringLiteral("Word.Application"), {});
}

} // namespace testsupport

#pragma once
// What the objects of the word processor's model share: the state of one
// application instance and of its documents, how a call's arguments are read,
// and how each kind of object is made.

#include "platform/office/lifecycle/office_session.h"
#include "platform/office/wordmodel/word_stories.h"

#include <QFileInfo>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace office {

using automation::CallKind;
using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::sameName;
using automation::Variant;

// The arguments of one call by position; named ones are put where the
// member's parameter list says, as a late-bound caller expects.
class Args {
  public:
    Args(const QList<Variant>& positional, const QList<NamedArg>& named,
         std::initializer_list<const char*> params);
    bool has(int i) const { return i < mArgs.size() && !mArgs[i].isMissing(); }
    const Variant& at(int i) const { return mArgs[i]; }

  private:
    QList<Variant> mArgs;
};

[[noreturn]] void readOnlyProperty(const QString& name);

// One call as it reaches an object: the member's name as the caller wrote it,
// and its arguments.
struct Call {
    const QString& name;
    CallKind kind;
    const QList<Variant>& args;
    const QList<NamedArg>& named;
};

// One entry of an object's table of members: its name and what it does.
template <class T> struct Member {
    const char* name;
    Variant (*run)(T& self, const Call& call);
};

// Runs the member the call names, found without regard to case; a name not
// in the table is no member of the object.
template <class T, std::size_t N>
Variant callMember(T& self, const Member<T> (&members)[N], const Call& call) {
    for (const Member<T>& m : members)
        if (sameName(call.name, m.name))
            return m.run(self, call);
    automation::throwNoMember(call.name);
}

// A property write carries its value as the one argument.
const Variant& putValue(const QString& name, const QList<Variant>& args);

QString fileUrl(const QString& path);

struct DocState {
    Reference<css::text::XTextDocument> doc;
    QString name;        // the file it came from, for messages
    QString savedTo;     // where SaveAs last wrote it
    int savedFormat = 0; // and in which of Word's formats
    bool closed = false;
    bool layoutHeld = false; // controllers locked since loading
    // The stories found the first time they were asked for. Nothing the model
    // offers adds or removes a story, and a caller typically asks once per
    // placeholder, so the walk over frames, shapes and page styles is done once.
    std::optional<std::vector<Story>> stories;
    DocumentSearch search; // for ReplaceAll, kept between its calls

    // Saving and rendering want the layout up to date.
    void releaseLayout();
};

struct AppState {
    std::vector<std::shared_ptr<DocState>> open; // in the order they were opened
    bool displayAlerts = true;

    std::shared_ptr<DocState> active() const;
};

// Base of everything that lives in a document: refuses calls once it is closed.
class InDocument : public automation::Dispatch {
  protected:
    InDocument(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d)
        : mSession(std::move(s)), mDoc(std::move(d)) {}

    template <class F> auto call(const QString& member, Bound bound, F&& fn) -> decltype(fn()) {
        mSession->ensureUsable(member);
        if (mDoc->closed)
            throw Error(QStringLiteral("The document %1 has been closed; %2 is no longer available")
                            .arg(QFileInfo(mDoc->name).fileName(), member));
        return mSession->call(member, bound, std::forward<F>(fn));
    }

    std::shared_ptr<OfficeSession> mSession;
    std::shared_ptr<DocState> mDoc;
};

// The objects of the model, each made in its own file.
Object makeDocuments(std::shared_ptr<OfficeSession> s, std::shared_ptr<AppState> app);
Object makeDocument(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d);
Object makeRange(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story);
Object makeFind(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d, Story story);
Object makeShape(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
                 Reference<css::drawing::XShape> shape);
// A collection that can only be gone through with For Each.
Object makeCollection(std::shared_ptr<OfficeSession> s, std::shared_ptr<DocState> d,
                      QList<Variant> items);

} // namespace office

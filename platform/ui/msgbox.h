#pragma once
// Modal message boxes with the classic style word (buttons + icon) and answer
// codes, reached through a seam so tests can answer them.

#include <QString>
#include <functional>

namespace ui {

enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
};

enum MsgBoxResult : int { vbOK = 1, vbYes = 6, vbNo = 7 };

struct MsgBoxRequest {
    QString prompt; // as the program built it; CR / CR LF become line breaks on screen
    int style = vbOKOnly;
    QString title;
};

// Shows the box and returns the answer code. An empty title means the
// application title.
int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = QString());

// The application title used by boxes that name none of their own.
void setAppTitle(const QString& title);
QString appTitle();

// Test seam: while set, boxes are answered by the handler instead of a person.
using MsgBoxHandler = std::function<int(const MsgBoxRequest&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

// How the prompt is shown: CR LF, lone CR and lone LF each become one line break.
QString displayText(const QString& prompt);

} // namespace ui

#pragma once
// A document as one picture: its pages rendered, trimmed and stacked.

#include "platform/office/lifecycle/uno_support.h"

#include <com/sun/star/text/XTextDocument.hpp>

#include <QImage>

namespace office {

// Renders every page of doc through an in-memory PDF; the stacked, trimmed
// picture, at the screen's resolution or finer where the preview can enlarge it.
QImage renderDocumentPicture(const Reference<css::uno::XComponentContext>& officeContext,
                             const Reference<css::text::XTextDocument>& doc);

// The same steps for the first page, off the user's wait: the code, fonts and
// filters a picture needs are loaded, and its rendering in two bands has run
// once. The caller gives back the memory its buffers took.
void warmUpDocumentPicture(const Reference<css::uno::XComponentContext>& officeContext,
                           const Reference<css::text::XTextDocument>& doc);

// Puts the picture on the system clipboard. Must run on the GUI thread.
void putPictureOnClipboard(const QImage& picture);

// Takes any picture off the system clipboard (other content stays), so that a
// copy that fails leaves no picture to be taken for the document's: neither
// an earlier document's nor one the user copied. Must run on the GUI thread.
void dropPictureFromClipboard();

// Takes a picture the program's earlier copy left on the clipboard off it,
// when it is still there; a picture another program put there stays. For a
// new instance: whatever fails in it before its own copy, the last document's
// picture is not there to be taken for its document's. Does nothing off the
// GUI thread.
void dropOwnPictureFromClipboard();

// Test seam: called with the office's process id while a copy is under way.
using PictureHook = void (*)(long officePid);
void setPictureHook(PictureHook hook);
void runPictureHook(long officePid);

} // namespace office

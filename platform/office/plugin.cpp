// The plugin's entry points: the one that creates "Word.Application" and the
// one that lets it get ready in the background. The seams tests use are in
// office_testing.cpp, built into a plugin for tests only.

#include "platform/office/lifecycle/office_host.h"
#include "platform/office/wordmodel/copy_picture.h"
#include "platform/office/wordmodel/picture_and_text.h"
#include "platform/office/wordmodel/word_model.h"

#define VELTRANE_EXPORT extern "C" __attribute__((visibility("default")))

VELTRANE_EXPORT void veltrane_create_word_application(std::shared_ptr<automation::Dispatch>* out) {
    office::dropOwnPictureFromClipboard();
    office::releasePictureMemory();
    *out = office::makeApplication(office::OfficeSession::begin());
}

VELTRANE_EXPORT void veltrane_prepare_word_application() {
    office::readyPictureMemory();
    office::OfficeHost::instance().warmUp(&office::warmOffice);
}

namespace {
// The host's office ends with the program, and one that has just been asked
// to terminate gets its few tenths of a second to exit cleanly. Normally the
// application object's end has done this already; this is for a program
// that ends without one.
struct EndAtExit {
    ~EndAtExit() {
        if (office::OfficeHost::started())
            office::OfficeHost::instance().shutdown(office::Millis(5000),
                                                    office::OfficeProcess::Ask::SignalOnly);
        else if (office::Supervisor::started())
            office::Supervisor::instance().drain(office::Millis(5000));
    }
} endAtExit;
} // namespace

#pragma once
// One generation: the template filled with the nine values by the word
// processor, saved under a fresh name in the temporary folder, and its page
// picture written to temp.bmp there. Every step runs under the caller's error
// trap, under its own line number: a failed step is reported and the next one
// still runs.

#include "entry/warningrecord.h"

#include <QString>

namespace common {
class ErrorTrap;
}

namespace automation {
class Object;
}

namespace generate {

// What a generation leaves: the saved document and its page picture.
struct Notice {
    QString document; // "" when no name could be made
    QString picture;  // temp.bmp
};

// Steps 106 to 196 of "Start Creating Template", in order.
Notice makeNotice(common::ErrorTrap& trap, const entry::FactValues& values);

// One value in place of its placeholder in every story of doc: the body,
// each text frame, headers, footers, foot- and endnotes (steps 118 to 150,
// under trap).
void replaceInStories(common::ErrorTrap& trap, const automation::Object& doc,
                      const QString& placeholder, const QString& value);

// The document's page picture, from the word processor by way of the
// clipboard, written to temp.bmp. Reports its own failures.
void savePagePicture(const QString& documentPath);

} // namespace generate

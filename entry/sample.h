#pragma once
// The sample record "Load Sample/Example Data" fills the form with.

#include "entry/warningrecord.h"

#include <QString>

namespace entry {

// The sample's value for the fact; the date is today's, in the short form of
// the user's locale.
QString sampleValue(Fact fact);

} // namespace entry

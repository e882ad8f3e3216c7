#pragma once
// The pseudo-random generator behind the filled document's name. Re-seeding
// mixes the time into the state rather than restarting the sequence, so two
// draws in the same second still differ.

#include <cstdint>

namespace generate {

void randomize(double seed);
float rnd(); // next number in [0, 1)
double secondsSinceMidnight();

// Test seam: a fixed generator state and clock make the names predictable.
void setRandomForTests(uint64_t state, double (*clock)());

} // namespace generate

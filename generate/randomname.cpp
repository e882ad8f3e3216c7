#include "randomname.h"

#include <QTime>
#include <cstring>
#include <random>

namespace generate {

namespace {
uint64_t& state() {
    static uint64_t s = [] {
        std::random_device rd;
        return (static_cast<uint64_t>(rd()) << 32) ^ rd();
    }();
    return s;
}

uint64_t splitmix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
double (*gClock)() = nullptr;
} // namespace

void setRandomForTests(uint64_t s, double (*clock)()) {
    state() = s;
    gClock = clock;
}

void randomize(double seed) {
    uint64_t bits = 0;
    std::memcpy(&bits, &seed, sizeof bits);
    state() ^= bits * 0xD6E8FEB86659FD93ull;
    splitmix(state());
}

float rnd() {
    // 24 random bits give every float in [0, 1) an equal chance and never 1.0.
    return static_cast<float>(splitmix(state()) >> 40) / 16777216.0f;
}

double secondsSinceMidnight() {
    if (gClock)
        return gClock();
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

} // namespace generate

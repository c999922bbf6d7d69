#include "TraceColourSequence.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

TraceColourSequence::TraceColourSequence(std::uint32_t seed) {
    restartLocked(seed);
}

void TraceColourSequence::reseed(std::uint32_t seed) {
    std::lock_guard lock(mMutex);
    restartLocked(seed);
}

// The generator is used once per seed and kept out of the rest of the process's random numbers.
void TraceColourSequence::restartLocked(std::uint32_t seed) {
    std::mt19937 generator(seed);
    mPhase = std::uniform_real_distribution<double>(0.0, 1.0)(generator);
    mRed = 0.5;
    mGreen = 0.5;
    mBlue = 0.5;
}

QColor TraceColourSequence::next(double alpha) {
    std::lock_guard lock(mMutex);
    mPhase += double(0.4f);
    mRed = std::max(double(std::fabs(std::sin(float(mRed * mPhase)))), 0.4);
    mGreen = std::max(double(std::fabs(std::sin(float(3.0 * mPhase * mGreen)))), 0.2);
    mBlue = std::max(double(std::fabs(std::sin(float(7.0 * mPhase * mBlue)))), 0.5);
    return QColor::fromRgbF(float(mRed), float(mGreen), float(mBlue), float(alpha));
}

std::uint32_t TraceColourSequence::clockSeed() {
    return std::uint32_t(std::chrono::system_clock::now().time_since_epoch() /
                         std::chrono::seconds(1));
}

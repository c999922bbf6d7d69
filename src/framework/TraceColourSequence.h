#pragma once

#include <QColor>

#include <cstdint>
#include <mutex>

// The sequence of trace colours. A phase drawn from the seed advances by a fixed step per colour
// and each component feeds back into the next one, so a seed always gives the same sequence;
// the program seeds it from the clock, so each start shows other colours. Safe from any thread.
class TraceColourSequence {
public:
    explicit TraceColourSequence(std::uint32_t seed);

    // Bright enough on the dark plots: red >= 0.4, green >= 0.2, blue >= 0.5.
    QColor next(double alpha);
    // Starts the sequence over from `seed`.
    void reseed(std::uint32_t seed);

    // The program's seed: whole seconds of the wall clock.
    static std::uint32_t clockSeed();

private:
    void restartLocked(std::uint32_t seed);

    std::mutex mMutex; // guards everything below
    double mPhase = 0.0;
    double mRed = 0.5;
    double mGreen = 0.5;
    double mBlue = 0.5;
};

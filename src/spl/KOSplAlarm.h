#pragma once

#include <cstdint>

// The SPL meter's alarm: fires once when the level rises above the limit and re-arms only once
// the level has fallen below it; a level equal to the limit neither fires nor re-arms.
class KOSplAlarm {
public:
    // True when this level fires the alarm.
    bool update(bool enabled, float level, float limit) {
        bool fired = false;
        if (enabled && !mDidAlert && level > limit) {
            mDidAlert = true;
            fired = true;
        }
        if (limit > level)
            mDidAlert = false;
        return fired;
    }
    bool didAlert() const { return mDidAlert; }

private:
    bool mDidAlert = false;
};

// Spectra an SPL meter computes in `seconds`: trunc(rate / (fftSize / 8) · seconds). A rate that
// is not positive counts as 44100 Hz and a hop of 0 as 1, so a device that reports nonsense
// still gives windows of a sensible length instead of stopping the program.
std::uint32_t splInstrumentCycles(double sampleRate, std::uint32_t fftSize, double seconds);

#pragma once

#include <cstdint>

class KOFFTInstrumentWrapperBase;

// What an FFT model tells the window that shows it, and asks of it. Called on the caller's thread
// after the model has released its lock; currentSampleRate may be asked from the export's thread.
class KOFFTInstrumentWrapperDelegate {
public:
    virtual ~KOFFTInstrumentWrapperDelegate() = default;

    // Hz; what the "f" column of an export is computed with.
    virtual double currentSampleRate() = 0;
    virtual void wrapperDidChangeFFTSize(KOFFTInstrumentWrapperBase* wrapper,
                                         std::uint32_t size) = 0;
    virtual void wrapperDidChangeWindowType(KOFFTInstrumentWrapperBase* wrapper,
                                            std::uint32_t windowType) = 0;
    virtual void wrapperDidChangeColorAttributes(KOFFTInstrumentWrapperBase* wrapper) = 0;
    virtual void wrapperDidChangeDrawingAttributes(KOFFTInstrumentWrapperBase* wrapper) = 0;
    virtual bool shouldPatchToNextConsecutiveChannel(KOFFTInstrumentWrapperBase* wrapper) = 0;
};

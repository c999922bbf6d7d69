#pragma once

#include "KOFloatBuffer.h"

#include <cstdint>

// A float buffer holding a full analysis window: 'hann', 'hamm', 'blkm', 'sine' or 'rect'.
class KOFFTWindow : public KOFloatBuffer {
public:
    KOFFTWindow(std::uint32_t length, std::uint32_t type);

    // Refills the buffer; any unknown code gives the Hann window and records 'hann'.
    void Generate(std::uint32_t type);
    std::uint32_t Type() const { return mType; }

private:
    std::uint32_t mType = 0;
};

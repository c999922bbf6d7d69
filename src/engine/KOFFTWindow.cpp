#include "KOFFTWindow.h"

#include "WindowGenerator.h"

using koru::platform::fourCC;

KOFFTWindow::KOFFTWindow(std::uint32_t length, std::uint32_t type) : KOFloatBuffer(length) {
    Generate(type);
}

void KOFFTWindow::Generate(std::uint32_t type) {
    if (!koru::platform::generateWindow(type, Data(), Length(), false)) {
        type = fourCC("hann");
        koru::platform::generateWindow(type, Data(), Length(), false);
    }
    mType = type;
}

#pragma once

class KOAudioDevice;

namespace koru {

// Gives the audio device the desktop's faces: its alerts become application-modal message boxes
// and its device line the info panel's text. The program calls it once at start; a device left
// without them logs both.
void installDesktopPresenters(KOAudioDevice& device);

} // namespace koru

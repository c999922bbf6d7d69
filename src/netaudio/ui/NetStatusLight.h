#pragma once

class QLabel;

namespace koru::netaudio {

// Colours of the status light: green while connected, yellow while on the way or in trouble
// (overflow, underflow, connecting, listening), red otherwise.
inline constexpr const char* kGreenLight = "#2fbf3a";
inline constexpr const char* kYellowLight = "#e6c619";
inline constexpr const char* kRedLight = "#d83a2e";

const char* statusLightColour(int status);
// Paints `light` (a 12 × 12 label) in the status's colour and keeps the colour in its
// "statusColour" property.
void showStatusLight(QLabel* light, int status);

} // namespace koru::netaudio

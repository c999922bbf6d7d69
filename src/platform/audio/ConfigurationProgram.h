#pragma once

#include "platform/audio/AudioBackend.h"

#include <QString>

namespace koru::platform {

// The sound server's own mixer, which stands in for a device's configuration program: the
// devices of a sound server are configured there, not one by one. PulseAudio (and PipeWire,
// which answers as PulseAudio) has pavucontrol, JACK qjackctl; ALSA and the virtual devices
// have none.
QString configurationProgramName(AudioBackend backend);

// The installed program's path, searched on PATH; empty when the back-end has none or it is
// not installed.
QString configurationProgramPath(AudioBackend backend);

// Starts the program on its own (it outlives KORU); false when there is none or it did not start.
bool launchConfigurationProgram(AudioBackend backend);

} // namespace koru::platform

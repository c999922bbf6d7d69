#pragma once

#include <QString>

namespace koru::platform {

// Which sound system the real devices come from. The virtual devices are listed whatever it is.
enum class AudioBackend { Virtual, Pulse, Jack, Alsa };

// KORU_AUDIO_API = virtual | pulse | jack | alsa; unset or anything else picks automatically:
// PulseAudio (or PipeWire's server) when one answers, else JACK when a server runs, else ALSA.
AudioBackend chooseAudioBackend();
AudioBackend audioBackendFromName(const QString& name, AudioBackend automatic);

// "virtual", "pulse", "jack", "alsa": the prefix of device UIDs.
QString audioBackendName(AudioBackend backend);

// Whether a server answers on its socket. These probe without loading the client libraries, so
// a machine without the server sees no library chatter on stderr.
bool pulseServerAnswers();
bool jackServerRunning();

} // namespace koru::platform

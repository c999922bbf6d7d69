#include "platform/audio/AudioBackend.h"

#include <QByteArray>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace koru::platform {

namespace {

bool unixSocketAnswers(const QByteArray& path) {
    if (path.isEmpty() || path.size() >= int(sizeof(sockaddr_un::sun_path)))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool pulseServerAnswers() {
    QByteArray server = qgetenv("PULSE_SERVER");
    if (server.startsWith("unix:"))
        return unixSocketAnswers(server.mid(5));
    if (!server.isEmpty())
        return true; // a network server: let the client library find out
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return false;
    return unixSocketAnswers(runtime + "/pulse/native");
}

bool jackServerRunning() {
    QByteArray name = qgetenv("JACK_DEFAULT_SERVER");
    if (name.isEmpty())
        name = "default";
    const QByteArray path =
        "/dev/shm/jack_" + name + "_" + QByteArray::number(unsigned(::getuid())) + "_0";
    return unixSocketAnswers(path);
}

QString audioBackendName(AudioBackend backend) {
    switch (backend) {
    case AudioBackend::Pulse:
        return QStringLiteral("pulse");
    case AudioBackend::Jack:
        return QStringLiteral("jack");
    case AudioBackend::Alsa:
        return QStringLiteral("alsa");
    case AudioBackend::Virtual:
        break;
    }
    return QStringLiteral("virtual");
}

AudioBackend audioBackendFromName(const QString& name, AudioBackend automatic) {
    const QString key = name.trimmed().toLower();
    for (AudioBackend backend :
         {AudioBackend::Virtual, AudioBackend::Pulse, AudioBackend::Jack, AudioBackend::Alsa}) {
        if (key == audioBackendName(backend))
            return backend;
    }
    return automatic;
}

AudioBackend chooseAudioBackend() {
    const QString requested = qEnvironmentVariable("KORU_AUDIO_API");
    const AudioBackend explicitChoice = audioBackendFromName(requested, AudioBackend::Virtual);
    if (audioBackendName(explicitChoice) == requested.trimmed().toLower())
        return explicitChoice;
    if (pulseServerAnswers())
        return AudioBackend::Pulse;
    if (jackServerRunning())
        return AudioBackend::Jack;
    return AudioBackend::Alsa;
}

} // namespace koru::platform

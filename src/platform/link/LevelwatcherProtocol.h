#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <sys/types.h>

// What KORU and levelwatch say to each other over their link: operation names, argument keys,
// error codes, and how KORU starts the service with its end of the socket.
namespace koru::link {

inline constexpr const char* kErrorDomain = "KOLevelwatcher";

// Operations of the service, called by KORU.
inline constexpr const char* kOpStartRemoteServer = "startRemoteServer"; // {port, docRoot}
inline constexpr const char* kOpStopRemoteServer = "stopRemoteServer";   // one-way
// Operations of KORU, called by the service: replies {data} or {} for "not found".
inline constexpr const char* kOpMeterDocument = "requestDataDictionaryForSPLInstrument"; // {name}
inline constexpr const char* kOpMeterList = "requestSPLControllerNames";                 // {}
inline constexpr const char* kOpLogDocument = "requestSPLLogWithAttributes"; // {attributes}

inline constexpr const char* kPortKey = "port";
inline constexpr const char* kDocRootKey = "docRoot";
inline constexpr const char* kOkKey = "ok";
inline constexpr const char* kErrorKey = "error";
inline constexpr const char* kNameKey = "name";
inline constexpr const char* kAttributesKey = "attributes";
inline constexpr const char* kDataKey = "data";

// Error codes in the domain above.
inline constexpr qint64 kErrorNoFolder = -21;             // the web folder is missing or a file
inline constexpr qint64 kErrorTimedOut = -1001;           // no reply within the call's timeout
inline constexpr qint64 kErrorConnectionClosed = -1002;   // the peer closed or died
inline constexpr qint64 kErrorMessageTooLarge = -1003;    // above the message size limit
inline constexpr qint64 kErrorUnknownOperation = -1004;   //
inline constexpr qint64 kErrorBadArguments = -1005;       // missing or mistyped argument
inline constexpr qint64 kErrorListenFailed = -1006;       // the port could not be bound
inline constexpr qint64 kErrorInvalidPort = -1007;        // outside 1..65535 (KORU's check)
inline constexpr qint64 kErrorServiceUnavailable = -1008; // levelwatch could not be started
inline constexpr qint64 kErrorBadMessage = -1009;         // a reply that cannot be read

// The port asked for when none was ever stored: its low 16 bits are 29301.
inline constexpr qint64 kBuiltInPortRequest = 1802465909;

// The port a start request means: its low 16 bits when above 0, else 0 (any free port).
inline std::uint16_t requestedPort(qint64 port) {
    return port > 0 ? std::uint16_t(port & 0xFFFF) : std::uint16_t(0);
}

// levelwatch finds its end of the link on the descriptor this variable names.
inline constexpr const char* kLinkFdVariable = "KORU_LEVELWATCH_FD";
// Tests (and unusual installs) name the service program here; otherwise KORU looks next to its
// own executable.
inline constexpr const char* kProgramVariable = "KORU_LEVELWATCH";
// The descriptor the service's end is given in the child.
inline constexpr int kChildLinkFd = 3;

struct SpawnedService {
    pid_t pid = -1;
    int fd = -1; // KORU's end, close-on-exec
    QString error;
    bool ok() const { return pid > 0 && fd >= 0; }
};

// Starts `program` with the other end of a fresh socket pair on kChildLinkFd and
// kLinkFdVariable set. The caller reaps the child (waitpid) once the link has closed.
SpawnedService spawnService(const QString& program);

// The service's end, taken from the environment (and the variable removed); none when it is not
// set or does not name an open socket.
std::optional<int> inheritedLinkFd();

} // namespace koru::link

#pragma once

#include "NetAudioCodec.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koru::netaudio {

// The stream: a sender listens, a receiver connects; every message is a 12-byte little-endian
// header ("KNA1", type, flags, reserved, payload length) and its payload.
enum class MessageType : std::uint8_t {
    Hello = 1,
    Auth = 2,
    Result = 3,
    Format = 4,
    Audio = 5,
    Ping = 6
};

enum class ResultCode : std::uint16_t { Ok = 0, BadPassword = 1, Busy = 2, BadVersion = 3 };

constexpr std::size_t kHeaderBytes = 12;
constexpr std::uint32_t kMaxPayload = 65536;
constexpr std::uint16_t kProtocolVersion = 1;
constexpr std::uint16_t kMaxFramesPerPacket = 4096;
constexpr std::size_t kNonceBytes = 16;
constexpr std::size_t kAuthBytes = 32;
constexpr const char* kServiceType = "_koru-audio._tcp";

struct StreamFormat {
    double rate = 48000.0;
    std::uint16_t channels = 2;
    std::uint16_t formatIndex = 0;
    WireCodec codec = WireCodec::Float32;
    std::uint16_t maxFrames = 1024;
};

struct Hello {
    std::uint16_t version = kProtocolVersion;
    bool authRequired = false;
    std::array<std::uint8_t, kNonceBytes> nonce{};
    StreamFormat format;
    std::string name;
};

struct AudioHeader {
    std::uint64_t sampleTime = 0;
    std::uint16_t frames = 0;
    WireCodec codec = WireCodec::Float32;
    const std::uint8_t* payload = nullptr;
    std::size_t payloadBytes = 0;
};

struct Message {
    MessageType type;
    std::vector<std::uint8_t> payload;
};

QByteArray makeMessage(MessageType type, const QByteArray& payload = {});
QByteArray makeHello(const Hello& hello);
QByteArray makeAuth(const std::array<std::uint8_t, kNonceBytes>& nonce,
                    const std::string& password);
QByteArray makeResult(ResultCode code);
QByteArray makeFormat(const StreamFormat& format);
// Header plus payload of an audio message; `encoded` is the codec's output.
QByteArray makeAudio(std::uint64_t sampleTime, std::uint16_t frames, WireCodec codec,
                     const std::uint8_t* encoded, std::size_t bytes);

// Each parser checks every field it reads and answers nothing on anything out of order.
std::optional<Hello> parseHello(const std::vector<std::uint8_t>& payload);
std::optional<StreamFormat> parseFormat(const std::vector<std::uint8_t>& payload);
std::optional<ResultCode> parseResult(const std::vector<std::uint8_t>& payload);
std::optional<AudioHeader> parseAudio(const std::vector<std::uint8_t>& payload);

// HMAC-SHA256 over nonce ‖ "KNA1-auth", keyed by the password (empty without one).
std::array<std::uint8_t, kAuthBytes> authDigest(const std::array<std::uint8_t, kNonceBytes>& nonce,
                                                const std::string& password);
// Constant time, so the answer's timing tells nothing about how much of it was right.
bool authMatches(const std::vector<std::uint8_t>& payload,
                 const std::array<std::uint8_t, kNonceBytes>& nonce, const std::string& password);

// Cuts a byte stream into messages. After an error it stays failed: the connection is closed.
class MessageReader {
public:
    void append(const std::uint8_t* data, std::size_t bytes);
    // The next whole message, none while one is incomplete or after an error.
    std::optional<Message> next();
    bool failed() const { return !mError.empty(); }
    const std::string& error() const { return mError; }

private:
    std::vector<std::uint8_t> mBuffer;
    std::string mError;
};

} // namespace koru::netaudio

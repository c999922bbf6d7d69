#pragma once

#include "platform/archive/KeyedArchive.h"

#include <QString>

#include <cstdint>
#include <memory>

class KOFloatBuffer;
class KOTransferResults;

// The one archive format of float buffers and transfer results inside model archives:
//   under K         the values as raw little-endian 32-bit IEEE floats (4 bytes each);
//   under K + "dc"  the buffer's decibel flag;
// and a transfer result under K as three such buffers under K + "mag", K + "phi", K + "coh".
//
// Readers always know how long the buffer must be (the model's FFT size). A missing, empty,
// ragged or wrongly sized entry is damage: it decodes as a zeroed buffer of that length with its
// flag clear, and a log line names the key, so a damaged archive restores a silent trace instead
// of failing or reading past the data.
class KOFloatBufferCoding {
public:
    static constexpr const char* kDecibelSuffix = "dc";
    static constexpr const char* kMagnitudeSuffix = "mag";
    static constexpr const char* kPhaseSuffix = "phi";
    static constexpr const char* kCoherenceSuffix = "coh";

    static void encodeFloatBuffer(koru::platform::KeyedArchiver& coder, const KOFloatBuffer& buffer,
                                  const QString& key);
    // A new buffer of `length` values (length > 0; 0 throws KOBufferException 'bxzl').
    static std::unique_ptr<KOFloatBuffer>
    decodeFloatBufferForKey(koru::platform::KeyedUnarchiver& coder, const QString& key,
                            std::uint32_t length);

    // Results without buffers store nothing.
    static void encodeTransferResult(koru::platform::KeyedArchiver& coder,
                                     const KOTransferResults& results, const QString& key);
    // Three buffers of `length` values, each checked as above.
    static std::unique_ptr<KOTransferResults>
    decodeTransferResultsForKey(koru::platform::KeyedUnarchiver& coder, const QString& key,
                                std::uint32_t length);

    // The values under `key` as a plain array of *outLength floats; null with *outLength 0 when
    // nothing (or a byte count that is not a whole number of floats) is stored there or memory is
    // short. A null outLength throws InternalInconsistencyException.
    static std::unique_ptr<float[]> decodeFloatBufferForKey(koru::platform::KeyedUnarchiver& coder,
                                                            const QString& key,
                                                            std::uint64_t* outLength);
};

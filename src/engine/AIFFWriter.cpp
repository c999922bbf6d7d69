#include "AIFFWriter.h"

#include "platform/files/AtomicFileWriter.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace koru::platform {

namespace {

void appendU16(QByteArray& out, std::uint16_t value) {
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

void appendU32(QByteArray& out, std::uint32_t value) {
    appendU16(out, std::uint16_t(value >> 16));
    appendU16(out, std::uint16_t(value & 0xFFFF));
}

// The 80-bit IEEE extended value AIFF stores the sample rate in: sign and 15-bit exponent, then
// a 64-bit mantissa with an explicit integer bit.
void appendExtended(QByteArray& out, double value) {
    if (!(value > 0.0) || !std::isfinite(value)) {
        out.append(10, '\0');
        return;
    }
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent); // value = fraction · 2^exponent
    const auto mantissa = std::uint64_t(std::ldexp(fraction, 64));
    appendU16(out, std::uint16_t(exponent - 1 + 16383));
    appendU32(out, std::uint32_t(mantissa >> 32));
    appendU32(out, std::uint32_t(mantissa & 0xFFFFFFFFu));
}

std::int32_t toInt24(float sample) {
    if (std::isnan(sample))
        return 0;
    const double scaled = std::nearbyint(double(sample) * 8388608.0);
    return std::int32_t(std::clamp(scaled, -8388608.0, 8388607.0));
}

bool fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

} // namespace

bool writeMonoAIFF24(const QString& path, const float* samples, std::size_t count,
                     double sampleRate, QString* error) {
    constexpr std::size_t kBytesPerFrame = 3;
    if (count > (std::numeric_limits<std::uint32_t>::max() - 64) / kBytesPerFrame)
        return fail(error, QStringLiteral("too many samples for an AIFF file"));
    const auto soundBytes = std::uint32_t(count * kBytesPerFrame);
    const std::uint32_t pad = soundBytes % 2; // chunks have even sizes
    const std::uint32_t commSize = 18;
    const std::uint32_t ssndSize = 8 + soundBytes;

    QByteArray file;
    file.reserve(qsizetype(12 + 8 + commSize + 8 + ssndSize + pad));
    file.append("FORM");
    appendU32(file, 4 + 8 + commSize + 8 + ssndSize + pad);
    file.append("AIFF");
    file.append("COMM");
    appendU32(file, commSize);
    appendU16(file, 1); // channels
    appendU32(file, std::uint32_t(count));
    appendU16(file, 24); // bits per sample
    appendExtended(file, sampleRate);
    file.append("SSND");
    appendU32(file, ssndSize);
    appendU32(file, 0); // offset
    appendU32(file, 0); // block size
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = std::uint32_t(toInt24(samples[i]));
        file.append(char((value >> 16) & 0xFF));
        file.append(char((value >> 8) & 0xFF));
        file.append(char(value & 0xFF));
    }
    if (pad)
        file.append('\0');

    // QSaveFile alone notices a full disk only when it flushes at the rename, unreported for a
    // file smaller than its buffer: a truncated file would replace the old one.
    AtomicFileWriter out(path);
    QString reason;
    if (!out.open(&reason) || !out.write(file, &reason) || !out.commit(&reason))
        return fail(error, reason);
    return true;
}

} // namespace koru::platform

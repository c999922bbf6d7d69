#include "framework/KOTwoChannelInstrumentWrapper.h"

#include "engine/KOTwoChannelInstrument.h"
#include "platform/exceptions/InternalInconsistencyException.h"

#include <algorithm>
#include <limits>

using koru::platform::InternalInconsistencyException;

namespace {

std::uint32_t channelIndex(qint64 channel) {
    return static_cast<std::uint32_t>(
        std::clamp<qint64>(channel, 0, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

KOTwoChannelInstrument& KOTwoChannelInstrumentWrapper::requireInstrument(const char* operation) {
    KOTwoChannelInstrument* instrument = twoChannelInstrument();
    if (!instrument)
        throw InternalInconsistencyException(
            QStringLiteral("instrument is NULL, %1").arg(QString::fromLatin1(operation)));
    return *instrument;
}

qint64 KOTwoChannelInstrumentWrapper::inChannelA() {
    return requireInstrument("inChannelA").ChannelA();
}

qint64 KOTwoChannelInstrumentWrapper::inChannelB() {
    return requireInstrument("inChannelB").ChannelB();
}

void KOTwoChannelInstrumentWrapper::setInChannelA(qint64 channel) {
    requireInstrument("setInChannelA").SetChannelA(channelIndex(channel));
}

void KOTwoChannelInstrumentWrapper::setInChannelB(qint64 channel) {
    requireInstrument("setInChannelB").SetChannelB(channelIndex(channel));
}

void KOTwoChannelInstrumentWrapper::initWithCoder(koru::platform::KeyedUnarchiver& coder) {
    KOInstrumentWrapper::initWithCoder(coder);
    setInChannelA(coder.decodeInt(QString::fromLatin1(kChannelAKey), 0));
    setInChannelB(coder.decodeInt(QString::fromLatin1(kChannelBKey), 0));
}

void KOTwoChannelInstrumentWrapper::encodeWithCoder(koru::platform::KeyedArchiver& coder) const {
    KOInstrumentWrapper::encodeWithCoder(coder);
    // The instrument is made on first request, so asking for it is not a const operation.
    auto& self = const_cast<KOTwoChannelInstrumentWrapper&>(*this);
    coder.encodeInt(QString::fromLatin1(kChannelAKey), self.inChannelA());
    coder.encodeInt(QString::fromLatin1(kChannelBKey), self.inChannelB());
}

#pragma once

#include "framework/KOInstrumentWrapper.h"

class KOTwoChannelInstrument;

// A model whose signal processing compares two channels: the channel pair is forwarded to that
// instrument and archived as "chA" and "chB" after the base keys.
class KOTwoChannelInstrumentWrapper : public KOInstrumentWrapper {
    Q_OBJECT
public:
    static constexpr const char* kChannelAKey = "chA";
    static constexpr const char* kChannelBKey = "chB";

    // The model's signal processing; subclasses create it on the first request, because the
    // base decoding sets the channels before the subclass's own decoding runs.
    virtual KOTwoChannelInstrument* twoChannelInstrument() { return nullptr; }

    // Throw InternalInconsistencyException "instrument is NULL, <operation>" without one.
    qint64 inChannelA();
    qint64 inChannelB();
    // Clamped to the last channel by the instrument while the channel count is known;
    // a negative index selects channel 0.
    void setInChannelA(qint64 channel);
    void setInChannelB(qint64 channel);

    // Missing "chA"/"chB" decode as channel 0.
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override;
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override;

private:
    KOTwoChannelInstrument& requireInstrument(const char* operation);
};

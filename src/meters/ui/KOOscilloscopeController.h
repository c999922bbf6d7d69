#pragma once

#include "framework/KOInstrumentController.h"
#include "meters/KOOscilloscopeInstrument.h"

#include <atomic>
#include <memory>
#include <vector>

class KOOscilloscopeView;

// The oscilloscope window: two channels, the trigger source and level, and the time per
// division (in thousandths of a sample, so 100000 is 100 samples per 50-point division), which
// with the view's width fixes the capture length.
class KOOscilloscopeController : public KOInstrumentController {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "oscilloscope";
    static constexpr std::uint32_t kDefaultTimePerDiv = 100000;

    KOOscilloscopeController();
    ~KOOscilloscopeController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;

    qint64 inChannelA() const override;
    void setInChannelA(qint64 channel) override;
    qint64 inChannelB() const override;
    void setInChannelB(qint64 channel) override;

    float triggerLevel() const { return mInstrument->TriggerLevel(); }
    void setTriggerLevel(float level);
    std::uint32_t triggerSource() const { return mInstrument->TriggerChannel(); }
    void setTriggerSource(std::uint32_t source) { mInstrument->SetTriggerChannel(source); }
    std::uint32_t timePerDiv() const { return mTimePerDiv.load(std::memory_order_relaxed); }
    void setTimePerDiv(std::uint32_t value);
    // The capture length for a view `width` points wide.
    static std::uint32_t captureLength(std::uint32_t timePerDiv, double width);

    KOOscilloscopeView* view() const { return mView; }
    KOOscilloscopeInstrument* instrument() const { return mInstrument.get(); }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    std::unique_ptr<KOOscilloscopeInstrument> mInstrument;
    KOOscilloscopeView* mView = nullptr; // owned by the window
    std::atomic<std::uint32_t> mTimePerDiv{kDefaultTimePerDiv};
    std::atomic<std::uint32_t> mUnit{2};
    std::atomic<bool> mDrawA{true};
    std::atomic<bool> mDrawB{true};
};

#pragma once

#include "framework/KOInstrumentController.h"
#include "meters/KOOscilloscopeInstrument.h"

#include <QColor>
#include <QPointF>

#include <atomic>
#include <memory>
#include <vector>

class KOOscilloscopeView;
class QCheckBox;
class QSlider;

namespace koru::framework {
class ColourWell;
} // namespace koru::framework

// The oscilloscope window: two channels, the trigger source and level, and the time per
// division (in thousandths of a sample, so 100000 is 100 samples per 50-point division), which
// with the view's width fixes the capture length. The time per division is offered in samples
// or in microseconds per division; a change of the sample rate keeps the time per division as
// near as the items allow.
class KOOscilloscopeController : public KOInstrumentController {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "oscilloscope";
    static constexpr std::uint32_t kDefaultTimePerDiv = 100000;
    static constexpr unsigned kRedrawRate = 18;
    // Time units of the time-per-division items.
    static constexpr std::uint32_t kSamplesPerDiv = 1;
    static constexpr std::uint32_t kMicrosecondsPerDiv = 2;
    // Tags of the instrument menu's submenus.
    static constexpr qint64 kTriggerSourceMenuTag = 1065008;
    static constexpr qint64 kUnitMenuTag = 1064976;
    static constexpr qint64 kTimeMenuTag = 1064992;

    KOOscilloscopeController();
    ~KOOscilloscopeController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;
    void audioPropertiesChanged() override;
    QMenu* instrumentMenu() override;
    bool drawPauseIcon() const override { return true; }
    void setPause(bool pause) override;

    qint64 inChannelA() const override;
    void setInChannelA(qint64 channel) override;
    qint64 inChannelB() const override;
    void setInChannelB(qint64 channel) override;

    float triggerLevel() const { return mInstrument->TriggerLevel(); }
    void setTriggerLevel(float level);
    std::uint32_t triggerSource() const { return mInstrument->TriggerChannel(); }
    void setTriggerSource(std::uint32_t source);
    std::uint32_t timePerDiv() const { return mTimePerDiv.load(std::memory_order_relaxed); }
    void setTimePerDiv(std::uint32_t value);
    std::uint32_t timeUnit() const { return mUnit.load(std::memory_order_relaxed); }
    // Rebuilds the time items for the unit and moves the time per division to the nearest one.
    void setTimeUnit(std::uint32_t unit);
    // The item whose tag is nearest to `value` (the first on a tie) becomes the time per div.
    void selectTimePerDivClosestTo(std::uint32_t value);
    // The tags of the time items of `unit` at `sampleRate`.
    static std::vector<std::uint32_t> timePerDivTags(std::uint32_t unit, double sampleRate);
    bool drawChannelA() const { return mDrawA.load(std::memory_order_relaxed); }
    void setDrawChannelA(bool draw);
    bool drawChannelB() const { return mDrawB.load(std::memory_order_relaxed); }
    void setDrawChannelB(bool draw);
    QColor colorTraceA() const;
    void setColorTraceA(const QColor& colour);
    QColor colorTraceB() const;
    void setColorTraceB(const QColor& colour);
    // The rate the time items were built for.
    double menuSampleRate() const { return mSR; }

    // The capture length for a view `width` points wide.
    static std::uint32_t captureLength(std::uint32_t timePerDiv, double width);
    // How many points of the view a capture of `length` samples covers: the view's width, or
    // fewer when the capture length was clamped below what the width asks for.
    static std::uint32_t coveredPoints(std::uint32_t length, std::uint32_t timePerDiv,
                                       std::uint32_t width);

    // The read-outs for a point of the view (y-up) of `height`: the time under x, the
    // amplitude and its level under y.
    void infoStringsForPoint(QPointF point, double height, QString* xText, QString* yText) const;
    QString positionInfoStringForPoint(QPointF point, double height) const;

    KOOscilloscopeView* view() const { return mView; }
    KOOscilloscopeInstrument* instrument() const { return mInstrument.get(); }
    QComboBox* timePerDivPopUp() const { return mTimePerDivMenu; }
    QComboBox* unitPopUp() const { return mTimePerDivUnitMenu; }
    QComboBox* triggerSourcePopUp() const { return mTriggerSourceMenu; }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    double sampleRate();
    std::unique_ptr<QMenu> timePerDivMenu();
    std::unique_ptr<QMenu> unitMenu();
    std::unique_ptr<QMenu> triggerSourceMenu();
    void rebuildTimePerDivItems();
    void selectInPopUps();

    std::unique_ptr<KOOscilloscopeInstrument> mInstrument;
    KOOscilloscopeView* mView = nullptr; // owned by the window
    QCheckBox* mDrawCh1Button = nullptr;
    QCheckBox* mDrawCh2Button = nullptr;
    QSlider* mTriggerSlider = nullptr; // hundredths of full scale
    QComboBox* mTriggerSourceMenu = nullptr;
    QComboBox* mTimePerDivUnitMenu = nullptr;
    QComboBox* mTimePerDivMenu = nullptr;
    koru::framework::ColourWell* colorWellTraceA = nullptr;
    koru::framework::ColourWell* colorWellTraceB = nullptr;
    std::atomic<std::uint32_t> mTimePerDiv{kDefaultTimePerDiv};
    std::atomic<std::uint32_t> mUnit{kMicrosecondsPerDiv};
    std::atomic<bool> mDrawA{true};
    std::atomic<bool> mDrawB{true};
    double mSR = 0.0; // main thread
};

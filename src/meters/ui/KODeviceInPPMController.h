#pragma once

#include "framework/KOInstrumentController.h"
#include "meters/KOMeterMath.h"

#include <QTimer>

#include <array>

class KOAD;
class KODeviceInPPMView;

// The input meters: one peak programme meter per engine channel, read from the engine's own
// levels 15 times a second, with latching clip indicators that the window's reset (and a click
// on the clip notification, through the application) clears.
class KODeviceInPPMController : public KOInstrumentController {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "ppm";
    static constexpr int kRefreshMilliseconds = 1000 / 15;

    KODeviceInPPMController();
    ~KODeviceInPPMController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    void resetAll() override;
    void resetCurrent() override { resetAll(); }
    QVariantMap dictionaryRepresentation() const override;

    bool showsChannel(std::uint32_t channel) const;
    // The last visible channel stays visible.
    void setShowsChannel(std::uint32_t channel, bool show);
    bool showsLabels() const { return mShowLabels; }
    void setShowsLabels(bool show) { mShowLabels = show; }

    // Main thread: reads every channel of `engine` (at most 256) into the view; null shows no
    // meter.
    void refreshMeters(const KOAD* engine);
    const koru::meters::ClipLatches& clipLatches() const { return mLatches; }
    KODeviceInPPMView* view() const { return mView; }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    KODeviceInPPMView* mView = nullptr; // owned by the window
    koru::meters::ClipLatches mLatches;
    std::array<bool, koru::meters::ClipLatches::kChannels> mVisible;
    bool mShowLabels = false;
    std::uint32_t mChannelCount = 0; // at the last refresh
    QTimer mTimer;
};

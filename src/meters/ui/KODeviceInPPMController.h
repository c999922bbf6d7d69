#pragma once

#include "framework/KOInstrumentController.h"
#include "meters/KOMeterMath.h"

#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>

class KOAD;
class KODeviceInPPMView;
class QTableWidget;

// The input meters: one peak programme meter per engine channel, read from the engine's own
// levels 15 times a second, with latching clip indicators that the window's reset, a click near
// the meters' top and a click on the clip notification (through the application) clear. The
// channel table in the settings panel chooses the channels shown; the meters stand upright or
// lie down with the window's shape.
class KODeviceInPPMController : public KOInstrumentController {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "ppm";
    static constexpr int kRefreshMilliseconds = 1000 / 15;
    static constexpr int kShowColumn = 0;
    static constexpr int kNameColumn = 1;

    KODeviceInPPMController();
    ~KODeviceInPPMController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    void resetAll() override;
    void resetCurrent() override { resetAll(); }
    void audioPropertiesChanged() override;
    QVariantMap dictionaryRepresentation() const override;
    QMenu* instrumentMenu() override;

    bool showsChannel(std::uint32_t channel) const;
    // The last visible channel stays visible.
    void setShowsChannel(std::uint32_t channel, bool show);
    // A click in the table's "show" column: with Alt held, unchecking shows only this channel
    // and checking shows all others and hides this one. The last visible channel stays.
    void setShowsChannelFromTable(std::uint32_t row, bool show, Qt::KeyboardModifiers modifiers);
    bool showsLabels() const { return mShowLabels; }
    void setShowsLabels(bool show);
    void toggleLabelDrawing() { setShowsLabels(!mShowLabels); }
    // Swaps the window's width and height: upright meters lie down and the other way round.
    void toggleRotation();

    // Fits the window across the visible meters, reloads the table and clears the clip boxes.
    void synchronizeWithAudioSettings();

    // Main thread: reads every channel of `engine` (at most 256) into the view; null shows no
    // meter.
    void refreshMeters(const KOAD* engine);
    const koru::meters::ClipLatches& clipLatches() const { return mLatches; }
    KODeviceInPPMView* view() const { return mView; }
    QTableWidget* channelTable() const { return mTable; }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    std::uint32_t channelCount() const;
    std::size_t visibleCount() const;
    void reloadTable();
    QString channelName(std::uint32_t channel) const;

    KODeviceInPPMView* mView = nullptr; // owned by the window
    QTableWidget* mTable = nullptr;     // owned by the window
    koru::meters::ClipLatches mLatches;
    std::array<bool, koru::meters::ClipLatches::kChannels> mVisible;
    bool mShowLabels = true;
    std::uint32_t mChannelCount = 0; // at the last refresh
    QStringList mNames;              // of the engine's channels, refreshed with the count
    const KOAD* mNamedEngine = nullptr;
    QTimer mTimer;
};

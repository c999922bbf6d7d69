#pragma once

#include "engine/AudioDeviceNotifier.h"
#include "platform/desktop/NotificationSink.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace koru::platform {
class UserDefaults;
}

// The one place the program's user notifications leave from: SPL alarms, input clipping,
// audio-hardware changes and the delay finder's result, each with its own rate limit, plus what
// a click on one of them means. Posts may come from any thread (clip batches and SPL alarms come
// from the background queue); clicks are handled on the main thread.
//
// The audio device and the application controller plug into it through the hooks below; until
// they do, channels are named by number only, the clip switch reads off and a click on a clip
// notification resets nothing.
class KOGrowlNotificationCenter : public koru::AudioDeviceNotifier {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using ChannelNameProvider = std::function<QString(unsigned channel)>;
    using ClipSwitchReader = std::function<bool()>;
    using ClipSwitchWriter = std::function<void(bool)>;
    using ClipIndicatorReset = std::function<void()>;

    static const QString kSPLTitle;
    static const QString kClipTitle;
    static const QString kHardwareTitle;
    static const QString kDelayFinderTitle;
    static const QString kStayOnScreenKey;
    static const QString kUseSystemNotificationSystemKey;

    // The program's instance, created on first use from any thread: the desktop's notification
    // service on the session bus, the standard user defaults and the monotonic clock. Needs the
    // QApplication to exist.
    static KOGrowlNotificationCenter& sharedGrowlCenter();

    KOGrowlNotificationCenter(std::unique_ptr<koru::platform::NotificationSink> sink,
                              koru::platform::UserDefaults& defaults,
                              Clock clock = std::chrono::steady_clock::now);
    ~KOGrowlNotificationCenter() override;

    KOGrowlNotificationCenter(const KOGrowlNotificationCenter&) = delete;
    KOGrowlNotificationCenter& operator=(const KOGrowlNotificationCenter&) = delete;

    void setChannelNameProvider(ChannelNameProvider provider) override;
    void setClipSwitch(ClipSwitchReader reader, ClipSwitchWriter writer) override;
    void setClipIndicatorReset(ClipIndicatorReset reset);

    void postSPLExceededGrowlNotification(const void* sender, const QString& description);
    void addClippingChannelToNextGrowlNotifications(unsigned channel) override;
    void runGrowlNotificationsForClippingChannels() override;
    void postAudioClippingNotification(unsigned channel);
    void postAudioHardwareNotification(const QString& text) override;
    void postDelayFinderFinishedNotification(const QString& text);
    // Withdraws our notifications still on screen; called at termination.
    void cleanUp();

    bool useNativeNotificationSystem() const { return true; }
    void setUseNativeNotificationSystem(bool useNative);
    bool growlClipNotificationStaysOnScreen() const { return m_clipStaysOnScreen.load(); }
    void setGrowlClipNotificationStaysOnScreen(bool staysOnScreen);
    bool postGrowlNotificationOnClip() const;
    void setPostGrowlNotificationOnClip(bool post);

    // The one poster. Icon and priority have no counterpart on the desktop and are ignored; a
    // sticky notification stays on screen until the user dismisses it, and a newer one of the
    // same name (and channel, for clipping) takes its place instead of stacking up.
    void notifyWithTitle(const QString& title, const QString& description,
                         const QString& notificationName, const QByteArray& iconData, int priority,
                         bool isSticky, const QVariant& clickContext);

    // The user clicked one of our notifications.
    void didActivateNotification(const QVariant& clickContext);

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    void postClipLocked(unsigned channel);
    QString channelName(unsigned channel) const;

    std::unique_ptr<koru::platform::NotificationSink> m_sink;
    koru::platform::UserDefaults& m_defaults;
    Clock m_clock;

    // Lock order: each mutex below is taken alone, never while holding another.
    std::mutex m_batchMutex; // guards m_nextClipChannels and m_clippingTimes
    std::vector<unsigned> m_nextClipChannels;
    std::map<unsigned, TimePoint> m_clippingTimes;

    std::atomic<bool> m_clipStaysOnScreen{false};

    std::mutex m_hardwareMutex; // guards m_lastHardwareText
    std::optional<QString> m_lastHardwareText;

    // Nanoseconds on m_clock of the last SPL post; the sentinel stands for "never", so the first
    // alarm posts at once.
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::min();
    std::atomic<std::int64_t> m_lastSPLNotification{kNever};

    mutable std::mutex m_hooksMutex; // guards the hooks; never held while calling one
    ChannelNameProvider m_channelName;
    ClipSwitchReader m_clipSwitchReader;
    ClipSwitchWriter m_clipSwitchWriter;
    ClipIndicatorReset m_clipIndicatorReset;
};

#include "app/KOGrowlNotificationCenter.h"

#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/DesktopNotifications.h"
#include "platform/log/Log.h"
#include "platform/plist/VariantTypes.h"

#include <fmt/format.h>

#include <exception>
#include <utility>

using koru::platform::NotificationSink;
using koru::platform::UserDefaults;
using koru::platform::UserNotification;

const QString KOGrowlNotificationCenter::kSPLTitle =
    QStringLiteral("Sound Pressure Level above Limit");
const QString KOGrowlNotificationCenter::kClipTitle = QStringLiteral("Input Clip");
const QString KOGrowlNotificationCenter::kHardwareTitle = QStringLiteral("Audio Hardware changed");
const QString KOGrowlNotificationCenter::kDelayFinderTitle =
    QStringLiteral("Delay Finder has calculated");
const QString KOGrowlNotificationCenter::kStayOnScreenKey =
    QStringLiteral("GrowlClipNotification.StayOnScreen");
const QString KOGrowlNotificationCenter::kUseSystemNotificationSystemKey =
    QStringLiteral("KOGrowl.UseSystemNotificationSystem");

namespace {

constexpr std::chrono::seconds kSPLInterval{60};
constexpr std::chrono::seconds kClipInterval{15};
constexpr int kPriorityNormal = 0;
constexpr int kPriorityClip = 1;

std::int64_t ticks(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

} // namespace

KOGrowlNotificationCenter& KOGrowlNotificationCenter::sharedGrowlCenter() {
    // Never destroyed: the background queue may still post while the program exits.
    static KOGrowlNotificationCenter* const center =
        new KOGrowlNotificationCenter(std::make_unique<koru::platform::DesktopNotifications>(),
                                      UserDefaults::standardUserDefaults());
    return *center;
}

KOGrowlNotificationCenter::KOGrowlNotificationCenter(std::unique_ptr<NotificationSink> sink,
                                                     UserDefaults& defaults, Clock clock)
    : m_sink(std::move(sink)), m_defaults(defaults), m_clock(std::move(clock)) {
    m_clipStaysOnScreen.store(m_defaults.boolForKey(kStayOnScreenKey));
    setUseNativeNotificationSystem(m_defaults.boolForKey(kUseSystemNotificationSystemKey));
}

KOGrowlNotificationCenter::~KOGrowlNotificationCenter() = default;

void KOGrowlNotificationCenter::setChannelNameProvider(ChannelNameProvider provider) {
    std::lock_guard lock(m_hooksMutex);
    m_channelName = std::move(provider);
}

void KOGrowlNotificationCenter::setClipSwitch(ClipSwitchReader reader, ClipSwitchWriter writer) {
    std::lock_guard lock(m_hooksMutex);
    m_clipSwitchReader = std::move(reader);
    m_clipSwitchWriter = std::move(writer);
}

void KOGrowlNotificationCenter::setClipIndicatorReset(ClipIndicatorReset reset) {
    std::lock_guard lock(m_hooksMutex);
    m_clipIndicatorReset = std::move(reset);
}

void KOGrowlNotificationCenter::postSPLExceededGrowlNotification(const void* /*sender*/,
                                                                 const QString& description) {
    const std::int64_t now = ticks(m_clock());
    const std::int64_t interval =
        std::chrono::duration_cast<std::chrono::nanoseconds>(kSPLInterval).count();
    std::int64_t last = m_lastSPLNotification.load();
    // Only an alarm that really posts restarts the minute; a continuous alarm then shows again
    // once a minute instead of being held back by its own repeats.
    do {
        if (last != kNever && now - last <= interval)
            return;
    } while (!m_lastSPLNotification.compare_exchange_weak(last, now));
    notifyWithTitle(kSPLTitle, description, kSPLTitle, {}, kPriorityNormal, true, kSPLTitle);
}

void KOGrowlNotificationCenter::addClippingChannelToNextGrowlNotifications(unsigned channel) {
    std::lock_guard lock(m_batchMutex);
    m_nextClipChannels.push_back(channel);
}

void KOGrowlNotificationCenter::runGrowlNotificationsForClippingChannels() {
    std::lock_guard lock(m_batchMutex);
    for (const unsigned channel : m_nextClipChannels)
        postClipLocked(channel);
    m_nextClipChannels.clear();
}

void KOGrowlNotificationCenter::postAudioClippingNotification(unsigned channel) {
    std::lock_guard lock(m_batchMutex);
    postClipLocked(channel);
}

void KOGrowlNotificationCenter::postClipLocked(unsigned channel) {
    const TimePoint now = m_clock();
    const auto last = m_clippingTimes.find(channel);
    if (last != m_clippingTimes.end() && now - last->second <= kClipInterval)
        return;
    // Recorded on a real post only: a channel clipping without pause shows again every 15 s.
    m_clippingTimes[channel] = now;
    notifyWithTitle(kClipTitle, channelName(channel), kClipTitle, {}, kPriorityClip,
                    growlClipNotificationStaysOnScreen(), QVariant::fromValue(channel));
}

QString KOGrowlNotificationCenter::channelName(unsigned channel) const {
    ChannelNameProvider provider;
    {
        std::lock_guard lock(m_hooksMutex);
        provider = m_channelName;
    }
    if (provider)
        return provider(channel);
    return QString::fromStdString(fmt::format("({})", channel + 1));
}

void KOGrowlNotificationCenter::postAudioHardwareNotification(const QString& text) {
    {
        std::lock_guard lock(m_hardwareMutex);
        if (m_lastHardwareText == text)
            return;
        m_lastHardwareText = text;
    }
    notifyWithTitle(kHardwareTitle, text, kHardwareTitle, {}, kPriorityNormal, false, text);
}

void KOGrowlNotificationCenter::postDelayFinderFinishedNotification(const QString& text) {
    notifyWithTitle(kDelayFinderTitle, text, kDelayFinderTitle, {}, kPriorityNormal, false, {});
}

void KOGrowlNotificationCenter::cleanUp() {
    m_sink->removeAll();
}

void KOGrowlNotificationCenter::setUseNativeNotificationSystem(bool useNative) {
    m_defaults.setBool(kUseSystemNotificationSystemKey, useNative);
    m_sink->setClickHandler([this](const QVariant& context) { didActivateNotification(context); });
    koru::log::info("notification system: {}", "Desktop notifications");
}

void KOGrowlNotificationCenter::setGrowlClipNotificationStaysOnScreen(bool staysOnScreen) {
    m_clipStaysOnScreen.store(staysOnScreen);
    m_defaults.setBool(kStayOnScreenKey, staysOnScreen);
}

bool KOGrowlNotificationCenter::postGrowlNotificationOnClip() const {
    ClipSwitchReader reader;
    {
        std::lock_guard lock(m_hooksMutex);
        reader = m_clipSwitchReader;
    }
    return reader ? reader() : false;
}

void KOGrowlNotificationCenter::setPostGrowlNotificationOnClip(bool post) {
    ClipSwitchWriter writer;
    {
        std::lock_guard lock(m_hooksMutex);
        writer = m_clipSwitchWriter;
    }
    if (writer)
        writer(post);
}

void KOGrowlNotificationCenter::notifyWithTitle(const QString& title, const QString& description,
                                                const QString& notificationName,
                                                const QByteArray& /*iconData*/, int /*priority*/,
                                                bool isSticky, const QVariant& clickContext) {
    koru::log::info("posting notification: {}, {}", title.toStdString(), description.toStdString());
    UserNotification notification;
    notification.title = title;
    notification.body = description;
    notification.context = clickContext;
    notification.sticky = isSticky;
    // A newer notification of the same name (and channel) replaces the one on screen; those
    // without a click context (the delay finder's results) are each kept.
    if (koru::platform::isInteger(clickContext))
        notification.replaceKey = notificationName + QLatin1Char('/') + clickContext.toString();
    else if (clickContext.isValid())
        notification.replaceKey = notificationName;
    m_sink->post(notification);
}

void KOGrowlNotificationCenter::didActivateNotification(const QVariant& clickContext) {
    if (clickContext.metaType().id() == QMetaType::QString) {
        const QString text = clickContext.toString();
        if (text == kSPLTitle)
            return; // the SPL limit stays purely time based
        std::lock_guard lock(m_hardwareMutex);
        if (m_lastHardwareText == text)
            m_lastHardwareText.reset();
        return;
    }
    if (!koru::platform::isInteger(clickContext))
        return;
    ClipIndicatorReset reset;
    {
        std::lock_guard lock(m_hooksMutex);
        reset = m_clipIndicatorReset;
    }
    if (!reset)
        return;
    try {
        reset();
    } catch (const std::exception& e) {
        koru::log::warn("resetting the clip indicators failed: {}", e.what());
    } catch (...) {
        koru::log::warn("resetting the clip indicators failed");
    }
}

#pragma once

#include "platform/desktop/NotificationSink.h"
#include "support/TestSupport.h"

#include <QString>

#include <atomic>

namespace koru::test {

// A notification centre needs somewhere to post; these tests only look at what it stores.
class DiscardingSink : public platform::NotificationSink {
public:
    void post(const platform::UserNotification&) override {}
    void removeAll() override {}
    void setClickHandler(ClickHandler) override {}
};

// A defaults file of its own for each simulated run of the program.
inline QString freshDefaultsPath(const QString& stem) {
    static std::atomic<int> serial{0};
    return testRoot() + QStringLiteral("/%1-%2.plist").arg(stem).arg(++serial);
}

} // namespace koru::test

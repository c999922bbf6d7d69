#include "platform/desktop/TerminationSignals.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using koru::platform::TerminationSignals;

// The signals reach the event loop as a Qt signal instead of ending the process; once the object
// is gone they end it again (checked in a child, which the default action kills).
TEST(TerminationSignals, SigintAndSigtermArriveInTheEventLoopWhileInstalled) {
    {
        TerminationSignals signals_;
        ASSERT_TRUE(signals_.isInstalled());
        // Only one may hold the handlers.
        TerminationSignals second;
        EXPECT_FALSE(second.isInstalled());

        QSignalSpy spy(&signals_, &TerminationSignals::terminationRequested);
        ASSERT_EQ(std::raise(SIGTERM), 0);
        ASSERT_EQ(std::raise(SIGINT), 0);
        while (spy.count() < 2)
            ASSERT_TRUE(spy.wait());
        EXPECT_EQ(spy.at(0).at(0).toInt(), SIGTERM);
        EXPECT_EQ(spy.at(1).at(0).toInt(), SIGINT);
    }
    EXPECT_EXIT(std::raise(SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
}

} // namespace

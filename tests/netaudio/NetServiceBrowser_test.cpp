#include "netaudio/NetServiceBrowser.h"
#include "netaudio/ServiceRegistry.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace koru::netaudio;
using Origin = NetServiceBrowser::Origin;

namespace {

std::vector<std::string> namesFrom(const NetServiceBrowser& browser, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& name : browser.names())
        if (name.rfind(prefix, 0) == 0)
            names.push_back(name);
    return names;
}

// Findings from both origins, in sequence; the list after each.
TEST(NetServiceBrowser, ListsEachSenderOnceInOrderOfDiscovery) {
    struct Step {
        bool found;
        const char* name;
        Origin origin;
        std::vector<std::string> listed;
    };
    const Step steps[] = {
        {true, "B", Origin::Network, {"B"}},
        {true, "A", Origin::Process, {"B", "A"}},
        {true, "A", Origin::Network, {"B", "A"}},  // seen both ways: once
        {false, "A", Origin::Process, {"B", "A"}}, // still on the network
        {true, "C", Origin::Network, {"B", "A", "C"}},
        {false, "A", Origin::Network, {"B", "C"}}, // gone from both
        {false, "Z", Origin::Network, {"B", "C"}}, // never listed: nothing
        {false, "B", Origin::Process, {"B", "C"}}, // a removal from the origin that never saw it
        {true, "A", Origin::Network, {"B", "C", "A"}}, // back, at the end
    };
    int changes = 0;
    NetServiceBrowser browser([&] { ++changes; });
    QCoreApplication::processEvents(); // whatever this process already offers
    const auto prefixed = [](const char* n) { return std::string("Browser test ") + n; };
    int expectedChanges = changes;
    std::vector<std::string> before;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.found ? "found " : "removed ") + step.name);
        if (step.found)
            browser.found(prefixed(step.name), step.origin);
        else
            browser.removed(prefixed(step.name), step.origin);
        std::vector<std::string> expected;
        for (const auto& n : step.listed)
            expected.push_back(prefixed(n.c_str()));
        EXPECT_EQ(namesFrom(browser, "Browser test "), expected);
        if (expected != before)
            ++expectedChanges;
        EXPECT_EQ(changes, expectedChanges) << "told once per change of the list, only then";
        before = expected;
    }
}

TEST(NetServiceBrowser, FollowsTheSendersOfThisProcessAndResolvesThem) {
    auto& registry = ServiceRegistry::instance();
    const auto early = registry.publish("Browser local early", "127.0.0.1", 50001, false);
    NetServiceBrowser browser([] {});
    const auto late = registry.publish("Browser local late", "127.0.0.1", 50002, true);
    QCoreApplication::processEvents();
    EXPECT_EQ(namesFrom(browser, "Browser local "),
              (std::vector<std::string>{"Browser local early", "Browser local late"}));

    std::vector<NetServiceBrowser::Endpoint> found;
    bool answered = false;
    browser.resolve("Browser local late", [&](std::vector<NetServiceBrowser::Endpoint> e) {
        found = std::move(e);
        answered = true;
    });
    ASSERT_TRUE(answered) << "a sender of this process answers at once";
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].address, "127.0.0.1");
    EXPECT_EQ(found[0].port, 50002);

    registry.withdraw(early);
    QCoreApplication::processEvents();
    EXPECT_EQ(namesFrom(browser, "Browser local "), std::vector<std::string>{"Browser local late"});
    registry.withdraw(late);
    QCoreApplication::processEvents();
    EXPECT_TRUE(namesFrom(browser, "Browser local ").empty());

    answered = false;
    browser.resolve("Browser local late", [&](std::vector<NetServiceBrowser::Endpoint> e) {
        found = std::move(e);
        answered = true;
    });
    // Not in this process; with discovery off the network lookup fails at once or later.
    QCoreApplication::processEvents();
    if (answered) {
        EXPECT_TRUE(found.empty());
    }
}

// A browser gone before the registry's news reaches it hears nothing more.
TEST(NetServiceBrowser, NewsAfterTheBrowserIsGoneIsDropped) {
    auto browser = std::make_unique<NetServiceBrowser>([] { FAIL() << "told after its end"; });
    const auto id = ServiceRegistry::instance().publish("Browser gone", "127.0.0.1", 50003, false);
    browser.reset();
    QCoreApplication::processEvents();
    ServiceRegistry::instance().withdraw(id);
}

} // namespace

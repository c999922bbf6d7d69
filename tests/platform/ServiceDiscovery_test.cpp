#include "platform/dnssd/ServiceDiscovery.h"
#include "support/PrivateAvahi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <string>

using namespace koru::dnssd;

TEST(ServiceDiscovery, NamesAreCutToOneLabelWithoutSplittingACharacter) {
    const std::string e9(62, 'a');
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"KORU SPL Server (studio)", "KORU SPL Server (studio)"},
        {std::string(63, 'x'), std::string(63, 'x')},
        {std::string(64, 'x'), std::string(63, 'x')},
        // A two-byte character across the 63rd byte is dropped whole.
        {e9 + "\xC3\xA9" + "z", e9},
        {std::string(61, 'a') + "\xC3\xA9" + "zz", std::string(61, 'a') + "\xC3\xA9"},
        // A four-byte character starting at byte 61.
        {std::string(60, 'a') + "\xF0\x9F\x8E\xA7", std::string(60, 'a')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fitServiceName(c.in), c.out) << c.in;
}

TEST(ServiceDiscovery, AServiceSeenOnSeveralInterfacesIsFoundOnceAndGoneWithTheLast) {
    ServiceSightings s;
    const ServiceKey a{"Stage left", "_koru-audio._tcp", "local"};
    const ServiceKey b{"Stage right", "_koru-audio._tcp", "local"};
    EXPECT_TRUE(s.seen(a, 2));
    EXPECT_FALSE(s.seen(a, 3));
    EXPECT_FALSE(s.seen(a, 2)); // repeated announcement on one interface
    EXPECT_TRUE(s.seen(b, 2));
    EXPECT_EQ(s.interfacesOf(a), (std::vector<int>{2, 3}));
    EXPECT_FALSE(s.gone(a, 2));
    EXPECT_FALSE(s.gone(a, 7)); // never seen there
    EXPECT_TRUE(s.gone(a, 3));
    EXPECT_FALSE(s.gone(a, 3));
    EXPECT_TRUE(s.interfacesOf(a).empty());
    EXPECT_EQ(s.clear(), (std::vector<ServiceKey>{b}));
    EXPECT_TRUE(s.clear().empty());
}

// Containers and CI have no Avahi daemon (often no system bus either): publishing, browsing and
// resolving must still work as no-ops, and never hang.
TEST(ServiceDiscovery, WithoutADaemonEverythingIsANoOp) {
    for (const char* setting : {"off", ""}) {
        if (*setting)
            setenv("KORU_DNSSD", setting, 1);
        else
            unsetenv("KORU_DNSSD");
        auto publication = publish("Bench " + std::string(70, 'n'), "_koru-audio._tcp", 52800);
        ASSERT_NE(publication, nullptr);
        EXPECT_EQ(publication->requestedName(), std::string("Bench ") + std::string(57, 'n'));
        publication->rename("Front of house");
        EXPECT_EQ(publication->requestedName(), "Front of house");
        int found = 0;
        Browser browser(
            "_koru-audio._tcp", [&](const ServiceKey&) { ++found; }, [](const ServiceKey&) {});
        if (!enabled()) {
            bool answered = false;
            resolve({"Front of house", "_koru-audio._tcp", "local"}, std::chrono::milliseconds(100),
                    [&](std::optional<Resolved> r) {
                        answered = true;
                        EXPECT_FALSE(r.has_value());
                    });
            EXPECT_TRUE(answered);
            EXPECT_EQ(publication->publishedName(), "Front of house");
            EXPECT_EQ(found, 0);
        }
    }
    unsetenv("KORU_DNSSD");
}

namespace {

// What a browser reported, in order, for the test thread to wait on.
class Reports {
public:
    void add(std::string what) {
        std::lock_guard lock(mMutex);
        mSeen.push_back(std::move(what));
        mChanged.notify_all();
    }
    bool waitFor(const std::string& what) {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::find(mSeen.begin(), mSeen.end(), what) != mSeen.end();
        });
    }
    int count(const std::string& what) {
        std::lock_guard lock(mMutex);
        return static_cast<int>(std::count(mSeen.begin(), mSeen.end(), what));
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<std::string> mSeen;
};

std::optional<Resolved> resolveNow(const ServiceKey& key, std::chrono::milliseconds within) {
    std::promise<std::optional<Resolved>> answer;
    resolve(key, within, [&](std::optional<Resolved> r) { answer.set_value(std::move(r)); });
    return answer.get_future().get();
}

} // namespace

TEST(ServiceDiscovery, PublishesBrowsesAndResolvesThroughARealDaemon) {
    koru::test::PrivateAvahi avahi;
    if (const QString why = avahi.start(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    unsetenv("KORU_DNSSD");
    const std::string type = "_korutest._tcp";
    Reports reports;
    Browser browser(
        type, [&](const ServiceKey& k) { reports.add("found " + k.name); },
        [&](const ServiceKey& k) { reports.add("removed " + k.name); });
    ASSERT_TRUE(enabled());

    auto first = publish("Stage left", type, 52801, {{"format", "float"}, {"password", "no"}});
    ASSERT_TRUE(reports.waitFor("found Stage left"));
    const auto resolved = resolveNow({"Stage left", type, "local"}, std::chrono::seconds(10));
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->port, 52801);
    EXPECT_FALSE(resolved->ipv4Addresses.empty());
    for (const auto& address : resolved->ipv4Addresses)
        EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
    EXPECT_EQ(resolved->txt, (TxtRecord{{"format", "float"}, {"password", "no"}}))
        << "in the order given";
    EXPECT_FALSE(resolveNow({"Nobody", type, "local"}, std::chrono::milliseconds(300)).has_value());

    // The same name again is taken: the second one is announced under another name.
    auto second = publish("Stage left", type, 52802);
    ASSERT_TRUE(reports.waitFor("found " + second->publishedName()));
    EXPECT_EQ(second->requestedName(), "Stage left");
    EXPECT_NE(second->publishedName(), "Stage left");

    first.reset();
    ASSERT_TRUE(reports.waitFor("removed Stage left"));
    const std::string alternative = second->publishedName();
    second->rename("Desk");
    ASSERT_TRUE(reports.waitFor("found Desk"));
    ASSERT_TRUE(reports.waitFor("removed " + alternative));
    // Seen on loopback and the network interface, yet reported once.
    EXPECT_EQ(reports.count("found Stage left"), 1);
    EXPECT_EQ(reports.count("found Desk"), 1);
}

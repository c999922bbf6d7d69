#include "NetServiceBrowser.h"

#include "NetAudioProtocol.h"
#include "ServiceRegistry.h"

#include "platform/desktop/MainThread.h"
#include "platform/dnssd/ServiceDiscovery.h"
#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>

namespace koru::netaudio {

// What the network's browser found, by name, for the lookups.
struct NetServiceBrowser::Network {
    std::map<std::string, dnssd::ServiceKey> keys; // GUI thread
    std::unique_ptr<dnssd::Browser> browser;
};

namespace {

// Runs `work` on the GUI thread unless the browser is gone by then. The network's callbacks
// come on its own thread and may outlive the browser's wish to hear them.
void onGuiThread(QPointer<NetServiceBrowser> browser,
                 std::function<void(NetServiceBrowser&)> work) {
    koru::platform::postToMainThread(QCoreApplication::instance(),
                                     [browser, work = std::move(work)] {
                                         if (browser)
                                             work(*browser);
                                     });
}

} // namespace

NetServiceBrowser::NetServiceBrowser(std::function<void()> changed) : mChanged(std::move(changed)) {
    // Queued even from this thread: the registry is locked while it tells us.
    mObserver = ServiceRegistry::instance().observe(
        [this](const ServiceRegistry::Service& service, bool isFound) {
            QMetaObject::invokeMethod(
                this,
                [this, name = service.name, isFound] {
                    if (isFound)
                        found(name, Origin::Process);
                    else
                        removed(name, Origin::Process);
                },
                Qt::QueuedConnection);
        });
    mNetwork = std::make_unique<Network>();
    QPointer<NetServiceBrowser> self(this);
    mNetwork->browser = std::make_unique<dnssd::Browser>(
        kServiceType,
        [self](const dnssd::ServiceKey& key) {
            onGuiThread(self, [key](NetServiceBrowser& browser) {
                browser.mNetwork->keys[key.name] = key;
                browser.found(key.name, Origin::Network);
            });
        },
        [self](const dnssd::ServiceKey& key) {
            onGuiThread(self, [key](NetServiceBrowser& browser) {
                browser.removed(key.name, Origin::Network);
            });
        });
}

NetServiceBrowser::~NetServiceBrowser() {
    mNetwork.reset(); // stops browsing
    ServiceRegistry::instance().unobserve(mObserver);
}

void NetServiceBrowser::found(const std::string& name, Origin origin) {
    log::info("Add Service: {}", name);
    auto it =
        std::find_if(mRows.begin(), mRows.end(), [&](const Row& r) { return r.name == name; });
    if (it == mRows.end())
        it = mRows.insert(mRows.end(), Row{name});
    (origin == Origin::Process ? it->inProcess : it->onNetwork) += 1;
    rebuild();
}

void NetServiceBrowser::removed(const std::string& name, Origin origin) {
    log::info("Remove Service: {}", name);
    const auto it =
        std::find_if(mRows.begin(), mRows.end(), [&](const Row& r) { return r.name == name; });
    if (it == mRows.end())
        return;
    int& count = origin == Origin::Process ? it->inProcess : it->onNetwork;
    count = std::max(0, count - 1);
    if (it->inProcess == 0 && it->onNetwork == 0)
        mRows.erase(it);
    rebuild();
}

void NetServiceBrowser::rebuild() {
    std::vector<std::string> names;
    names.reserve(mRows.size());
    for (const Row& row : mRows)
        names.push_back(row.name);
    if (names == mNames)
        return;
    mNames = std::move(names);
    if (mChanged)
        mChanged();
}

void NetServiceBrowser::resolve(const std::string& name,
                                std::function<void(std::vector<Endpoint>)> done) {
    if (const auto local = ServiceRegistry::instance().resolve(name)) {
        done({Endpoint{local->host, local->port}});
        return;
    }
    const auto key = mNetwork->keys.find(name);
    if (key == mNetwork->keys.end()) {
        done({});
        return;
    }
    QPointer<NetServiceBrowser> self(this);
    dnssd::resolve(key->second, std::chrono::milliseconds(kResolveTimeoutMs),
                   [self, done = std::move(done)](std::optional<dnssd::Resolved> resolved) {
                       std::vector<Endpoint> endpoints;
                       if (resolved)
                           for (const std::string& address : resolved->ipv4Addresses)
                               endpoints.push_back({address, resolved->port});
                       onGuiThread(self,
                                   [done, endpoints](NetServiceBrowser&) { done(endpoints); });
                   });
}

} // namespace koru::netaudio

#include "NetServiceBrowser.h"

#include "NetAudioProtocol.h"
#include "ServiceRegistry.h"

#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>

namespace koru::netaudio {

struct NetServiceBrowser::Network {};

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
}

NetServiceBrowser::~NetServiceBrowser() {
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
    done({});
}

} // namespace koru::netaudio

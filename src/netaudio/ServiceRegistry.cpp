#include "ServiceRegistry.h"

#include <algorithm>

namespace koru::netaudio {

ServiceRegistry& ServiceRegistry::instance() {
    static ServiceRegistry registry;
    return registry;
}

std::uint64_t ServiceRegistry::publish(const std::string& name, const std::string& host,
                                       std::uint16_t port, bool passwordRequired) {
    std::lock_guard observers(mObserverMutex); // no observer hears of it twice or not at all
    Service service;
    {
        std::lock_guard lock(mMutex);
        service = {mNextId++, name, host, port, passwordRequired};
        mServices.push_back(service);
    }
    tell(service, true);
    return service.id;
}

void ServiceRegistry::withdraw(std::uint64_t id) {
    std::lock_guard observers(mObserverMutex);
    std::optional<Service> gone;
    {
        std::lock_guard lock(mMutex);
        const auto it = std::find_if(mServices.begin(), mServices.end(),
                                     [id](const Service& s) { return s.id == id; });
        if (it == mServices.end())
            return;
        gone = *it;
        mServices.erase(it);
    }
    tell(*gone, false);
}

std::uint64_t ServiceRegistry::observe(Observer observer) {
    std::lock_guard observers(mObserverMutex);
    const std::uint64_t id = mNextObserver++;
    for (const Service& service : services())
        observer(service, true);
    mObservers.emplace_back(id, std::move(observer));
    return id;
}

void ServiceRegistry::unobserve(std::uint64_t id) {
    std::lock_guard observers(mObserverMutex);
    std::erase_if(mObservers, [id](const auto& o) { return o.first == id; });
}

void ServiceRegistry::tell(const Service& service, bool found) {
    for (const auto& [id, observer] : mObservers)
        observer(service, found);
}

std::vector<ServiceRegistry::Service> ServiceRegistry::services() const {
    std::lock_guard lock(mMutex);
    return mServices;
}

std::optional<ServiceRegistry::Service> ServiceRegistry::resolve(const std::string& name) const {
    std::lock_guard lock(mMutex);
    const auto it = std::find_if(mServices.begin(), mServices.end(),
                                 [&](const Service& s) { return s.name == name; });
    if (it == mServices.end())
        return std::nullopt;
    return *it;
}

} // namespace koru::netaudio

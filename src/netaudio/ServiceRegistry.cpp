#include "ServiceRegistry.h"

#include <algorithm>

namespace koru::netaudio {

ServiceRegistry& ServiceRegistry::instance() {
    static ServiceRegistry registry;
    return registry;
}

std::uint64_t ServiceRegistry::publish(const std::string& name, const std::string& host,
                                       std::uint16_t port, bool passwordRequired) {
    std::lock_guard lock(mMutex);
    mServices.push_back({mNextId, name, host, port, passwordRequired});
    return mNextId++;
}

void ServiceRegistry::withdraw(std::uint64_t id) {
    std::lock_guard lock(mMutex);
    std::erase_if(mServices, [id](const Service& s) { return s.id == id; });
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

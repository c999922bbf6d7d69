#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace koru::netaudio {

// Senders of this process, listed for receivers of the same process: send to receive works on
// one machine without a discovery daemon, and it is what the tests browse.
class ServiceRegistry {
public:
    struct Service {
        std::uint64_t id = 0;
        std::string name;
        std::string host;
        std::uint16_t port = 0;
        bool passwordRequired = false;
    };

    static ServiceRegistry& instance();

    std::uint64_t publish(const std::string& name, const std::string& host, std::uint16_t port,
                          bool passwordRequired);
    void withdraw(std::uint64_t id);
    // In order of publication.
    std::vector<Service> services() const;
    std::optional<Service> resolve(const std::string& name) const;

    // Hears of every service published (found = true) or withdrawn from now on, on the thread
    // that published or withdrew it, after it is told of those already listed. An observer must
    // not publish or withdraw; once unobserve() returns it is not called again.
    using Observer = std::function<void(const Service&, bool found)>;
    std::uint64_t observe(Observer observer);
    void unobserve(std::uint64_t id);

private:
    void tell(const Service& service, bool found); // with mObserverMutex held

    // Lock order: mObserverMutex before mMutex.
    std::mutex mObserverMutex; // guards the observers, held while they are told
    std::vector<std::pair<std::uint64_t, Observer>> mObservers;
    mutable std::mutex mMutex;
    std::vector<Service> mServices;
    std::uint64_t mNextId = 1;
    std::uint64_t mNextObserver = 1; // guarded by mObserverMutex
};

} // namespace koru::netaudio

#pragma once

#include <cstdint>
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

private:
    mutable std::mutex mMutex;
    std::vector<Service> mServices;
    std::uint64_t mNextId = 1;
};

} // namespace koru::netaudio

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Announcing and finding services on the local network by DNS-SD, through the Avahi daemon.
//
// One process-wide Avahi client runs on its own thread; every callback below runs on that thread,
// so callers hand results to their own thread themselves. Without a daemon (containers, CI) or
// with KORU_DNSSD=off everything stays usable and does nothing: publications announce nothing,
// browsers find nothing, resolving fails; a warning is logged once per process.
namespace koru::dnssd {

using TxtRecord = std::vector<std::pair<std::string, std::string>>;

// DNS-SD labels are at most 63 bytes: the name is cut there, at a UTF-8 character boundary.
std::string fitServiceName(const std::string& name);

class Publication {
public:
    virtual ~Publication() = default; // withdraws the announcement
    virtual std::string requestedName() const = 0;
    // Differs from the requested name after a collision with another host's service.
    virtual std::string publishedName() const = 0;
    virtual void rename(const std::string& name) = 0;
};

// type like "_http._tcp"; published in the domain "local" on every interface.
std::unique_ptr<Publication> publish(const std::string& name, const std::string& type,
                                     std::uint16_t port, const TxtRecord& txt = {});

struct ServiceKey {
    std::string name;
    std::string type;
    std::string domain;
    bool operator==(const ServiceKey&) const = default;
    bool operator<(const ServiceKey& other) const;
};

// Avahi reports a service once per interface it is seen on; this reports it found once and
// removed only when it has gone from every interface.
class ServiceSightings {
public:
    // Each returns true when the caller should report the change.
    bool seen(const ServiceKey& key, int interfaceIndex);
    bool gone(const ServiceKey& key, int interfaceIndex);
    std::vector<int> interfacesOf(const ServiceKey& key) const;
    std::vector<ServiceKey> clear(); // every key still present

private:
    std::vector<std::pair<ServiceKey, std::vector<int>>> mSeen;
};

class Browser {
public:
    // Browses IPv4 only, in the domain "local". Stops when destroyed; no callback runs after the
    // destructor has returned.
    Browser(const std::string& type, std::function<void(const ServiceKey&)> found,
            std::function<void(const ServiceKey&)> removed);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    struct Impl;

private:
    std::shared_ptr<Impl> mImpl;
};

struct Resolved {
    std::vector<std::string> ipv4Addresses;
    std::uint16_t port = 0;
    TxtRecord txt;
};

// done(nullopt) when nothing answers within the timeout or discovery is off; it may run before
// resolve() returns. Addresses come in the order the interfaces answered, without repeats.
void resolve(const ServiceKey& key, std::chrono::milliseconds timeout,
             std::function<void(std::optional<Resolved>)> done);

// False when KORU_DNSSD=off or no Avahi client could be made.
bool enabled();

} // namespace koru::dnssd

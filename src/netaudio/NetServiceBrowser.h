#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace koru::netaudio {

// The senders a receiver can pick, by name, in order of discovery: those of this process (the
// in-process registry) merged with those announced on the network, each listed once however
// many ways and interfaces it is seen on, and kept until the last of them is gone.
//
// Lives on the GUI thread: findings from other threads are queued to it, and `changed` runs
// there after every change of the list.
class NetServiceBrowser : public QObject {
public:
    enum class Origin { Process, Network };
    struct Endpoint {
        std::string address;
        std::uint16_t port = 0;
    };

    explicit NetServiceBrowser(std::function<void()> changed);
    ~NetServiceBrowser() override;

    const std::vector<std::string>& names() const { return mNames; }

    // GUI thread. A sender seen or lost by one origin.
    void found(const std::string& name, Origin origin);
    void removed(const std::string& name, Origin origin);

    // Where to connect to the named sender: a sender of this process answers at once; one on
    // the network is asked for (IPv4 only) and `done` runs later on the GUI thread, unless the
    // browser is gone by then. An empty answer: not found, or the lookup failed or timed out.
    void resolve(const std::string& name, std::function<void(std::vector<Endpoint>)> done);
    static constexpr int kResolveTimeoutMs = 5000;

private:
    struct Row {
        std::string name;
        int inProcess = 0;
        int onNetwork = 0;
    };
    void rebuild();

    std::function<void()> mChanged;
    std::vector<Row> mRows;
    std::vector<std::string> mNames;
    std::uint64_t mObserver = 0;
    struct Network;
    std::unique_ptr<Network> mNetwork;
};

} // namespace koru::netaudio

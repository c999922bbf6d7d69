#include "platform/dnssd/ServiceDiscovery.h"

#include "platform/log/Log.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace koru::dnssd {

std::string fitServiceName(const std::string& name) {
    constexpr std::size_t kMaxLabel = 63;
    if (name.size() <= kMaxLabel)
        return name;
    std::size_t cut = kMaxLabel;
    // Step back over continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut);
}

bool ServiceKey::operator<(const ServiceKey& other) const {
    return std::tie(name, type, domain) < std::tie(other.name, other.type, other.domain);
}

bool ServiceSightings::seen(const ServiceKey& key, int interfaceIndex) {
    for (auto& [k, interfaces] : mSeen) {
        if (k == key) {
            if (std::find(interfaces.begin(), interfaces.end(), interfaceIndex) == interfaces.end())
                interfaces.push_back(interfaceIndex);
            return false;
        }
    }
    mSeen.push_back({key, {interfaceIndex}});
    return true;
}

bool ServiceSightings::gone(const ServiceKey& key, int interfaceIndex) {
    for (auto it = mSeen.begin(); it != mSeen.end(); ++it) {
        if (it->first == key) {
            std::erase(it->second, interfaceIndex);
            if (!it->second.empty())
                return false;
            mSeen.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<int> ServiceSightings::interfacesOf(const ServiceKey& key) const {
    for (const auto& [k, interfaces] : mSeen)
        if (k == key)
            return interfaces;
    return {};
}

std::vector<ServiceKey> ServiceSightings::clear() {
    std::vector<ServiceKey> keys;
    for (auto& [k, interfaces] : mSeen)
        keys.push_back(k);
    mSeen.clear();
    return keys;
}

namespace {

// Set while one of our Avahi callbacks runs: the poll thread then already holds the poll lock.
thread_local bool tInCallback = false;

struct CallbackScope {
    CallbackScope() { tInCallback = true; }
    ~CallbackScope() { tInCallback = false; }
};

class PublicationImpl;

// Lock order: the poll lock is the only lock of this file.
class Engine {
public:
    static Engine* get();
    ~Engine();

    bool usable() const { return mPoll != nullptr; }

    // Holds the poll lock unless the caller is an Avahi callback, which holds it already.
    class Lock {
    public:
        explicit Lock(Engine& e) : mEngine(e), mTaken(!tInCallback) {
            if (mTaken)
                avahi_threaded_poll_lock(mEngine.mPoll);
        }
        ~Lock() {
            if (mTaken)
                avahi_threaded_poll_unlock(mEngine.mPoll);
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        Engine& mEngine;
        bool mTaken;
    };

    AvahiClient* client() const { return mClient; }
    bool running() const { return mRunning && mClient != nullptr; }
    const AvahiPoll* pollApi() const { return avahi_threaded_poll_get(mPoll); }

    void add(PublicationImpl* p) { mPublications.push_back(p); }
    void remove(PublicationImpl* p) { std::erase(mPublications, p); }
    void add(Browser::Impl* b) { mBrowsers.push_back(b); }
    void remove(Browser::Impl* b) { std::erase(mBrowsers, b); }
    std::vector<int> interfacesOf(const ServiceKey& key) const;

private:
    Engine();
    void makeClient();
    static void clientCallback(AvahiClient* c, AvahiClientState state, void* userdata);
    void onState(AvahiClient* c, AvahiClientState state);

    AvahiThreadedPoll* mPoll = nullptr;
    AvahiClient* mClient = nullptr;
    bool mRunning = false;
    bool mToldNoDaemon = false;
    std::vector<PublicationImpl*> mPublications;
    std::vector<Browser::Impl*> mBrowsers;
};

std::atomic<bool> gEngineAlive{false};

void warnOnce(const std::string& text) {
    static std::once_flag once;
    std::call_once(once, [&] { log::warn("{}", text); });
}

bool switchedOff() {
    const char* v = std::getenv("KORU_DNSSD");
    return v != nullptr && std::strcmp(v, "off") == 0;
}

class PublicationImpl final : public Publication {
public:
    PublicationImpl(const std::string& name, std::string type, std::uint16_t port, TxtRecord txt)
        : mRequested(fitServiceName(name)), mPublished(mRequested), mType(std::move(type)),
          mPort(port), mTxt(std::move(txt)) {
        Engine* e = Engine::get();
        if (e == nullptr)
            return;
        Engine::Lock lock(*e);
        e->add(this);
        if (e->running())
            announce(*e);
    }

    ~PublicationImpl() override {
        Engine* e = Engine::get();
        if (e == nullptr || !gEngineAlive.load())
            return;
        Engine::Lock lock(*e);
        e->remove(this);
        dropGroup();
    }

    std::string requestedName() const override {
        std::lock_guard guard(mNameMutex);
        return mRequested;
    }
    std::string publishedName() const override {
        std::lock_guard guard(mNameMutex);
        return mPublished;
    }

    void rename(const std::string& name) override {
        {
            std::lock_guard guard(mNameMutex);
            mRequested = fitServiceName(name);
            mPublished = mRequested;
        }
        Engine* e = Engine::get();
        if (e == nullptr)
            return;
        Engine::Lock lock(*e);
        if (mGroup != nullptr)
            avahi_entry_group_reset(mGroup);
        if (e->running())
            announce(*e);
    }

    // With the poll lock held and the client running.
    void announce(Engine& e) {
        if (mGroup == nullptr) {
            mGroup = avahi_entry_group_new(e.client(), &PublicationImpl::groupCallback, this);
            if (mGroup == nullptr) {
                log::warn("DNS-SD: cannot make an entry group for \"{}\": {}", mPublished,
                          avahi_strerror(avahi_client_errno(e.client())));
                return;
            }
        }
        if (!avahi_entry_group_is_empty(mGroup))
            return;
        AvahiStringList* list = nullptr;
        for (const auto& [key, value] : mTxt)
            list = avahi_string_list_add_pair(list, key.c_str(), value.c_str());
        const std::string name = publishedName();
        const int r = avahi_entry_group_add_service_strlst(
            mGroup, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
            name.c_str(), mType.c_str(), nullptr, nullptr, mPort, list);
        avahi_string_list_free(list);
        if (r == AVAHI_ERR_COLLISION) {
            collide(e);
            return;
        }
        if (r < 0) {
            log::warn("DNS-SD: cannot announce \"{}\" as {}: {}", name, mType, avahi_strerror(r));
            return;
        }
        if (const int c = avahi_entry_group_commit(mGroup); c < 0)
            log::warn("DNS-SD: cannot announce \"{}\": {}", name, avahi_strerror(c));
    }

    // The client went away: its groups are gone with it.
    void forgetGroup() { mGroup = nullptr; }
    void resetGroup() {
        if (mGroup != nullptr)
            avahi_entry_group_reset(mGroup);
    }

private:
    void dropGroup() {
        if (mGroup != nullptr)
            avahi_entry_group_free(mGroup);
        mGroup = nullptr;
    }

    void collide(Engine& e) {
        std::string next;
        {
            std::lock_guard guard(mNameMutex);
            char* alternative = avahi_alternative_service_name(mPublished.c_str());
            next = fitServiceName(alternative);
            avahi_free(alternative);
            mPublished = next;
        }
        log::info("DNS-SD: the name is taken on the network; announcing as \"{}\"", next);
        avahi_entry_group_reset(mGroup);
        announce(e);
    }

    static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
        CallbackScope scope;
        auto* self = static_cast<PublicationImpl*>(userdata);
        Engine* e = Engine::get();
        if (e == nullptr)
            return;
        if (self->mGroup == nullptr)
            self->mGroup =
                group; // the first callback can come before avahi_entry_group_new returns
        if (state == AVAHI_ENTRY_GROUP_COLLISION)
            self->collide(*e);
        else if (state == AVAHI_ENTRY_GROUP_FAILURE)
            log::warn("DNS-SD: announcing \"{}\" failed: {}", self->publishedName(),
                      avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
    }

    mutable std::mutex mNameMutex; // taken after the poll lock, never before it
    std::string mRequested;
    std::string mPublished;
    const std::string mType;
    const std::uint16_t mPort;
    const TxtRecord mTxt;
    AvahiEntryGroup* mGroup = nullptr;
};

} // namespace

struct Browser::Impl {
    std::string type;
    std::function<void(const ServiceKey&)> found;
    std::function<void(const ServiceKey&)> removed;
    AvahiServiceBrowser* browser = nullptr;
    ServiceSightings sightings;

    void start(Engine& e) {
        browser = avahi_service_browser_new(e.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                            type.c_str(), nullptr, static_cast<AvahiLookupFlags>(0),
                                            &Impl::callback, this);
        if (browser == nullptr)
            log::warn("DNS-SD: cannot browse for {}: {}", type,
                      avahi_strerror(avahi_client_errno(e.client())));
    }

    // The client went away: whatever was found is gone too.
    void lose(bool freeBrowser) {
        if (freeBrowser && browser != nullptr)
            avahi_service_browser_free(browser);
        browser = nullptr;
        for (const auto& key : sightings.clear())
            removed(key);
    }

    static void callback(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol,
                         AvahiBrowserEvent event, const char* name, const char* type,
                         const char* domain, AvahiLookupResultFlags, void* userdata) {
        CallbackScope scope;
        auto* self = static_cast<Impl*>(userdata);
        switch (event) {
        case AVAHI_BROWSER_NEW: {
            ServiceKey key{name, type, domain};
            if (self->sightings.seen(key, interface))
                self->found(key);
            break;
        }
        case AVAHI_BROWSER_REMOVE: {
            ServiceKey key{name, type, domain};
            if (self->sightings.gone(key, interface))
                self->removed(key);
            break;
        }
        case AVAHI_BROWSER_FAILURE:
            log::warn("DNS-SD: browsing for {} failed", self->type);
            break;
        default:
            break;
        }
    }
};

namespace {

Engine* Engine::get() {
    if (switchedOff())
        return nullptr;
    static Engine engine;
    return engine.usable() ? &engine : nullptr;
}

Engine::Engine() {
    mPoll = avahi_threaded_poll_new();
    if (mPoll == nullptr) {
        warnOnce("DNS-SD: cannot start the Avahi event loop; services are not announced");
        return;
    }
    makeClient();
    if (mClient == nullptr) {
        avahi_threaded_poll_free(mPoll);
        mPoll = nullptr;
        return;
    }
    if (avahi_threaded_poll_start(mPoll) < 0) {
        warnOnce("DNS-SD: cannot start the Avahi thread; services are not announced");
        avahi_client_free(mClient);
        avahi_threaded_poll_free(mPoll);
        mClient = nullptr;
        mPoll = nullptr;
        return;
    }
    gEngineAlive.store(true);
}

Engine::~Engine() {
    if (mPoll == nullptr)
        return;
    gEngineAlive.store(false);
    avahi_threaded_poll_stop(mPoll);
    if (mClient != nullptr)
        avahi_client_free(mClient); // frees the groups and browsers it made
    avahi_threaded_poll_free(mPoll);
}

void Engine::makeClient() {
    int error = 0;
    mClient = avahi_client_new(avahi_threaded_poll_get(mPoll), AVAHI_CLIENT_NO_FAIL,
                               &Engine::clientCallback, this, &error);
    if (mClient == nullptr)
        warnOnce(std::string("DNS-SD: no Avahi client (") + avahi_strerror(error) +
                 "); services are not announced or found");
}

void Engine::clientCallback(AvahiClient* c, AvahiClientState state, void* userdata) {
    CallbackScope scope;
    static_cast<Engine*>(userdata)->onState(c, state);
}

void Engine::onState(AvahiClient* c, AvahiClientState state) {
    mClient = c; // also during avahi_client_new, before it returns
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        mRunning = true;
        for (auto* p : mPublications)
            p->announce(*this);
        for (auto* b : mBrowsers)
            if (b->browser == nullptr)
                b->start(*this);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        mRunning = false;
        for (auto* p : mPublications)
            p->resetGroup();
        break;
    case AVAHI_CLIENT_CONNECTING:
        mRunning = false;
        if (!mToldNoDaemon) {
            mToldNoDaemon = true;
            warnOnce("DNS-SD: no Avahi daemon answers; services are not announced or found "
                     "until one starts");
        }
        break;
    case AVAHI_CLIENT_FAILURE:
        mRunning = false;
        for (auto* p : mPublications)
            p->forgetGroup();
        for (auto* b : mBrowsers)
            b->lose(false);
        if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
            // The daemon went away: wait for the next one.
            avahi_client_free(c);
            mClient = nullptr;
            int error = 0;
            mClient = avahi_client_new(avahi_threaded_poll_get(mPoll), AVAHI_CLIENT_NO_FAIL,
                                       &Engine::clientCallback, this, &error);
            if (mClient == nullptr)
                log::warn("DNS-SD: cannot reconnect to Avahi: {}", avahi_strerror(error));
        } else {
            log::warn("DNS-SD: Avahi client failed: {}", avahi_strerror(avahi_client_errno(c)));
        }
        break;
    default:
        break;
    }
}

std::vector<int> Engine::interfacesOf(const ServiceKey& key) const {
    std::vector<int> all;
    for (const auto* b : mBrowsers)
        for (int i : b->sightings.interfacesOf(key))
            if (std::find(all.begin(), all.end(), i) == all.end())
                all.push_back(i);
    return all;
}

// One resolve request: a resolver per interface the service was seen on, answered when all have
// answered or the timeout fires. Lives on the poll thread once made.
struct ResolveJob {
    Engine* engine = nullptr;
    std::vector<AvahiServiceResolver*> resolvers;
    std::size_t pending = 0;
    Resolved result;
    bool anyFound = false;
    AvahiTimeout* timeout = nullptr;
    std::function<void(std::optional<Resolved>)> done;

    void finish() {
        for (auto* r : resolvers)
            if (r != nullptr)
                avahi_service_resolver_free(r);
        resolvers.clear();
        if (timeout != nullptr)
            engine->pollApi()->timeout_free(timeout);
        timeout = nullptr;
        auto callback = std::move(done);
        std::optional<Resolved> answer;
        if (anyFound)
            answer = std::move(result);
        delete this;
        callback(std::move(answer));
    }

    static void onResolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol,
                           AvahiResolverEvent event, const char*, const char*, const char*,
                           const char*, const AvahiAddress* address, uint16_t port,
                           AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
        CallbackScope scope;
        auto* job = static_cast<ResolveJob*>(userdata);
        if (event == AVAHI_RESOLVER_FOUND && address != nullptr &&
            address->proto == AVAHI_PROTO_INET) {
            char text[AVAHI_ADDRESS_STR_MAX] = {};
            avahi_address_snprint(text, sizeof text, address);
            auto& list = job->result.ipv4Addresses;
            if (std::find(list.begin(), list.end(), text) == list.end())
                list.emplace_back(text);
            job->result.port = port;
            if (!job->anyFound) {
                for (AvahiStringList* item = txt; item != nullptr; item = item->next) {
                    char* key = nullptr;
                    char* value = nullptr;
                    if (avahi_string_list_get_pair(item, &key, &value, nullptr) == 0) {
                        job->result.txt.emplace_back(key, value != nullptr ? value : "");
                        avahi_free(key);
                        avahi_free(value);
                    }
                }
            }
            job->anyFound = true;
        }
        for (auto& mine : job->resolvers) {
            if (mine == r) {
                avahi_service_resolver_free(r);
                mine = nullptr;
            }
        }
        if (--job->pending == 0)
            job->finish();
    }

    static void onTimeout(AvahiTimeout*, void* userdata) {
        CallbackScope scope;
        auto* job = static_cast<ResolveJob*>(userdata);
        job->finish();
    }
};

} // namespace

std::unique_ptr<Publication> publish(const std::string& name, const std::string& type,
                                     std::uint16_t port, const TxtRecord& txt) {
    return std::make_unique<PublicationImpl>(name, type, port, txt);
}

Browser::Browser(const std::string& type, std::function<void(const ServiceKey&)> found,
                 std::function<void(const ServiceKey&)> removed)
    : mImpl(std::make_shared<Impl>()) {
    mImpl->type = type;
    mImpl->found = std::move(found);
    mImpl->removed = std::move(removed);
    Engine* e = Engine::get();
    if (e == nullptr)
        return;
    Engine::Lock lock(*e);
    e->add(mImpl.get());
    if (e->running())
        mImpl->start(*e);
}

Browser::~Browser() {
    Engine* e = Engine::get();
    if (e == nullptr || !gEngineAlive.load())
        return;
    Engine::Lock lock(*e);
    e->remove(mImpl.get());
    if (mImpl->browser != nullptr)
        avahi_service_browser_free(mImpl->browser);
    mImpl->browser = nullptr;
}

void resolve(const ServiceKey& key, std::chrono::milliseconds timeout,
             std::function<void(std::optional<Resolved>)> done) {
    Engine* e = Engine::get();
    if (e == nullptr) {
        done(std::nullopt);
        return;
    }
    {
        Engine::Lock lock(*e);
        if (e->running()) {
            auto* job = new ResolveJob;
            job->engine = e;
            std::vector<int> interfaces = e->interfacesOf(key);
            if (interfaces.empty())
                interfaces.push_back(AVAHI_IF_UNSPEC);
            for (int i : interfaces) {
                auto* r = avahi_service_resolver_new(
                    e->client(), i, AVAHI_PROTO_INET, key.name.c_str(), key.type.c_str(),
                    key.domain.c_str(), AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0),
                    &ResolveJob::onResolved, job);
                if (r != nullptr) {
                    job->resolvers.push_back(r);
                    ++job->pending;
                }
            }
            if (job->pending > 0) {
                job->done = std::move(done);
                timeval when{};
                avahi_elapse_time(&when, static_cast<unsigned>(timeout.count()), 0);
                job->timeout =
                    e->pollApi()->timeout_new(e->pollApi(), &when, &ResolveJob::onTimeout, job);
                return;
            }
            delete job;
        }
    }
    done(std::nullopt); // outside the poll lock: the caller may call in again
}

bool enabled() {
    return Engine::get() != nullptr;
}

} // namespace koru::dnssd

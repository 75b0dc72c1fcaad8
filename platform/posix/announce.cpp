// Through libavahi-client on a poll thread of Avahi's own (the server's loop
// never waits on D-Bus): the client, once the daemon runs, adds one entry
// group with every service, renames it on a collision, and the destructor
// frees it all, which withdraws the services.
#include "platform/announce.h"

#include <condition_variable>
#include <mutex>

#ifdef PX_HAVE_AVAHI
#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>
#endif

namespace platform {

struct Announcement::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;  // outcome is final, or established
    bool announced = false;
    std::string outcome;
    std::string name;
    std::string interfaceName;
    std::vector<DnsSdService> services;
#ifdef PX_HAVE_AVAHI
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
#endif

    void settle(bool ok, std::string text) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            announced = ok;
            outcome = std::move(text);
            done = true;
        }
        changed.notify_all();
    }
};

#ifdef PX_HAVE_AVAHI
namespace {

void addServices(Announcement::State& s);

void groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data) {
    auto& s = *static_cast<Announcement::State*>(data);
    s.group = group;
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        s.settle(true, "announced over DNS-SD as \"" + s.name + "\"" +
                           (s.interfaceName.empty() ? "" : " on " + s.interfaceName));
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        char* other = avahi_alternative_service_name(s.name.c_str());
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.name = other;
        }
        avahi_free(other);
        avahi_entry_group_reset(group);
        addServices(s);
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        s.settle(false, std::string("not announced: Avahi: ") +
                            avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
    }
}

void addServices(Announcement::State& s) {
    if (s.group == nullptr) s.group = avahi_entry_group_new(s.client, groupChanged, &s);
    if (s.group == nullptr) {
        s.settle(false, std::string("not announced: Avahi: ") + avahi_strerror(avahi_client_errno(s.client)));
        return;
    }
    for (const DnsSdService& service : s.services) {
        AvahiStringList* txt = nullptr;
        for (auto it = service.txt.rbegin(); it != service.txt.rend(); ++it) txt = avahi_string_list_add(txt, it->c_str());
        const int error = avahi_entry_group_add_service_strlst(s.group, s.interface, s.protocol, AvahiPublishFlags{},
                                                               s.name.c_str(), service.type.c_str(), nullptr, nullptr,
                                                               service.port, txt);
        avahi_string_list_free(txt);
        if (error == AVAHI_ERR_COLLISION) {
            groupChanged(s.group, AVAHI_ENTRY_GROUP_COLLISION, &s);
            return;
        }
        if (error < 0) {
            s.settle(false, "not announced: Avahi: " + std::string(avahi_strerror(error)) + " (" + service.type + ")");
            return;
        }
    }
    if (const int error = avahi_entry_group_commit(s.group); error < 0) {
        s.settle(false, std::string("not announced: Avahi: ") + avahi_strerror(error));
    }
}

void clientChanged(AvahiClient* client, AvahiClientState state, void* data) {
    auto& s = *static_cast<Announcement::State*>(data);
    s.client = client;
    if (state == AVAHI_CLIENT_S_RUNNING) {
        addServices(s);
    } else if (state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) {
        if (s.group != nullptr) avahi_entry_group_reset(s.group);  // added again once the host name is settled
    } else if (state == AVAHI_CLIENT_FAILURE) {
        s.settle(false, std::string("not announced: Avahi: ") + avahi_strerror(avahi_client_errno(client)));
    }
}

// Where the address given lives: its interface and protocol; every
// interface for a wildcard or an address no interface holds.
void placeFor(const std::string& host, Announcement::State& s) {
    in_addr v4{};
    in6_addr v6{};
    const bool isV4 = ::inet_pton(AF_INET, host.c_str(), &v4) == 1;
    const bool isV6 = !isV4 && ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
    if (isV4) s.protocol = AVAHI_PROTO_INET;
    if (isV6) s.protocol = AVAHI_PROTO_INET6;
    if ((isV4 && v4.s_addr == htonl(INADDR_ANY)) || (isV6 && IN6_IS_ADDR_UNSPECIFIED(&v6)) || (!isV4 && !isV6)) {
        s.protocol = AVAHI_PROTO_UNSPEC;
        return;
    }
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return;
    for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr) continue;
        const bool match =
            (isV4 && a->ifa_addr->sa_family == AF_INET &&
             reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == v4.s_addr) ||
            (isV6 && a->ifa_addr->sa_family == AF_INET6 &&
             std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0);
        if (match) {
            s.interface = static_cast<AvahiIfIndex>(::if_nametoindex(a->ifa_name));
            s.interfaceName = a->ifa_name;
            break;
        }
    }
    ::freeifaddrs(all);
}

}  // namespace

Announcement::Announcement(const std::string& name, const std::string& host, std::vector<DnsSdService> services)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.name = name;
    s.services = std::move(services);
    placeFor(host, s);
    s.poll = avahi_threaded_poll_new();
    if (s.poll == nullptr) {
        s.settle(false, "not announced: Avahi's poll could not be made");
        return;
    }
    int error = 0;
    // The callback runs on this thread during avahi_client_new, before the
    // poll thread starts, and on the poll thread after.
    s.client = avahi_client_new(avahi_threaded_poll_get(s.poll), AvahiClientFlags{}, clientChanged, &s, &error);
    if (s.client == nullptr) {
        s.settle(false, error == AVAHI_ERR_NO_DAEMON ? "not announced: the Avahi daemon does not run here"
                                                     : std::string("not announced: Avahi: ") + avahi_strerror(error));
        avahi_threaded_poll_free(s.poll);
        s.poll = nullptr;
        return;
    }
    avahi_threaded_poll_start(s.poll);
}

Announcement::~Announcement() {
    State& s = *state_;
    if (s.poll == nullptr) return;
    avahi_threaded_poll_stop(s.poll);
    // Freeing the client frees its group, which withdraws the services.
    avahi_client_free(s.client);
    avahi_threaded_poll_free(s.poll);
}

#else

Announcement::Announcement(const std::string&, const std::string&, std::vector<DnsSdService>)
    : state_(std::make_unique<State>()) {
    state_->settle(false, std::string("not announced: ") + PX_AVAHI_MISSING);
}

Announcement::~Announcement() = default;

#endif

std::string Announcement::outcome(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->changed.wait_for(lock, wait, [this] { return state_->done; })) {
        return "announcing over DNS-SD as \"" + state_->name + "\" (Avahi has not confirmed it yet)";
    }
    return state_->outcome;
}

bool Announcement::announced() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->announced;
}

}  // namespace platform

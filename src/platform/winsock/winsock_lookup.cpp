// Name and number lookups of the Winsock substitute: the asynchronous host lookup on a
// helper thread whose result is posted to a window, its cancellation, the results of
// recent lookups kept for a short time per host name, and the blocking lookups and
// address conversions.
#include "platform/winsock/winsock.h"

#include "platform/msg/hidden_window_qt.h"
#include "platform/winsock/winsock_internal.h"

#include <QMetaObject>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fetchora::winsock {

namespace {

struct Lookup {
    HWND window = nullptr;
    UINT message = 0;
    std::string name;
    HOSTENT* result = nullptr;
};

struct Lookups {
    std::mutex lock;
    std::map<HANDLE, std::shared_ptr<Lookup>> pending;
    HANDLE next = 1;
};

// Never destroyed: a helper thread may finish while the process exits.
Lookups& lookups() {
    static auto* instance = new Lookups;
    return *instance;
}

int gaiToWsaError(int gaiError) {
    switch (gaiError) {
    case 0:
        return 0;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_MEMORY:
        return WSAENOBUFS;
    case EAI_SYSTEM:
        return errnoToWsaError(errno);
    default:
        return WSANO_RECOVERY;
    }
}

// Resolves name to its IPv4 addresses; returns the Winsock error (0 on success).
int resolveWithSystem(const std::string& name, HOSTENT& result) {
    result = HOSTENT{};
    if (name.empty())
        return WSAHOST_NOT_FOUND;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (status != 0)
        return gaiToWsaError(status);
    result.h_name = list != nullptr && list->ai_canonname != nullptr ? list->ai_canonname : name;
    for (const addrinfo* item = list; item != nullptr; item = item->ai_next) {
        if (item->ai_family != AF_INET || item->ai_addr == nullptr)
            continue;
        IN_ADDR address;
        address.S_addr = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (const IN_ADDR& known : result.h_addr_list)
            seen = seen || known.S_addr == address.S_addr;
        if (!seen)
            result.h_addr_list.push_back(address);
    }
    ::freeaddrinfo(list);
    return result.h_addr_list.empty() ? WSANO_DATA : 0;
}

// Results of recent successful lookups by host name (ASCII lower case), so that a run of
// many files from one host asks the resolver once. Failures are not kept: a name that did
// not resolve is asked again at the next request, since that is when the user expects it
// to work. The table stays small: past kMostKept names the expired ones go first, then
// the oldest.
constexpr size_t kMostKept = 64;
constexpr std::chrono::milliseconds kDefaultKeepTime{30'000};

struct KeptResult {
    HOSTENT host;
    std::chrono::steady_clock::time_point until;
};

struct Resolver {
    std::mutex lock;
    std::map<std::string, KeptResult> kept;
    std::chrono::milliseconds keepTime = kDefaultKeepTime;
    detail::ResolveFunction resolve = resolveWithSystem;
};

Resolver& resolver() {
    static auto* instance = new Resolver; // never destroyed, like the lookups
    return *instance;
}

std::string keyOf(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

// The kept result for name, when there is one that has not expired.
bool keptResult(const std::string& name, HOSTENT& result) {
    Resolver& r = resolver();
    const std::lock_guard guard(r.lock);
    const auto found = r.kept.find(keyOf(name));
    if (found == r.kept.end())
        return false;
    if (std::chrono::steady_clock::now() >= found->second.until) {
        r.kept.erase(found);
        return false;
    }
    result = found->second.host;
    return true;
}

void keepResult(const std::string& name, const HOSTENT& result) {
    Resolver& r = resolver();
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard guard(r.lock);
    if (r.keepTime.count() <= 0)
        return;
    if (r.kept.size() >= kMostKept) {
        std::erase_if(r.kept, [&](const auto& item) { return now >= item.second.until; });
        if (r.kept.size() >= kMostKept) {
            const auto oldest =
                std::min_element(r.kept.begin(), r.kept.end(), [](const auto& a, const auto& b) {
                    return a.second.until < b.second.until;
                });
            r.kept.erase(oldest);
        }
    }
    r.kept[keyOf(name)] = KeptResult{result, now + r.keepTime};
}

// Resolves name, from a kept result when there is one; returns the Winsock error.
int resolve(const std::string& name, HOSTENT& result) {
    if (keptResult(name, result))
        return 0;
    detail::ResolveFunction resolveFunction;
    {
        Resolver& r = resolver();
        const std::lock_guard guard(r.lock);
        resolveFunction = r.resolve;
    }
    const int error = resolveFunction(name, result);
    if (error == 0)
        keepResult(name, result);
    return error;
}

// Ends a lookup: unless it was cancelled meanwhile, its result goes into the caller's
// buffer and its message is posted.
void complete(HANDLE handle, const Lookup& lookup, int error, HOSTENT found) {
    Lookups& all = lookups();
    const std::lock_guard guard(all.lock);
    if (all.pending.erase(handle) == 0)
        return; // cancelled: neither result nor message
    *lookup.result = std::move(found);
    const int length = error == 0 ? static_cast<int>(sizeof(HOSTENT)) : 0;
    msg::postMessage(lookup.window, lookup.message, handle, WSAMAKESELECTREPLY(length, error));
}

void runLookup(HANDLE handle, const std::shared_ptr<Lookup>& lookup) {
    HOSTENT found;
    const int error = resolve(lookup->name, found);
    complete(handle, *lookup, error, std::move(found));
}

} // namespace

namespace detail {

void cancelAllLookups() {
    Lookups& all = lookups();
    const std::lock_guard guard(all.lock);
    all.pending.clear();
}

ResolveFunction setResolveFunction(ResolveFunction resolve) {
    Resolver& r = resolver();
    const std::lock_guard guard(r.lock);
    ResolveFunction before = r.resolve;
    r.resolve = resolve != nullptr ? resolve : resolveWithSystem;
    r.kept.clear();
    return before;
}

std::chrono::milliseconds setLookupKeepTime(std::chrono::milliseconds keepTime) {
    Resolver& r = resolver();
    const std::lock_guard guard(r.lock);
    const std::chrono::milliseconds before = r.keepTime;
    r.keepTime = keepTime;
    r.kept.clear();
    return before;
}

} // namespace detail

HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, HOSTENT* result) {
    if (detail::notStarted())
        return 0;
    if (!msg::isWindow(window) || name == nullptr || result == nullptr) {
        detail::fail(WSAEINVAL);
        return 0;
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->window = window;
    lookup->message = msg;
    lookup->name = name;
    lookup->result = result;
    HANDLE handle = 0;
    {
        Lookups& all = lookups();
        const std::lock_guard guard(all.lock);
        handle = all.next++;
        all.pending.emplace(handle, lookup);
    }
    // A kept result needs no helper thread. It still arrives as a posted message after
    // the call has returned, and the lookup can be cancelled until then: the window's
    // thread ends it on its next turn, as the helper thread would have.
    HOSTENT kept;
    if (keptResult(lookup->name, kept)) {
        QMetaObject::invokeMethod(
            window,
            [handle, lookup, kept = std::move(kept)]() mutable {
                complete(handle, *lookup, 0, std::move(kept));
            },
            Qt::QueuedConnection);
        WSASetLastError(0);
        return handle;
    }
    try {
        std::thread(runLookup, handle, std::move(lookup)).detach();
    } catch (const std::system_error&) {
        Lookups& all = lookups();
        const std::lock_guard guard(all.lock);
        all.pending.erase(handle);
        detail::fail(WSAENOBUFS);
        return 0;
    }
    WSASetLastError(0);
    return handle;
}

int WSACancelAsyncRequest(HANDLE request) {
    if (detail::notStarted())
        return SOCKET_ERROR;
    Lookups& all = lookups();
    const std::lock_guard guard(all.lock);
    if (all.pending.erase(request) != 0)
        return 0;
    // A handle given out earlier has completed (its message is on its way) or was
    // cancelled already; any other is unknown.
    return detail::fail(request != 0 && request < all.next ? WSAEALREADY : WSAEINVAL);
}

std::uint32_t inet_addr(const char* text) {
    if (text == nullptr)
        return WS_INADDR_NONE;
    in_addr address{};
    // Dotted quads only ("a.b.c.d", each part decimal 0..255).
    if (::inet_pton(AF_INET, text, &address) != 1)
        return WS_INADDR_NONE;
    return address.s_addr;
}

std::string inet_ntoa(IN_ADDR address) {
    in_addr posix{};
    posix.s_addr = address.S_addr;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &posix, text, sizeof text) == nullptr)
        return {};
    return text;
}

bool gethostbyname(const char* name, HOSTENT* result) {
    if (detail::notStarted())
        return false;
    if (name == nullptr || result == nullptr) {
        detail::fail(WSAEFAULT);
        return false;
    }
    const int error = resolve(name, *result);
    if (error != 0) {
        detail::fail(error);
        return false;
    }
    WSASetLastError(0);
    return true;
}

bool getservbyname(const char* name, const char* proto, std::uint16_t* port) {
    if (detail::notStarted())
        return false;
    if (name == nullptr || port == nullptr) {
        detail::fail(WSAEFAULT);
        return false;
    }
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    if (::getservbyname_r(name, proto, &entry, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr) {
        *port = static_cast<std::uint16_t>(found->s_port);
        return true;
    }
    // The common services, for systems without a services database.
    static const std::map<std::string, std::uint16_t> known = {
        {"ftp", 21}, {"telnet", 23}, {"smtp", 25}, {"http", 80}, {"www", 80}, {"https", 443}};
    const auto it = known.find(name);
    if (it != known.end()) {
        *port = (htons)(it->second);
        return true;
    }
    detail::fail(WSANO_DATA);
    return false;
}

bool getprotobyname(const char* name, int* protocol) {
    if (detail::notStarted())
        return false;
    if (name == nullptr || protocol == nullptr) {
        detail::fail(WSAEFAULT);
        return false;
    }
    static const std::map<std::string, int> known = {
        {"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}};
    const auto it = known.find(name);
    if (it != known.end()) {
        *protocol = it->second;
        return true;
    }
    protoent entry{};
    protoent* found = nullptr;
    char buffer[1024];
    if (::getprotobyname_r(name, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        *protocol = found->p_proto;
        return true;
    }
    detail::fail(WSANO_DATA);
    return false;
}

int gethostname(char* name, int nameLen) {
    if (detail::notStarted())
        return SOCKET_ERROR;
    if (name == nullptr || nameLen <= 0)
        return detail::fail(WSAEFAULT);
    if (::gethostname(name, static_cast<size_t>(nameLen)) != 0)
        return detail::fail(WSAEFAULT);
    name[nameLen - 1] = '\0';
    return 0;
}

} // namespace fetchora::winsock

// The host-name cache and the fields bound to host-name columns.
#include "render/names.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace zm {
namespace {

struct NameCache {
    std::unordered_map<uint32_t, std::string> names;  // "" = no name (failed look-up)
    bool lookup = true;
};

NameCache& cache() {
    static NameCache c = [] {
        NameCache init;
        const char* env = std::getenv("ZM_HOST_LOOKUP");
        if (env && env[0] == '0') init.lookup = false;
        return init;
    }();
    return c;
}

std::unordered_map<const Field*, int>& name_kinds() {
    static std::unordered_map<const Field*, int> kinds;
    return kinds;
}

}  // namespace

int field_name_kind(const Field* field) {
    auto& kinds = name_kinds();
    if (kinds.empty()) return 0;
    auto it = kinds.find(field);
    return it == kinds.end() ? 0 : it->second;
}

void set_field_name_kind(const Field* field, int kind) {
    if (kind == kKindDstName || kind == kKindSrcName)
        name_kinds()[field] = kind;
    else
        name_kinds().erase(field);
}

void set_host_lookup(bool on) { cache().lookup = on; }

const std::string* host_name(uint32_t address) {
    uint32_t last = address & 0xFF;
    if (last == 0 || last == 255) return nullptr;
    NameCache& c = cache();
    auto it = c.names.find(address);
    if (it == c.names.end()) {
        it = c.names.emplace(address, std::string()).first;
        if (c.lookup) {
            struct sockaddr_in sa {};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = htonl(address);
            char host[NI_MAXHOST];
            if (getnameinfo(reinterpret_cast<struct sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                            NI_NAMEREQD) == 0)
                it->second.assign(host, strnlen(host, 64));
        }
    }
    return it->second.empty() ? nullptr : &it->second;
}

}  // namespace zm

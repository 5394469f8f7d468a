// The checksum registry: names of the checksum algorithms, newest first.
#include <forward_list>

#include "core/report.h"
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"

namespace zm {
namespace {

struct ChecksumEntry {
    std::string name;
    ChecksumFn algorithm;
};

// The process-wide registry; the built-ins are put in on first use so that
// the protocol compiler and tests find them without a running interpreter.
std::forward_list<ChecksumEntry>& registry() {
    static std::forward_list<ChecksumEntry> entries = [] {
        std::forward_list<ChecksumEntry> list;
        const ChecksumEntry builtins[] = {
            {"tcp", tcp_xsum},   {"dod", dod_xsum},           {"fletch", fletch_xsum}, {"udp", udp_xsum},
            {"ospf", ospf_xsum}, {"ospf_lsa", ospf_lsa_xsum}, {"icmp", icmp_xsum},     {"icmpv6", icmpv6_xsum},
        };
        for (const auto& e : builtins) list.push_front(e);
        return list;
    }();
    return entries;
}

}  // namespace

void register_checksum(const char* name, ChecksumFn algorithm) {
    if (!name || !algorithm) return;
    registry().push_front({name, algorithm});
}

ChecksumFn find_checksum(const char* name) {
    if (!name) return nullptr;
    for (const auto& e : registry())
        if (e.name == name) return e.algorithm;
    return nullptr;
}

const char* checksum_name(ChecksumFn algorithm) {
    for (const auto& e : registry())
        if (e.algorithm == algorithm) return e.name.c_str();
    return nullptr;
}

std::vector<std::string> checksum_names() {
    std::vector<std::string> names;
    for (const auto& e : registry()) names.push_back(e.name);
    return names;
}

bool run_checksum(const char* name, std::vector<uint8_t>& bytes, int32_t* result) {
    ChecksumFn fn = find_checksum(name);
    if (!fn) return false;
    // Keep the bit count in range for very long inputs; the algorithms clamp to avail anyway.
    size_t n = bytes.size() > 0x0FFFFFFF ? 0x0FFFFFFF : bytes.size();
    *result = 0;
    fn(bytes.data(), 0, static_cast<int32_t>(n * 8), result, 0, 32, nullptr, bytes.size());
    return true;
}

namespace xsum {

void report_short(const char* module, int line, const char* what, int64_t wanted, size_t avail) {
    report(nullptr, module, line, LOG_WARNING,
           "%s of %lld bytes runs past the end of the packet (%zu bytes) - checksumming only those", what,
           static_cast<long long>(wanted), avail);
}

size_t range_bytes(const char* module, int line, int32_t bits, size_t avail) {
    if (bits <= 0) return 0;
    size_t n = static_cast<size_t>(bits) / 8;
    if (n > avail) {
        report_short(module, line, "Checksum range", static_cast<int64_t>(n), avail);
        n = avail;
    }
    return n;
}

}  // namespace xsum
}  // namespace zm

// OSPF link-state database: advertisement records, their hex and filter-string forms, ageing.
#include "util/ospf_lsdb.h"

#include <arpa/inet.h>

#include <cstdio>
#include <strings.h>

namespace zm {
namespace {

void append(std::string& out, const char* fmt, auto... args) {
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

uint32_t quad_or_zero(const std::string& text) { return ospf_quad(text).value_or(0); }

void append_body(std::string& out, const OspfLsa& lsa) {
    switch (lsa.ls_type) {
    case kRouterLsa:
        append(out, "%02x%02x%04x", lsa.rtr_type & 0xff, 0, static_cast<unsigned>(lsa.links.size()) & 0xffff);
        for (const auto& l : lsa.links)
            append(out, "%08x%08x%02x%02x%04x", l.id, l.data, l.type & 0xff, 0, l.metric & 0xffff);
        break;
    case kNetworkLsa:
        append(out, "%08x", lsa.mask);
        for (uint32_t r : lsa.routers) append(out, "%08x", r);
        break;
    case kSummaryNetLsa:
    case kSummaryAsbrLsa:
        append(out, "%08x%02x%06x", lsa.mask, 0, lsa.metric & 0xffffff);
        break;
    case kExternalLsa:
        append(out, "%08x%02x%06x%08x%08x", lsa.mask, lsa.ext_flag & 0xff, lsa.metric & 0xffffff, lsa.fwd_addr,
               lsa.tag);
        break;
    case kGroupLsa:
        for (const auto& v : lsa.vertices) append(out, "%08x%08x", static_cast<uint32_t>(v.type), v.id);
        break;
    default:
        break;
    }
}

// A request carries the identifier as hex digits whose case the decoder
// chooses; scripts may have written it in either case.
OspfLsdb::iterator find_ad_id(OspfLsdb& lsdb, const std::string& id) {
    auto it = lsdb.find(id);
    if (it != lsdb.end()) return it;
    for (it = lsdb.begin(); it != lsdb.end(); ++it)
        if (it->first.size() == id.size() && strncasecmp(it->first.c_str(), id.c_str(), id.size()) == 0) return it;
    return lsdb.end();
}

}  // namespace

int ospf_options(const std::string& text) {
    int options = 0;
    for (char c : text) {
        if (c == 'M') options |= 4;
        if (c == 'T') options |= 1;
        if (c == 'E') options |= 2;
    }
    return options;
}

int ospf_rtr_type(const std::string& text) {
    if (text == "E" || text == "VE") return 1;
    if (text == "B" || text == "VB") return 2;
    if (text == "EB" || text == "VEB") return 3;
    return 0;
}

std::optional<uint32_t> ospf_quad(const std::string& text) {
    in_addr addr{};
    if (text.size() > 15 || inet_pton(AF_INET, text.c_str(), &addr) != 1) return std::nullopt;
    return ntohl(addr.s_addr);
}

void ospf_advance_seq(OspfLsa& lsa) {
    lsa.ls_seq += 1;
    if (lsa.ls_seq == 0xFFFFFFFFu) lsa.ls_seq = kOspfInitialSeq;
}

std::string ospf_lsa_hex(const OspfLsa& lsa, bool for_checksum) {
    std::string out = for_checksum ? "0x" : "";
    append(out, "%04x%02x%02x%08x%08x%08x%04x%04x", for_checksum ? 0 : lsa.ls_age & 0xffff, lsa.options & 0xff,
           lsa.ls_type & 0xff, quad_or_zero(lsa.ls_id), quad_or_zero(lsa.adv_rtr), lsa.ls_seq,
           for_checksum ? 0 : lsa.ls_chksum, lsa.ls_length & 0xffff);
    append_body(out, lsa);
    return out;
}

std::string ospf_header_filter(const OspfLsa& lsa) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "OSPF_LS_HDR ls_age=%d opt6=%d opt7=%d opt8=%d ls_type=%d ls_id=%s adv_rtr=%s ls_seq=0x%x "
                  "ls_chksum=0x%x ls_length=%d",
                  lsa.ls_age, (lsa.options & 4) ? 1 : 0, (lsa.options & 2) ? 1 : 0, (lsa.options & 1) ? 1 : 0,
                  lsa.ls_type, lsa.ls_id.c_str(), lsa.adv_rtr.c_str(), lsa.ls_seq, lsa.ls_chksum, lsa.ls_length);
    return buf;
}

bool ospf_need_to_rxmit(OspfLsa& lsa) {
    if (lsa.dyn_type == "time_delete") {
        lsa.limit = 0;
        return false;
    }
    if (lsa.dyn_type == "time_flood") {
        lsa.dyn_type = "non_dyn";
        lsa.limit = 1800;
        return true;
    }
    lsa.timer = 0;
    ospf_advance_seq(lsa);
    if (lsa.dyn_type == "time_cycle") lsa.ls_age = lsa.ls_age == 1 ? 3600 : 1;
    return true;
}

bool ospf_incr_timer(OspfLsa& lsa, long increment) {
    lsa.timer += increment;
    return lsa.timer >= lsa.limit;
}

std::map<std::string, OspfLsdb>& ospf_lsdbs() {
    static std::map<std::string, OspfLsdb> tables;
    return tables;
}

std::vector<std::string> ospf_answer_ls_request(OspfLsdb& lsdb, long entries,
                                                const std::function<std::optional<std::string>(long)>& ad_id_of,
                                                const std::function<std::string(OspfLsa&)>& hex_of,
                                                bool* bad_request) {
    std::vector<std::string> answer;
    *bad_request = false;
    uint32_t total = 0;
    for (long i = entries - 1; i >= 0; --i) {
        std::optional<std::string> id = ad_id_of(i);
        if (id && id->rfind("0x", 0) == 0) id->erase(0, 2);
        auto it = id ? find_ad_id(lsdb, *id) : lsdb.end();
        if (it == lsdb.end()) {
            *bad_request = true;
            break;
        }
        total += static_cast<uint32_t>(it->second.ls_length);
        if (total > kOspfLsReqBudget) break;
        answer.push_back(hex_of(it->second));
    }
    return answer;
}

}  // namespace zm

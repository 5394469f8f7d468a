// OSPF link-state database for test scripts: advertisements described in
// words, kept per interface, aged and refreshed, formatted as filter strings
// and hexadecimal LSAs (RFC 2328 appendix A.4, RFC 1584 for group membership).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zm {

inline constexpr size_t kOspfIfnameMax = 51;
inline constexpr size_t kOspfAdIdMax = 35;
inline constexpr size_t kOspfDynTypeMax = 11;
inline constexpr size_t kOspfNetRoutersMax = 20;
inline constexpr uint32_t kOspfInitialSeq = 0x80000001u;
// A link-state request is answered with at most this many bytes of LSAs.
inline constexpr uint32_t kOspfLsReqBudget = 1400;

enum OspfLsType { kRouterLsa = 1, kNetworkLsa = 2, kSummaryNetLsa = 3, kSummaryAsbrLsa = 4, kExternalLsa = 5,
                  kGroupLsa = 6 };

struct OspfRouterLink {
    uint32_t id = 0, data = 0;
    int type = 0, metric = 0;
};

struct OspfVertex {
    int type = 0;
    uint32_t id = 0;
};

struct OspfLsa {
    std::string ad_id;
    int ls_age = 1;
    int options = 0;
    int ls_type = 0;
    std::string ls_id, adv_rtr;  // dotted quads as given
    uint32_t ls_seq = kOspfInitialSeq;
    uint16_t ls_chksum = 0;
    int ls_length = 20;
    std::string dyn_type;
    long timer = 0, limit = 0;
    // Bodies; lists are newest first (a new entry goes to the front).
    int rtr_type = 0;
    std::vector<OspfRouterLink> links;
    uint32_t mask = 0;
    std::vector<uint32_t> routers;  // network LSA, in the order given
    int metric = 0;
    int ext_flag = 0;  // 0 or 0x80
    uint32_t fwd_addr = 0;
    uint32_t tag = 0;
    std::vector<OspfVertex> vertices;
};

// Option letters: "M" 4, "T" 1, "E" 2; other letters are ignored.
int ospf_options(const std::string& text);
// Router-type text: E/VE 1, B/VB 2, EB/VEB 3, anything else 0.
int ospf_rtr_type(const std::string& text);
// Dotted quad to a host-order number; nullopt for anything else.
std::optional<uint32_t> ospf_quad(const std::string& text);
// ls_seq + 1, never 0xFFFFFFFF (which wraps to the initial sequence number).
void ospf_advance_seq(OspfLsa& lsa);

// "%04x%02x%02x%08x%08x%08x%04x%04x" header, then the body. For the checksum
// text the age and checksum are 0 and the text carries a "0x" prefix.
std::string ospf_lsa_hex(const OspfLsa& lsa, bool for_checksum = false);
// The OSPF_LS_HDR filter string of the header.
std::string ospf_header_filter(const OspfLsa& lsa);
// The refresh decision by dynamic type; true means "retransmit".
bool ospf_need_to_rxmit(OspfLsa& lsa);
// Adds to the timer; true once it has reached the limit.
bool ospf_incr_timer(OspfLsa& lsa, long increment);

using OspfLsdb = std::map<std::string, OspfLsa>;

// The process-wide table of link-state databases by interface name.
std::map<std::string, OspfLsdb>& ospf_lsdbs();

// Answers a link-state request of `entries` entries: `ad_id_of(i)` gives the
// advertisement identifier of entry i (null when it cannot be read),
// `hex_of(lsa)` the LSA's hex string with its checksum freshly computed.
// Entries are taken from the last to the first; the list stops before the
// LSA that would take the total past the budget. An identifier missing from
// the database stops the answer and sets *bad_request.
std::vector<std::string> ospf_answer_ls_request(OspfLsdb& lsdb, long entries,
                                                const std::function<std::optional<std::string>(long)>& ad_id_of,
                                                const std::function<std::string(OspfLsa&)>& hex_of,
                                                bool* bad_request);

}  // namespace zm

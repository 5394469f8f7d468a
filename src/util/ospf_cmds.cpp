// OSPF link-state database commands: create and delete databases, add LSAs of
// the five kinds, age and refresh them, format them, answer link-state requests.
#include <tcl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "util/ospf_cmds.h"
#include "util/ospf_lsdb.h"

namespace zm {
namespace {

constexpr const char* kModule = "ospf_lsdb";

int fault(Tcl_Interp* interp, int line, const std::string& message) {
    report(interp, kModule, line, LOG_FAULT, "%s", message.c_str());
    return TCL_ERROR;
}

bool parse_long(const char* text, long* out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0') return false;
    *out = v;
    return true;
}

// Reads the words shared by every add command (ifname ad_id [ls_type] options
// ls_id adv_rtr dyn_type) into `lsa`; on failure reports and returns false.
struct AddContext {
    Tcl_Interp* interp;
    Words& w;
    const char* usage;
    int next = 1;  // next word to read
    bool failed = false;

    const char* word() { return w[next++]; }
    bool fail(const std::string& message) {
        if (!failed) report(interp, kModule, __LINE__, LOG_FAULT, "%s", message.c_str());
        failed = true;
        return false;
    }
    bool number(long* out) {
        const char* text = word();
        if (!parse_long(text, out)) return fail(std::string("expected an integer but got \"") + text + "\"");
        return true;
    }
    bool quad(uint32_t* out, std::string* keep = nullptr) {
        const char* text = word();
        auto q = ospf_quad(text);
        if (!q) return fail(std::string("expected a dotted-quad address but got \"") + text + "\"");
        *out = *q;
        if (keep) *keep = text;
        return true;
    }
};

OspfLsdb* find_lsdb(Tcl_Interp* interp, const char* ifname, bool quiet = false) {
    auto& tables = ospf_lsdbs();
    auto it = tables.find(ifname);
    if (it == tables.end()) {
        if (!quiet) report(interp, kModule, __LINE__, LOG_FAULT, "no LSDB for \"%s\"", ifname);
        return nullptr;
    }
    return &it->second;
}

OspfLsa* find_ad(Tcl_Interp* interp, const char* ifname, const char* ad_id, bool quiet = false) {
    OspfLsdb* lsdb = find_lsdb(interp, ifname, quiet);
    if (!lsdb) return nullptr;
    auto it = lsdb->find(ad_id);
    if (it == lsdb->end()) {
        if (!quiet) report(interp, kModule, __LINE__, LOG_FAULT, "no ad with %s for %s", ad_id, ifname);
        return nullptr;
    }
    return &it->second;
}

// Fills in the checksum through the script-level `checksum ospf_lsa` command.
bool compute_checksum(Tcl_Interp* interp, OspfLsa& lsa) {
    Tcl_Obj* words[3] = {Tcl_NewStringObj("checksum", -1), Tcl_NewStringObj("ospf_lsa", -1),
                         Tcl_NewStringObj(ospf_lsa_hex(lsa, true).c_str(), -1)};
    for (Tcl_Obj* o : words) Tcl_IncrRefCount(o);
    int code = Tcl_EvalObjv(interp, 3, words, TCL_EVAL_GLOBAL);
    for (Tcl_Obj* o : words) Tcl_DecrRefCount(o);
    long value = 0;
    if (code != TCL_OK || !parse_long(Tcl_GetStringResult(interp), &value)) {
        report(interp, kModule, __LINE__, LOG_FAULT, "checksum of ad %s failed", lsa.ad_id.c_str());
        return false;
    }
    Tcl_ResetResult(interp);
    lsa.ls_chksum = static_cast<uint16_t>(value);
    return true;
}

int set_result(Tcl_Interp* interp, const std::string& text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size())));
    return TCL_OK;
}

// ---- the add commands --------------------------------------------------------

// ifname ad_id [ls_type] options ls_id adv_rtr dyn_type
bool read_common(AddContext& c, OspfLsa& lsa, bool with_type) {
    std::string ifname = c.word();
    lsa.ad_id = c.word();
    if (ifname.size() > kOspfIfnameMax) return c.fail("interface name \"" + ifname + "\" is too long");
    if (lsa.ad_id.size() > kOspfAdIdMax) return c.fail("ad_id \"" + lsa.ad_id + "\" is too long");
    if (with_type) {
        long type = 0;
        if (!c.number(&type)) return false;
        if (type != kSummaryNetLsa && type != kSummaryAsbrLsa)
            return c.fail("summary ls_type must be 3 or 4, not " + std::to_string(type));
        lsa.ls_type = static_cast<int>(type);
    }
    lsa.options = ospf_options(c.word());
    uint32_t ignored = 0;
    if (!c.quad(&ignored, &lsa.ls_id) || !c.quad(&ignored, &lsa.adv_rtr)) return false;
    lsa.dyn_type = c.word();
    if (lsa.dyn_type.size() > kOspfDynTypeMax) return c.fail("dynamic type \"" + lsa.dyn_type + "\" is too long");
    return true;
}

// Reads the final limit word and stores the advertisement in its LSDB.
int finish_add(AddContext& c, OspfLsa& lsa) {
    if (!c.number(&lsa.limit)) return TCL_ERROR;
    OspfLsdb* lsdb = find_lsdb(c.interp, c.w[1]);
    if (!lsdb) return TCL_ERROR;
    (*lsdb)[lsa.ad_id] = std::move(lsa);
    Tcl_ResetResult(c.interp);
    return TCL_OK;
}

// A count word followed by that many list words and the limit: checks the word count.
bool read_count(AddContext& c, long* count, long max = 4096) {
    if (!c.number(count)) return false;
    if (*count < 0 || *count > max || c.w.argc != c.next + *count + 1)
        return c.fail(std::string("Usage: ") + c.usage);
    return true;
}

bool read_rtr(AddContext& c, OspfLsa& lsa) {
    lsa.rtr_type = ospf_rtr_type(c.word());
    long n = 0;
    if (!read_count(c, &n)) return false;
    for (long i = 0; i < n; ++i) {
        const char* text = c.word();
        char id[32], data[32];
        OspfRouterLink link;
        auto qid = std::optional<uint32_t>{}, qdata = std::optional<uint32_t>{};
        if (std::sscanf(text, "%31s %31s %d %d", id, data, &link.type, &link.metric) != 4 ||
            !(qid = ospf_quad(id)) || !(qdata = ospf_quad(data)))
            return c.fail(std::string("bad router link \"") + text + "\": expected {link_id link_data type metric}");
        link.id = *qid;
        link.data = *qdata;
        lsa.links.insert(lsa.links.begin(), link);
        lsa.ls_length += 12;
    }
    return true;
}

bool read_net(AddContext& c, OspfLsa& lsa) {
    long n = 0;
    if (!c.quad(&lsa.mask) || !read_count(c, &n, kOspfNetRoutersMax)) return false;
    for (long i = 0; i < n; ++i) {
        uint32_t r = 0;
        if (!c.quad(&r)) return false;
        lsa.routers.push_back(r);
        lsa.ls_length += 4;
    }
    return true;
}

bool read_summ(AddContext& c, OspfLsa& lsa) {
    long metric = 0;
    if (!c.quad(&lsa.mask) || !c.number(&metric)) return false;
    lsa.metric = static_cast<int>(metric);
    return true;
}

bool read_ext(AddContext& c, OspfLsa& lsa) {
    if (!c.quad(&lsa.mask)) return false;
    lsa.ext_flag = std::string(c.word()) == "TYPE1" ? 0 : 0x80;
    long metric = 0, tag = 0;
    if (!c.number(&metric) || !c.quad(&lsa.fwd_addr) || !c.number(&tag)) return false;
    lsa.metric = static_cast<int>(metric);
    lsa.tag = static_cast<uint32_t>(tag);
    return true;
}

bool read_mcast(AddContext& c, OspfLsa& lsa) {
    long n = 0;
    if (!read_count(c, &n)) return false;
    for (long i = 0; i < n; ++i) {
        const char* text = c.word();
        char id[32];
        OspfVertex v;
        std::optional<uint32_t> q;
        if (std::sscanf(text, "%d %31s", &v.type, id) != 2 || !(q = ospf_quad(id)))
            return c.fail(std::string("bad vertex \"") + text + "\": expected {type vertex_id}");
        v.id = *q;
        lsa.vertices.insert(lsa.vertices.begin(), v);
        lsa.ls_length += 8;
    }
    return true;
}

// Summary LSAs take their ls_type (3 or 4) from the command's words.
constexpr int kTypeFromWords = 0;

// An add command: the shared words, the kind's own words (`read_rest`), then
// the limit; the advertisement starts as `length` bytes and grows with its lists.
template <int Type, int Length, bool (*ReadRest)(AddContext&, OspfLsa&)>
int add_lsa(Tcl_Interp* interp, Words& w, const char* usage) {
    AddContext c{interp, w, usage};
    OspfLsa lsa;
    lsa.ls_type = Type;
    lsa.ls_length = Length;
    if (!read_common(c, lsa, Type == kTypeFromWords) || !ReadRest(c, lsa)) return TCL_ERROR;
    return finish_add(c, lsa);
}

// ---- the other commands ------------------------------------------------------

int create_table(Tcl_Interp* interp, Words& w, const char*) {
    std::string name = w[1];
    if (name.size() > kOspfIfnameMax) return fault(interp, __LINE__, "interface name \"" + name + "\" is too long");
    if (!ospf_lsdbs().emplace(name, OspfLsdb{}).second)
        return fault(interp, __LINE__, "LSDB exists for \"" + name + "\"");
    return TCL_OK;
}

int delete_table(Tcl_Interp*, Words& w, const char*) {
    ospf_lsdbs().erase(w[1]);
    return TCL_OK;
}

int hdr_pdl(Tcl_Interp* interp, Words& w, const char*) {
    OspfLsa* lsa = find_ad(interp, w[1], w[2]);
    if (!lsa || !compute_checksum(interp, *lsa)) return TCL_ERROR;
    return set_result(interp, ospf_header_filter(*lsa));
}

int pdl_str(Tcl_Interp* interp, Words& w, const char*) {
    OspfLsa* lsa = find_ad(interp, w[1], w[2]);
    if (!lsa) return set_result(interp, "-1");
    if (!compute_checksum(interp, *lsa)) return TCL_ERROR;
    return set_result(interp, ospf_lsa_hex(*lsa));
}

int incr_timer(Tcl_Interp* interp, Words& w, const char*) {
    long increment = 0;
    if (!parse_long(w[3], &increment))
        return fault(interp, __LINE__, std::string("expected an integer but got \"") + w[3] + "\"");
    OspfLsa* lsa = find_ad(interp, w[1], w[2]);
    if (!lsa) return TCL_ERROR;
    return set_result(interp, ospf_incr_timer(*lsa, increment) ? "1" : "0");
}

int need_rxmit(Tcl_Interp* interp, Words& w, const char*) {
    OspfLsa* lsa = find_ad(interp, w[1], w[2]);
    if (!lsa) return TCL_ERROR;
    return set_result(interp, ospf_need_to_rxmit(*lsa) ? "1" : "0");
}

int set_age(Tcl_Interp* interp, Words& w, const char*) {
    long age = 0;
    if (!parse_long(w[3], &age) || age < 0 || age > 0xffff)
        return fault(interp, __LINE__, std::string("bad age \"") + w[3] + "\"");
    if (OspfLsa* lsa = find_ad(interp, w[1], w[2], true)) lsa->ls_age = static_cast<int>(age);
    return TCL_OK;
}

int reset_entry(Tcl_Interp* interp, Words& w, const char*) {
    if (OspfLsa* lsa = find_ad(interp, w[1], w[2], true)) {
        lsa->ls_age = 1;
        ospf_advance_seq(*lsa);
        lsa->timer = 0;
    }
    return TCL_OK;
}

int dyn_type(Tcl_Interp* interp, Words& w, const char*) {
    OspfLsa* lsa = find_ad(interp, w[1], w[2]);
    if (!lsa) return TCL_ERROR;
    return set_result(interp, lsa->dyn_type);
}

struct OspfCommand {
    const char* name;
    int min_words;  // command word included
    int max_words;  // -1: any
    const char* usage;
    int (*handler)(Tcl_Interp*, Words&, const char* usage);
};

// Commands in registration order. The usage texts of the fixed-form commands
// are the messages scripts already match on.
constexpr OspfCommand kCommands[] = {
    {"create_lsdb_table", 2, 2, "create_lsdb_table ospf_ifname", create_table},
    {"delete_lsdb_table", 2, 2, "delete_lsdb_table ospf_ifname", delete_table},
    {"add_ospf_rtr_lsa", 10, -1,
     "add_ospf_rtr_lsa ospf_ifname ad_id options ls_id adv_rtr dyn_type rtr_type nlinks {link}... limit",
     add_lsa<kRouterLsa, 24, read_rtr>},
    {"add_ospf_net_lsa", 10, -1,
     "add_ospf_net_lsa ospf_ifname ad_id options ls_id adv_rtr dyn_type mask nrouters {router}... limit",
     add_lsa<kNetworkLsa, 24, read_net>},
    {"add_ospf_summ_lsa", 11, 11,
     "add_ospf_summ_lsa ospf_ifname ad_id ls_type options ls_id adv_rtr dyn_type mask metric limit",
     add_lsa<kTypeFromWords, 28, read_summ>},
    {"add_ospf_ext_lsa", 13, 13,
     "add_ospf_ext_lsa ospf_ifname ad_id options ls_id adv_rtr dyn_type mask ext_type metric fwd_addr tag limit",
     add_lsa<kExternalLsa, 36, read_ext>},
    {"add_ospf_mcast_lsa", 9, -1,
     "add_ospf_mcast_lsa ospf_ifname ad_id options ls_id adv_rtr dyn_type nvertices {vertex}... limit",
     add_lsa<kGroupLsa, 20, read_mcast>},
    {"get_ospf_hdr_pdl", 3, 3, "get_ospf_hdr_pdl ospf_ifname ad_id", hdr_pdl},
    {"get_ospf_pdl_str", 3, 3, "get_ospf_pdl_str ospf_ifname ad_id", pdl_str},
    {"incr_ospf_timer", 4, 4, "incr_ospf_timer ospf_ifname ad_id increment", incr_timer},
    {"ospf_need_to_rxmit", 3, 3, "ospf_need_to_rxmit ospf_ifname ad_id", need_rxmit},
    {"set_ospf_lsu_age", 4, 4, "set_ospf_lsu_age ospf_ifname ad_id age_val", set_age},
    {"reset_ospf_lsu_entry", 3, 3, "reset_ospf_lsu_entry ospf_ifname ad_id", reset_entry},
    {"get_ospf_dyn_ad_type", 3, 3, "get_dyn_ad_type ospf_ifname ad_id", dyn_type},
};

int cmd_ospf(ClientData data, Tcl_Interp* interp, Words& w) {
    const auto* c = static_cast<const OspfCommand*>(data);
    if (w.argc < c->min_words || (c->max_words >= 0 && w.argc > c->max_words))
        return fault(interp, __LINE__, c->usage);
    return c->handler(interp, w, c->usage);
}

}  // namespace

int cmd_process_ospf_ls_req_pkt(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc != 4) return fault(interp, __LINE__, "process_ospf_ls_req_pkt ospf_ifname pkt_handle script_prefix");
    OspfLsdb* lsdb = find_lsdb(interp, w[1]);
    if (!lsdb) return TCL_ERROR;
    const std::string handle = w[2];
    auto eval_words = [interp](std::initializer_list<std::string> words) -> std::optional<std::string> {
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        Tcl_IncrRefCount(list);
        for (const auto& s : words) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s.c_str(), -1));
        int code = Tcl_EvalObjEx(interp, list, TCL_EVAL_GLOBAL);
        Tcl_DecrRefCount(list);
        if (code != TCL_OK) return std::nullopt;
        std::string out = Tcl_GetStringResult(interp);
        Tcl_ResetResult(interp);
        return out;
    };
    auto length_text = eval_words({"pkt_val", "get", "*.OSPF_HDR.pkt_length", handle, "-value"});
    long length = 0;
    if (!length_text || !parse_long(length_text->c_str(), &length) || length < 24 || length > 0xffff)
        return fault(interp, __LINE__, "packet " + handle + " has no readable OSPF_HDR pkt_length");
    bool bad_request = false;
    std::vector<std::string> answer = ospf_answer_ls_request(
        *lsdb, (length - 24) / 12,
        [&](long i) { return eval_words({"pkt_getinststr", "OSPF_LS_REQ_LINK", std::to_string(i), handle, "-value"}); },
        [&](OspfLsa& lsa) {
            compute_checksum(interp, lsa);
            return ospf_lsa_hex(lsa);
        },
        &bad_request);
    if (bad_request) {
        std::string script = std::string(w[3]) + " post_badLsReq";
        if (Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK) return TCL_ERROR;
    }
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const auto& hex : answer) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(hex.c_str(), -1));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int register_ospf_group(Tcl_Interp* interp) {
    for (const OspfCommand& c : kCommands)
        create_command<cmd_ospf>(interp, c.name, const_cast<OspfCommand*>(&c));
    return 0;
}

}  // namespace zm

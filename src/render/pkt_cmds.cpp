// The saved-packet commands: save, compose, list, describe, dump and delete
// saved packets, and read or change their fields by path through the packet
// context, which caches the packet tree of one packet at a time.
#include <tcl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/textconv.h"
#include "core/timeutil.h"
#include "decode/decode.h"
#include "encode/encoder.h"
#include "encode/send.h"
#include "netif/netif.h"
#include "pdl/protodb.h"
#include "render/pkt_cmds.h"
#include "render/pkttree.h"
#include "render/saver.h"
#include "render/tclvars_export.h"
#include "util/ospf_cmds.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/pkt_saver";
// Largest packet a buffer can address (its tail is a 16-bit offset).
constexpr uint32_t kMaxRoom = 0xFFFF - kBufferDataOffset;


int usage(Tcl_Interp* interp, const char* text) { return report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s", text); }

void warn_all(Tcl_Interp* interp, const std::vector<std::string>& warnings) {
    for (const auto& w : warnings) report(interp, kModule, __LINE__, LOG_WARNING, "%s", w.c_str());
}

Tcl_Obj* text_obj(const std::string& s) { return Tcl_NewStringObj(s.data(), static_cast<int>(s.size())); }

Node* node_of(const PacketBuffer* b) { return static_cast<Node*>(const_cast<void*>(b->base_node)); }

const char* direction_name(uint32_t d) { return d == DIR_TX ? "TX" : d == DIR_RX ? "RX" : "NA"; }

// ---- the packet context ----------------------------------------------------

struct PacketContext {
    uint32_t handle = 0;  // the packet whose tree is cached; 0 = none
    PacketTree tree;

    void forget() {
        handle = 0;
        tree.clear();
    }
};

PacketContext& packet_context() {
    static PacketContext context;
    return context;
}

// Parses a path pattern; false after reporting why it is bad.
bool read_pattern(Tcl_Interp* interp, const std::string& text, bool wildcards, std::vector<PathEntry>& pattern) {
    std::string error;
    if (parse_pattern(text, wildcards, pattern, error)) return true;
    report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s", error.c_str());
    return false;
}

// Makes the context hold the packet's tree; null after a report.
PacketTree* context_tree(Tcl_Interp* interp, const char* handle_text, PacketBuffer** packet_out = nullptr) {
    uint32_t handle = SavedPackets::parse_handle(handle_text);
    PacketBuffer* packet = saved_packets().find(handle);
    if (!packet) {
        report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown packet \"%s\"", handle_text);
        return nullptr;
    }
    if (packet_out) *packet_out = packet;
    PacketContext& ctx = packet_context();
    if (ctx.handle == handle && ctx.tree.root()) return &ctx.tree;
    ctx.forget();
    if (!packet->base_node) {
        report_failure(interp, kModule, __LINE__, LOG_FAULT, "Base node unknown \"%lu\"", static_cast<unsigned long>(handle));
        return nullptr;
    }
    DecodeBlock* tree = decode_tree(packet);
    if ((!tree || tree->empty()) && !decode_packet(packet, node_of(packet), nullptr)) {
        report_failure(interp, kModule, __LINE__, LOG_FAULT, "Decode of packet \"%s\" failed", handle_text);
        return nullptr;
    }
    std::vector<std::string> warnings;
    bool built = ctx.tree.build(packet, warnings);
    warn_all(interp, warnings);
    if (!built) {
        report_failure(interp, kModule, __LINE__, LOG_FAULT, "Packet \"%s\" has no decoded node", handle_text);
        return nullptr;
    }
    ctx.handle = handle;
    return &ctx.tree;
}

const std::vector<RegPath>& context_regs(Tcl_Interp* interp, PacketTree& tree) {
    std::vector<std::string> warnings;
    const std::vector<RegPath>& regs = tree.regs(warnings);
    warn_all(interp, warnings);
    return regs;
}

Tcl_Obj* item(const RegPath& reg, bool hex) { return text_obj(reg.text() + " " + reg.value(hex)); }

// Parses the flag options of the path commands; false after the usage report.
bool flag_options(Tcl_Interp* interp, Words& w, const OptSpec* table, const char* usage_text) {
    if (parse_options(interp, &w.argc, w.data(), table, 0) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", usage_text);
        return false;
    }
    return true;
}

// "-hex" and "-value", shared by pkt_val and pkt_getinststr.
bool value_options(Tcl_Interp* interp, Words& w, const char* usage_text, int* hex, int* value_only) {
    const OptSpec table[] = {
        {"-hex", OPT_CONSTANT, 1, hex, "Return value in hex format"},
        {"-value", OPT_CONSTANT, 1, value_only, "Return value only and not the matched filter string"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    return flag_options(interp, w, table, usage_text);
}

// ---- registry commands -------------------------------------------------------

int cmd_pkts(ClientData, Tcl_Interp* interp, Words&) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (uint32_t h : saved_packets().handles())
        Tcl_ListObjAppendElement(nullptr, list, Tcl_ObjPrintf("%lu", static_cast<unsigned long>(h)));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int cmd_pkt_info(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 2) return usage(interp, "Usage: pkt_info {pkt handle}");
    Tcl_Obj* result = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(result);
    for (int i = 1; i < w.argc; ++i) {
        const PacketBuffer* p = saved_packets().find(w[i]);
        if (!p) {
            Tcl_DecrRefCount(result);
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown packet \"%s\"", w[i]);
        }
        const Node* base = node_of(p);
        std::string text = std::string("handle ") + w[i] + " ";
        text += base && !base->name_.empty() ? "basenode " + base->name_ + " " : std::string("basenode {} ");
        char buf[160];
        std::snprintf(buf, sizeof buf, "length %u truncated %lu ", p->length(), static_cast<unsigned long>(p->trunc_len));
        text += buf;
        time_t secs = static_cast<time_t>(p->sec);
        struct tm local {};
        localtime_r(&secs, &local);
        char when[64];
        size_t used = std::strftime(when, sizeof when, "%d-%b-%y %T", &local);
        when[used] = '\0';
        std::snprintf(buf, sizeof buf, "date {%s.%03lu} elapsed {%lu %lu} direction %s ", when,
                      static_cast<unsigned long>(p->usec / 1000), static_cast<unsigned long>(p->sec),
                      static_cast<unsigned long>(p->usec), direction_name(p->direction));
        text += buf;
        Tcl_ListObjAppendElement(nullptr, result, text_obj(text));
    }
    Tcl_SetObjResult(interp, result);
    Tcl_DecrRefCount(result);
    return TCL_OK;
}

int cmd_pkt_compose(ClientData, Tcl_Interp* interp, Words& w) {
    static constexpr const char* kUsage = "Usage: pkt_compose ?options?";
    const char* timestamp = nullptr;
    const char* rawdata = nullptr;
    const char* filter = nullptr;
    const char* basenode = nullptr;
    const char* direction = "TX";
    int mtu = 0, truncated = 0;
    const OptSpec table[] = {
        {"-timestamp", OPT_STRING, 0, &timestamp, "Timestamp for composing the pkt"},
        {"-rawdata", OPT_STRING, 0, &rawdata, "Rawdata for composing the pkt"},
        {"-filter", OPT_STRING, 0, &filter, "Filterstring for composing the pkt"},
        {"-basenode", OPT_STRING, 0, &basenode, "Basenode for composing the pkt"},
        {"-mtu", OPT_INT, 0, &mtu, "Max size of packet"},
        {"-direction", OPT_STRING, 0, &direction, "Direction of the packet, TX/RX/NA (defaults to TX)"},
        {"-truncated", OPT_INT, 0, &truncated, "Non-zero (orig length) if the packet was truncated"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    if (w.argc < 2) return usage(interp, kUsage);
    if (parse_options(interp, &w.argc, w.data(), table, OPT_NO_LEFTOVERS) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kUsage);
        return TCL_ERROR;
    }
    if (rawdata && filter) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Incompatible options to pkt_save");
    Node* base = nullptr;
    if (basenode && !(base = protodb().find_node(basenode))) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown node \"%s\"", basenode);
    uint32_t dir = DIR_NA;
    if (std::string(direction) == "TX") {
        dir = DIR_TX;
    } else if (std::string(direction) == "RX") {
        dir = DIR_RX;
    } else if (std::string(direction) != "NA") {
        report(interp, kModule, __LINE__, LOG_WARNING, "Bad \"-direction\" - using NA");
    }
    if (mtu < 0 || static_cast<uint32_t>(mtu) > kMaxRoom)
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bad \"-mtu\" %d: a packet holds 0 to %u bytes", mtu, kMaxRoom);
    if (truncated < 0) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bad \"-truncated\" %d: a length cannot be negative", truncated);
    uint32_t room = 2048;
    if (base) {
        const NodeAttr* a = find_node_attr(base, NATTR_MAXMTU);
        uint32_t max = a ? a->number_ : 2048;
        room = max;
        if (mtu > 0 && static_cast<uint32_t>(mtu) < max)
            report(interp, kModule, __LINE__, LOG_WARNING, "Specified mtu of %d is less than max mtu of %u for media type %s",
                   mtu, max, base->name_.c_str());
    }
    if (mtu > 0) room = static_cast<uint32_t>(mtu);
    std::vector<uint8_t> raw;
    if (rawdata) {
        raw = asciihex2binary(rawdata, false);
        if (raw.size() > room) room = static_cast<uint32_t>(raw.size());
    }
    if (room > kMaxRoom) room = kMaxRoom;
    if (rawdata && raw.size() > room)
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Raw data of %zu bytes is longer than the largest packet (%u bytes)", raw.size(), room);
    BufferPtr buffer(buffer_alloc(room));
    if (!buffer) {
        report(interp, kModule, __LINE__, LOG_WARNING, "no buf");
        return TCL_ERROR;
    }
    buffer->base_node = base;
    if (rawdata) {
        if (!raw.empty()) std::memcpy(buffer->data(), raw.data(), raw.size());
        buffer->tail = static_cast<uint16_t>(buffer->head + raw.size());
    } else {
        TimeVal when{};
        if (timestamp && !parse_timestamp(timestamp, &when))
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bad \"-timestamp\" \"%s\"", timestamp);
        if (build_packet(buffer.get(), filter ? filter : "", base, timestamp ? &when : nullptr, dir,
                         static_cast<uint32_t>(truncated)) != 0) {
            // The encoder has reported why; the result says what failed.
            Tcl_SetObjResult(interp, Tcl_NewStringObj("pkt_compose failed: packet not built", -1));
            return TCL_ERROR;
        }
    }
    uint32_t handle = saved_packets().save(std::move(buffer));
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%lu", static_cast<unsigned long>(handle)));
    return TCL_OK;
}

int cmd_pkt_save(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 3) return usage(interp, "Usage: pkt_save {netif} {list of buffer handles}");
    Netif* n = find_netif(w[1]);
    if (!n) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown netif: %s", w[1]);
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (int i = 2; i < w.argc; ++i) {
        PacketBuffer* b = lookup_buffer(n, w[i]);
        if (!b) continue;
        PacketBuffer* copy = detached_copy(b);
        if (!copy) continue;
        copy->base_node = n->base_node_;
        uint32_t h = saved_packets().save(BufferPtr(copy));
        Tcl_ListObjAppendElement(nullptr, list, Tcl_ObjPrintf("%lu", static_cast<unsigned long>(h)));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int cmd_pkt_delete(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 2) return usage(interp, "Usage: pkt_delete {list of pkt handles}");
    for (int i = 1; i < w.argc; ++i) saved_packets().remove(SavedPackets::parse_handle(w[i]));
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int cmd_pkt_getdatastring(ClientData, Tcl_Interp* interp, Words& w) {
    static constexpr const char* kUsage = "Usage: pkt_getdatastring {packet handle} ?options?";
    const OptSpec table[] = {{nullptr, OPT_END, 0, nullptr, nullptr}};
    if (w.argc < 2 || parse_options(interp, &w.argc, w.data(), table, 0) != TCL_OK || w.argc < 2)
        return usage(interp, kUsage);
    const PacketBuffer* p = saved_packets().find(w[1]);
    if (!p) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown packet \"%s\"", w[1]);
    Tcl_SetObjResult(interp, text_obj(bin2asciihex(p->data(), p->length(), false)));
    return TCL_OK;
}

int cmd_pkt_sendstring(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 3) return usage(interp, "Usage: pkt_sendstring {basenode} {pkt handle}");
    Node* base = protodb().find_node(w[1]);
    if (!base) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown node \"%s\"", w[1]);
    PacketBuffer* p = saved_packets().find(w[2]);
    if (!p) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown packet \"%s\"", w[2]);
    // The export decodes relative to the node asked for: drop a tree built from another base.
    if (p->base_node != base && p->decode) {
        release_decode_block(p->decode);
        p->decode = nullptr;
    }
    export_packet(interp, nullptr, p, base);
    if (Tcl_EvalEx(interp, "pkt save", -1, TCL_EVAL_GLOBAL) != TCL_OK) {
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    Tcl_Obj* object = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(object);
    auto call = [&](const char* method) {
        Tcl_Obj* words[2] = {object, Tcl_NewStringObj(method, -1)};
        Tcl_IncrRefCount(words[1]);
        int code = Tcl_EvalObjv(interp, 2, words, TCL_EVAL_GLOBAL);
        Tcl_DecrRefCount(words[1]);
        return code;
    };
    Tcl_Obj* sendstring = nullptr;
    if (call("getsendstring") == TCL_OK) sendstring = Tcl_GetObjResult(interp);
    if (sendstring) Tcl_IncrRefCount(sendstring);
    call("delete");
    if (sendstring) {
        Tcl_SetObjResult(interp, sendstring);
        Tcl_DecrRefCount(sendstring);
    } else {
        Tcl_ResetResult(interp);
    }
    Tcl_DecrRefCount(object);
    return TCL_OK;
}

int cmd_pkt_dump_decode(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 2) return usage(interp, "Usage: pkt_dump_decode {pkt handle}");
    packet_context().forget();
    std::string out;
    for (int i = 1; i < w.argc; ++i) {
        PacketBuffer* p = saved_packets().find(w[i]);
        if (!p) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown packet \"%s\"", w[i]);
        if (!p->base_node) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Base node unknown \"%s\"", w[i]);
        DecodeBlock* tree = decode_tree(p);
        if ((!tree || tree->empty()) && !decode_packet(p, node_of(p), nullptr))
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Decode of packet \"%s\" failed", w[i]);
        char line[320];
        for (const DecodeElement& e : *decode_tree(p)) {
            static const char* const kNames[] = {"DECODE_HDR", "DECODE_NODE", "DECODE_NODE_END", "DECODE_ARRAY",
                                                 "DECODE_ARRAY_END", "DECODE_FLD", "DECODE_DATA"};
            if (e.type == DECODE_HDR || e.type == DECODE_DATA) {
                out += kNames[e.type];
                out += "\n";
            } else if (e.type <= DECODE_FLD) {
                const std::string& name = e.type == DECODE_FLD ? e.field()->name_ : e.node()->name_;
                std::snprintf(line, sizeof line, "%s %.256s %08lx\n", kNames[e.type], name.c_str(),
                              static_cast<unsigned long>(e.offset));
                out += line;
            } else {
                out += "UNKNOWN DECODE ELEMENT\n";
            }
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// ---- packet-context commands -------------------------------------------------

int cmd_pkt_val(ClientData, Tcl_Interp* interp, Words& w) {
    static constexpr const char* kUsage = "Usage: pkt_val {packet handle} ?options?";
    int hex = 0, value_only = 0;
    if (!value_options(interp, w, kUsage, &hex, &value_only)) return TCL_ERROR;
    if (w.argc < 4) return usage(interp, "Usage: pkt_val {cmd} {string} {pkt handle}");
    std::string cmd = w[1];
    if (cmd != "get" && cmd != "next" && cmd != "all")
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown  command \"%s\", should be one of {get, next, all}", w[1]);
    std::vector<PathEntry> pattern;
    if (!read_pattern(interp, w[2], true, pattern)) return TCL_ERROR;
    PacketTree* tree = context_tree(interp, w[3]);
    if (!tree) return TCL_ERROR;
    const std::vector<RegPath>& regs = context_regs(interp, *tree);
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(list);
    std::string error;  // the first fault match_path finds in the pattern
    auto matches = [&](const RegPath& r, bool full) {
        std::string e;
        bool ok = match_path(r, pattern, full, &e);
        if (!e.empty() && error.empty()) error = e;
        return ok;
    };
    if (cmd == "get") {
        for (const RegPath& r : regs) {
            if (!matches(r, true)) continue;
            Tcl_SetObjResult(interp, value_only ? text_obj(r.value(hex)) : item(r, hex));
            Tcl_DecrRefCount(list);
            return TCL_OK;
        }
    } else if (cmd == "all") {
        for (const RegPath& r : regs)
            if (matches(r, true)) Tcl_ListObjAppendElement(nullptr, list, item(r, hex));
    } else if (pattern.size() == 1) {  // "next" with an empty pattern: the first path
        if (!regs.empty()) Tcl_ListObjAppendElement(nullptr, list, item(regs.front(), hex));
    } else {
        bool found = false;
        for (size_t i = 0; i < regs.size() && !found; ++i) {
            if (!matches(regs[i], true)) continue;
            found = true;
            if (i + 1 < regs.size()) Tcl_ListObjAppendElement(nullptr, list, item(regs[i + 1], hex));
        }
        for (size_t i = 0; i < regs.size() && !found; ++i) {
            if (!matches(regs[i], false)) continue;
            found = true;
            Tcl_ListObjAppendElement(nullptr, list, item(regs[i], hex));
        }
    }
    if (!error.empty()) {
        Tcl_DecrRefCount(list);
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s", error.c_str());
    }
    Tcl_SetObjResult(interp, list);
    Tcl_DecrRefCount(list);
    return TCL_OK;
}

int cmd_pkt_fieldinfo(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 4) return usage(interp, "Usage: pkt_fieldinfo {cmd} {string} {pkt handle}");
    std::string cmd = w[1];
    if (cmd != "get" && cmd != "all")
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Unknown  command \"%s\", should be \"get\" or \"all\"", w[1]);
    std::vector<PathEntry> pattern;
    if (!read_pattern(interp, w[2], true, pattern)) return TCL_ERROR;
    PacketTree* tree = context_tree(interp, w[3]);
    if (!tree) return TCL_ERROR;
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const RegPath& r : context_regs(interp, *tree)) {
        if (!match_path(r, pattern, true)) continue;
        Tcl_ListObjAppendElement(nullptr, list, Tcl_ObjPrintf("%ld %ld", static_cast<long>(r.record->offset),
                                                              static_cast<long>(r.record->width)));
        if (cmd == "get") break;
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int cmd_pkt_getinststr(ClientData, Tcl_Interp* interp, Words& w) {
    static constexpr const char* kUsage = "Usage: pkt_getinststr {pdf} {inst_num} {pkt handle} ?options?";
    int hex = 0, value_only = 0;
    if (!value_options(interp, w, kUsage, &hex, &value_only)) return TCL_ERROR;
    if (w.argc < 4) return usage(interp, kUsage);
    std::vector<PathEntry> pattern;
    std::string text = std::string("*.") + w[1] + "." + w[2] + ".@";
    if (!read_pattern(interp, text, true, pattern)) return TCL_ERROR;
    PacketTree* tree = context_tree(interp, w[3]);
    if (!tree) return TCL_ERROR;
    std::string out = value_only ? "" : w[1];
    bool first = true;
    for (const RegPath& r : context_regs(interp, *tree)) {
        if (!match_path(r, pattern, true)) continue;
        const std::string& field = r.entries[r.entries.size() - 2].text;
        if (value_only) {
            if (!first) out += "_";
            out += r.value(hex);
        } else {
            out += " " + field + "=" + r.value(hex);
        }
        first = false;
    }
    Tcl_SetObjResult(interp, text_obj(out));
    return TCL_OK;
}

int cmd_pkt_set(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 4) return usage(interp, "Usage: pkt_set {string} {value} {pkt handle}");
    std::vector<PathEntry> pattern;
    if (!read_pattern(interp, w[1], false, pattern)) return TCL_ERROR;
    PacketBuffer* packet = nullptr;
    PacketTree* tree = context_tree(interp, w[3], &packet);
    if (!tree) return TCL_ERROR;
    context_regs(interp, *tree);
    RegPath* target = nullptr;
    for (RegPath& r : tree->mutable_regs())
        if (match_path(r, pattern, true)) {
            target = &r;
            break;
        }
    if (!target) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "pkt_set %s %s %s failed to find field", w[1], w[2], w[3]);
    std::string value = w[2];
    if (value.find_first_of(" \t\n\r,<>") != std::string::npos)
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "pkt_set %s: the value \"%s\" cannot hold blanks, \",\", \"<\" or \">\"", w[1], w[2]);
    tree->set_hex(*target, value);
    SendOptions all;
    all.hex = true;
    std::string send = tree->send_string(all);
    // Built into a fresh buffer, so a failed build leaves the saved packet as it was.
    // The base node's maximum, or more when the packet (with the new value)
    // may need it: a packet composed from raw data can be larger.
    uint64_t room = packet->length() + value.size() / 2 + 1;
    if (const NodeAttr* a = find_node_attr(node_of(packet), NATTR_MAXMTU)) room = std::max<uint64_t>(room, a->number_);
    if (room > kMaxRoom) room = kMaxRoom;
    BufferPtr fresh(buffer_alloc(static_cast<uint32_t>(room)));
    if (!fresh) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "no buf");
    fresh->base_node = packet->base_node;
    TimeVal when{static_cast<int32_t>(packet->sec), static_cast<int32_t>(packet->usec)};
    uint32_t handle = packet->frame;
    packet_context().forget();
    if (build_packet(fresh.get(), send.c_str(), node_of(packet), &when, packet->direction, packet->trunc_len) != 0)
        return TCL_ERROR;
    saved_packets().replace(handle, std::move(fresh));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w[3], -1));
    return TCL_OK;
}

int cmd_pkt_getsendstring(ClientData, Tcl_Interp* interp, Words& w) {
    static constexpr const char* kUsage = "Usage: pkt_getsendstring {packet handle} ?options?";
    int nodefault = 0, nocalc = 0, hex = 0;
    const OptSpec table[] = {
        {"-nodefault", OPT_CONSTANT, 1, &nodefault, "Don't put fields which have values which are defaults"},
        {"-nocalc", OPT_CONSTANT, 1, &nocalc, "Don't put fields which will be automatically calculated"},
        {"-hex", OPT_CONSTANT, 1, &hex, "Return value in hex format"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    if (!flag_options(interp, w, table, kUsage)) return TCL_ERROR;
    if (w.argc < 2) return usage(interp, kUsage);
    PacketTree* tree = context_tree(interp, w[1]);
    if (!tree) return TCL_ERROR;
    SendOptions o;
    o.hex = hex != 0;
    o.nodefault = nodefault != 0;
    o.nocalc = nocalc != 0;
    Tcl_SetObjResult(interp, text_obj(tree->send_string(o)));
    return TCL_OK;
}

// Builds a callback script: the code as given, then each word list-quoted,
// so names and values taken from the packet are data, never script.
int run_callback(Tcl_Interp* interp, const std::string& code, std::initializer_list<std::string> words) {
    if (code.empty()) return TCL_OK;
    std::string script = code;
    for (const auto& word : words) {
        Tcl_Obj* o = text_obj(word);
        Tcl_Obj* quoted = Tcl_NewListObj(1, &o);
        script += " ";
        script += Tcl_GetString(quoted);
        Tcl_DecrRefCount(quoted);
    }
    return Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL);
}

struct TreeParse {
    Tcl_Interp* interp;
    std::string fragment, array, field;

    int walk(const TreeRecord& record, const std::string& path) {
        for (const auto& child : record.children) {
            int code = TCL_OK;
            switch (child->type) {
            case TREE_NODE: {
                std::string p = path + "." + child->name;
                code = run_callback(interp, fragment, {"enter", child->name, p});
                if (code == TCL_OK) code = walk(*child, p);
                if (code == TCL_OK) code = run_callback(interp, fragment, {"exit", child->name, p});
                break;
            }
            case TREE_ARRAY: {
                if (!child->has_members_with_children()) break;
                std::string p = path + "." + child->name;
                code = run_callback(interp, array, {"enter", child->name, p});
                for (size_t k = 0; code == TCL_OK && k < child->children.size(); ++k) {
                    const TreeRecord& m = *child->children[k];
                    std::string mp = path + "." + m.name + "." + std::to_string(k);
                    code = run_callback(interp, fragment, {"enter", m.name, mp, std::to_string(k)});
                    if (code == TCL_OK) code = walk(m, mp);
                    if (code == TCL_OK) code = run_callback(interp, fragment, {"exit", m.name, mp, std::to_string(k)});
                }
                if (code == TCL_OK) code = run_callback(interp, array, {"exit", child->name, p});
                break;
            }
            case TREE_FIELD:
            case TREE_DATA:
                if (child->has_num)
                    code = run_callback(interp, field, {child->name, path + "." + child->name, child->num_text});
                break;
            default:
                report(interp, kModule, __LINE__, LOG_WARNING, "Bad type %d in pkt_tree_parse_node", child->type);
                return TCL_ERROR;
            }
            if (code != TCL_OK) return code;
        }
        return TCL_OK;
    }
};

int cmd_pkt_tree_parse(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 5)
        return usage(interp, "Usage: pkt_tree_parse {fragment code} {array code} {field code} {packet handle}");
    PacketTree* tree = context_tree(interp, w[4]);
    if (!tree) return TCL_ERROR;
    // The callbacks may query other packets or delete this one: the walk
    // keeps its own hold on the tree.
    std::shared_ptr<const TreeRecord> hold = tree->shared_root();
    const TreeRecord* root = hold.get();
    TreeParse parse{interp, w[1], w[2], w[3]};
    int code = run_callback(interp, parse.fragment, {"enter", root->name, root->name});
    if (code == TCL_OK) code = parse.walk(*root, root->name);
    if (code == TCL_OK) code = run_callback(interp, parse.fragment, {"exit", root->name, root->name});
    if (code == TCL_OK) Tcl_ResetResult(interp);
    return code == TCL_OK ? TCL_OK : TCL_ERROR;
}

int cmd_pkt_dump_reg(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 2) return usage(interp, "Usage: pkt_dump_reg {pkt handle}");
    PacketTree* tree = context_tree(interp, w[1]);
    if (!tree) return TCL_ERROR;
    std::string out;
    for (const RegPath& r : context_regs(interp, *tree)) out += r.text() + " = " + r.num_text + "\n";
    Tcl_SetObjResult(interp, text_obj(out));
    return TCL_OK;
}

const PacketBuffer* lookup_saved(const char* handle) { return saved_packets().find(handle); }

}  // namespace

int register_saved_packet_commands(Tcl_Interp* interp) {
    set_saved_packet_lookup(lookup_saved);
    create_command<cmd_pkts>(interp, "pkts");
    create_command<cmd_pkt_info>(interp, "pkt_info");
    create_command<cmd_pkt_compose>(interp, "pkt_compose");
    create_command<cmd_pkt_val>(interp, "pkt_val");
    create_command<cmd_pkt_set>(interp, "pkt_set");
    create_command<cmd_pkt_getsendstring>(interp, "pkt_getsendstring");
    create_command<cmd_pkt_getdatastring>(interp, "pkt_getdatastring");
    create_command<cmd_pkt_tree_parse>(interp, "pkt_tree_parse");
    create_command<cmd_pkt_dump_decode>(interp, "pkt_dump_decode");
    create_command<cmd_pkt_dump_reg>(interp, "pkt_dump_reg");
    create_command<cmd_pkt_save>(interp, "pkt_save");
    create_command<cmd_pkt_delete>(interp, "pkt_delete");
    create_command<cmd_pkt_sendstring>(interp, "pkt_sendstring");
    create_command<cmd_pkt_fieldinfo>(interp, "pkt_fieldinfo");
    create_command<cmd_pkt_getinststr>(interp, "pkt_getinststr");
    create_command<cmd_process_ospf_ls_req_pkt>(interp, "process_ospf_ls_req_pkt");
    return 0;
}

}  // namespace zm

// Export of one decoded packet into the PKT_TBL script variables.
#include "render/tclvars_export.h"

#include <tcl.h>

#include <ctime>
#include <string>

#include "core/buffer.h"
#include "decode/decode.h"
#include "decode/format.h"
#include "netif/engine_link.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr size_t kTextMax = 256;
constexpr int kGlobal = TCL_GLOBAL_ONLY;

struct Exporter {
    Tcl_Interp* interp;
    std::string key;
    std::string order_entry;

    void set(const char* array, const std::string& index, const std::string& value) {
        Tcl_SetVar2(interp, array, index.c_str(), value.c_str(), kGlobal);
    }
    void add(const std::string& k, const std::string& val, const std::string& sym) {
        set("PKT_TBL_val", k, val);
        set("PKT_TBL_sym", k, sym);
        order_entry = " {";
        order_entry += k;
        order_entry += "} ";
        Tcl_SetVar2(interp, "PKT_TBL_order", nullptr, order_entry.c_str(), kGlobal | TCL_APPEND_VALUE);
    }
};

bool empty_node(const DecodeBlock& tree, uint32_t i, uint32_t packet_length) {
    if (tree[i].offset / 8 == packet_length) return true;
    return i + 1 < tree.count() && tree[i + 1].type == DECODE_NODE_END;
}

std::string field_key(const char* node, const Field* field, uint32_t index) {
    std::string k = node;
    k += '_';
    k += field->name_;
    if (index > 0) {
        k += ',';
        k += std::to_string(index - 1);
    }
    return k;
}

void set_scalar(Tcl_Interp* interp, const char* name, const char* value) {
    Tcl_SetVar2(interp, name, nullptr, value, kGlobal);
}

}  // namespace

int& only_new_pkt() {
    static int value = 0;
    return value;
}

int link_only_new_pkt(Tcl_Interp* interp) {
    return Tcl_LinkVar(interp, "ONLY_NEW_PKT", reinterpret_cast<char*>(&only_new_pkt()), TCL_LINK_BOOLEAN) == TCL_OK
               ? 0
               : 1;
}

void export_packet(Tcl_Interp* interp, DecodeContext* ctx, PacketBuffer* buffer, Node* base) {
    if (only_new_pkt() || !buffer) return;
    bool lent = buffer->decode == nullptr;
    if (!engine_has_tree(buffer)) engine_decode(buffer, base, ctx);

    Tcl_UnsetVar2(interp, "PKT_TBL_val", nullptr, kGlobal);
    Tcl_UnsetVar2(interp, "PKT_TBL_sym", nullptr, kGlobal);
    Tcl_UnsetVar2(interp, "PKT_TBL_order", nullptr, kGlobal);

    char text[64];
    time_t secs = static_cast<time_t>(buffer->sec);
    struct tm local {};
    localtime_r(&secs, &local);
    size_t used = std::strftime(text, sizeof text, "%d-%b-%y:%T", &local);
    std::snprintf(text + used, sizeof text - used, ".%03lu", static_cast<unsigned long>(buffer->usec / 1000));
    set_scalar(interp, "PKT_TBL_time", text);
    std::snprintf(text, sizeof text, "%lu %lu", static_cast<unsigned long>(buffer->sec),
                  static_cast<unsigned long>(buffer->usec));
    set_scalar(interp, "PKT_TBL_elapsed", text);
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(buffer->frame));
    set_scalar(interp, "PKT_TBL_buffer_handle", text);
    // An empty order list when the packet has no elements to export.
    set_scalar(interp, "PKT_TBL_order", "");

    const DecodeBlock* tree = decode_tree(buffer);
    if (tree) {
        Exporter out{interp, {}, {}};
        const uint8_t* data = buffer->data();
        uint32_t length = buffer->length();
        std::string val, sym;
        for (uint32_t i = 0; i < tree->count(); ++i) {
            const DecodeElement& e = (*tree)[i];
            switch (e.type) {
            case DECODE_NODE:
                if (e.node() && !empty_node(*tree, i, length)) out.add(e.node()->name_, "", "");
                break;
            case DECODE_FLD: {
                const Field* field = e.field();
                if (!field || !field->owner_) break;
                val.clear();
                sym.clear();
                format_field_value(e, data, length, val, kTextMax);
                format_field(e, data, length, sym, kTextMax);
                if (val.empty()) val = "{}";
                if (sym.empty()) sym = "{}";
                out.add(field_key(field->owner_->name_.c_str(), field, e.index), val, sym);
                if (field->owner_->is_base()) out.add(field_key("MAC_HEADER", field, e.index), val, sym);
                break;
            }
            case DECODE_DATA: {
                uint32_t start = e.offset / 8;
                std::string hex;
                hex.reserve(2 * (length > start ? length - start : 0));
                static const char digits[] = "0123456789abcdef";
                for (uint32_t k = start; k < length; ++k) {
                    hex += digits[data[k] >> 4];
                    hex += digits[data[k] & 15];
                }
                out.add("RAWDATA", "0x" + hex, "0x" + hex);
                set_scalar(interp, "RAWDATA", hex.c_str());
                break;
            }
            default:
                break;
            }
        }
    }
    if (lent) engine_drop_decode(buffer);
}

}  // namespace zm

// The tap_fulldecode renderer: a column-aligned decode with item numbers, returned as a list.
#include "render/fulldecode.h"

#include <cstdio>
#include <cstring>

#include "core/options.h"
#include "core/report.h"
#include "decode/visitor.h"
#include "netif/netif.h"
#include "pdl/protodb.h"
#include "render/names.h"
#include "render/render.h"
#include "render/render_classes.h"
#include "render/vendors.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/tap_fdecode";

// A node or data line: the label in the full line width, then the byte offset.
void node_line(std::string& text, std::string_view label, const FullDecodeStyle& s, uint32_t byte_offset) {
    append_column(text, label, static_cast<size_t>(s.name_width + s.value_width + 5));
    if (s.lofield) {
        text += " byte ";
        append_uint(text, byte_offset, 6);
    }
    text += '\n';
}

void node_label(std::string& label, const Node* node, uint32_t index) {
    const std::string* display = node_display(node);
    label.clear();
    if (index == 0) {
        label += display ? *display : node->name_;
        return;
    }
    if (display) {
        size_t pct = display->find('%');
        label.append(*display, 0, pct);
    } else {
        label += node->name_;
    }
    label += '[';
    label += std::to_string(index);
    label += ']';
}

bool is_vendor_field(const Field* f) {
    return f->owner_ && f->owner_->is_base() && f->owner_->name_ == "ENET_HDR" && f->display_format_at_ >= 0 &&
           (f->name_ == "dst" || f->name_ == "src");
}

}  // namespace

void fulldecode_text(const DecodeBlock& tree, const uint8_t* data, uint32_t length, const FullDecodeStyle& s,
                     std::string& text, std::string& items) {
    const size_t nw = static_cast<size_t>(s.name_width);
    const size_t vw = static_cast<size_t>(s.value_width);
    DecodeVisitor visitor(tree, data, length, s.numeric ? VISIT_WANT_VALUE : VISIT_WANT_SYMBOL);
    VisitedElement v;
    std::string label, value;
    while (visitor.next(v)) {
        const DecodeElement& e = *v.element;
        if (v.kind == VISIT_NODE) {
            node_label(label, v.node, e.index);
            node_line(text, label, s, e.offset / 8);
            append_uint(items, v.item);
            items += ' ';
            continue;
        }
        if (v.kind == VISIT_DATA) {
            uint32_t start = e.offset / 8;
            node_line(text, "DATA", s, start);
            hex_dump(data + (start < length ? start : length), start < length ? length - start : 0, text, false,
                     s.charset);
            continue;
        }
        if (e.width == 0) continue;
        const Field* f = v.field;
        value.assign(s.numeric ? v.value : v.symbol);
        bool vendor_field = s.vendor && is_vendor_field(f);
        if (!vendor_field && field_name_kind(f) != 0 && e.width <= 32) {
            if (const std::string* host = host_name(e.value)) value = *host;
        }
        std::string_view name = f->name_;
        if (f->display_format_at_ >= 0) {
            size_t at = static_cast<size_t>(f->display_format_at_);
            std::string_view display = f->display_;
            if (at + 4 <= display.size()) value.append(display.substr(at + 4));
            // The blank between the label and the placeholder is not part of the name.
            std::string_view prefix = display.substr(0, at);
            while (!prefix.empty() && prefix.back() == ' ') prefix.remove_suffix(1);
            if (!prefix.empty() && !s.pdlnames) name = prefix;
        }
        text += "  ";
        append_column(text, name, nw);
        text += "   ";
        append_column(text, value, vw);
        if (s.lofield) {
            text += ' ';
            append_uint(text, e.width, 6);
            text += " bits";
        }
        text += '\n';
        append_uint(items, v.item);
        items += ' ';
        if (vendor_field && e.width >= 24) {
            uint32_t byte = e.offset / 8;
            if (e.offset % 8 == 0 && byte + 3 <= length) {
                uint32_t oui = (uint32_t{data[byte]} << 16) | (uint32_t{data[byte + 1]} << 8) | data[byte + 2];
                std::string_view vendor = s.vendor(s.vendor_ctx, oui);
                if (!vendor.empty()) {
                    text.append(2 + nw + 3, ' ');
                    append_column(text, vendor, vw);
                    text.append(12, ' ');
                    text += '\n';
                    append_uint(items, v.item);
                    items += ' ';
                }
            }
        }
    }
}

namespace {

struct FullDecode : Renderer {
    using Renderer::Renderer;
    FullDecodeStyle style;
};

std::string_view interp_vendor(void* interp, uint32_t oui) { return mac_vendor(static_cast<Tcl_Interp*>(interp), oui); }

DecodeBlock& scratch() {
    static DecodeBlock block;
    return block;
}

int fulldecode_proc(Renderer* base, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    auto* r = static_cast<FullDecode*>(base);
    Netif* netif = renderer_call_netif(interp, r, objc, 2, "Usage: {renderer} {list of buffer handles} ?options?");
    if (!netif) return TCL_ERROR;
    FullDecodeStyle style = r->style;
    style.vendor_ctx = interp;
    ObjRef item_lists(Tcl_NewListObj(0, nullptr));
    ObjRef texts(Tcl_NewListObj(0, nullptr));
    std::string text, items;
    int shown = 0;
    for (int i = 1; i < objc; ++i) {
        PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[i]));
        if (!b) continue;
        PreparedBuffer prepared(b, scratch(), netif->base_node_, r->ctx_);
        text.clear();
        items.clear();
        if (const DecodeBlock* tree = prepared.tree())
            fulldecode_text(*tree, b->data(), b->length(), style, text, items);
        Tcl_ListObjAppendElement(nullptr, item_lists.get(),
                                 Tcl_NewStringObj(items.data(), static_cast<int>(items.size())));
        Tcl_Obj* one = Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
        Tcl_ListObjAppendElement(nullptr, texts.get(), Tcl_NewListObj(1, &one));
        ++shown;
    }
    if (shown == 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(" ", 1));
        return TCL_OK;
    }
    Tcl_ListObjAppendList(nullptr, item_lists.get(), texts.get());
    Tcl_SetObjResult(interp, item_lists.get());
    return TCL_OK;
}

// A column width within [lo, hi]; one out of range is warned about (`below`
// or `above`) and replaced by the nearer limit.
int clamp_width(Tcl_Interp* interp, int width, int lo, int hi, const char* below, const char* above) {
    if (width < lo) {
        report(interp, kModule, __LINE__, LOG_WARNING, "%s", below);
        return lo;
    }
    if (width > hi) {
        report(interp, kModule, __LINE__, LOG_WARNING, "%s", above);
        return hi;
    }
    return width;
}

int create_fulldecode(const char* name, Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    const char* charset = "ASCII";
    const char* symvals = "TEXT";
    int namewidth = DFLT_NAME_WIDTH, valwidth = DFLT_VAL_WIDTH, lofield = 1, pdlnames = 0;
    const OptSpec table[] = {
        {"-charset", OPT_STRING, 0, &charset, "Character set used in displaying data, ASCII/EBCDIC (defaults to ASCII)"},
        {"-symvals", OPT_STRING, 0, &symvals, "Display symbolic values as TEXT or NUMERIC (defaults to TEXT)"},
        {"-namewidth", OPT_INT, 0, &namewidth, "Width of name field (defaults to DFLT_NAME_WIDTH)"},
        {"-valwidth", OPT_INT, 0, &valwidth, "Width of value field (defaults to DFLT_VAL_WIDTH)"},
        {"-lofield", OPT_INT, 0, &lofield, "Display length/offset field (defaults to 1)"},
        {"-pdlnames", OPT_INT, 0, &pdlnames, "Display PDL fieldname rather than display name (defaults to 0)"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    if (parse_options(interp, &argc, argv, table, 0) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Usage: {renderer} ?options?");
        return 1;
    }
    auto r = std::make_unique<FullDecode>(name, kModule, netif, true);
    FullDecodeStyle& s = r->style;
    s.charset = parse_charset(interp, kModule, charset);
    if (std::strcmp(symvals, "TEXT") == 0) {
        s.numeric = false;
    } else if (std::strcmp(symvals, "NUMERIC") == 0) {
        s.numeric = true;
    } else {
        report(interp, kModule, __LINE__, LOG_WARNING, "Bad \"-symvals\" - using TEXT");
    }
    s.name_width = clamp_width(interp, namewidth, MIN_NAMEWIDTH, MAX_NAMEWIDTH,
                               "Bad \"-namewidth_in\" - using minimum of MIN_NAMEWIDTH",
                               "Bad \"-namewidth\" - using maximum of MAX_NAMEWIDTH");
    s.value_width = clamp_width(interp, valwidth, MIN_VALWIDTH, MAX_VALWIDTH,
                                "Bad \"-valwidth\" - using minimum of MIN_VALWIDTH",
                                "Bad \"-valwidth\" - using maximum of MAX_VALWIDTH");
    s.lofield = lofield == 1;
    s.pdlnames = pdlnames == 1;
    s.vendor = interp_vendor;
    create_renderer_command(interp, std::move(r), fulldecode_proc);
    return 0;
}

}  // namespace

void register_fulldecode_class() { register_renderer_class("tap_fulldecode", create_fulldecode); }

}  // namespace zm

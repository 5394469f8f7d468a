// The file_fulldecode renderer: a terminal decode with reverse-video headers, written to standard output.
#include <tcl.h>

#include <cstdio>

#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/timeutil.h"
#include "decode/visitor.h"
#include "netif/netif.h"
#include "pdl/protodb.h"
#include "render/render.h"
#include "render/render_classes.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/ascii_fd";
constexpr const char* kReverse = "\033[7m";
constexpr const char* kNormal = "\033[0m";

DecodeBlock& scratch() {
    static DecodeBlock block;
    return block;
}

// The receive time of the previous frame shown by any renderer of this class.
TimeVal& previous_frame() {
    static TimeVal previous;
    return previous;
}

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
    char tmp[512];
    va_list ap;
    va_start(ap, format);
    int k = std::vsnprintf(tmp, sizeof tmp, format, ap);
    va_end(ap);
    if (k < 0) return;
    if (static_cast<size_t>(k) < sizeof tmp) {
        out.append(tmp, static_cast<size_t>(k));
        return;
    }
    std::string big(static_cast<size_t>(k) + 1, '\0');
    va_start(ap, format);
    std::vsnprintf(big.data(), big.size(), format, ap);
    va_end(ap);
    big.pop_back();
    out += big;
}

void frame_text(const std::string& netif_name, const PacketBuffer* b, const DecodeBlock& tree, CharSet charset,
                std::string& text) {
    TimeVal now{static_cast<int32_t>(b->sec), static_cast<int32_t>(b->usec)};
    TimeVal gap;
    time_delta(&previous_frame(), now, &gap);
    std::string date = local_time_text(b->sec, "%d-%b-%y  %T");
    appendf(text, "\n\r%s%s FRAME #%ld  %s.%03ld  (gap %ld.%03ld seconds)  %d bytes %s\n\r", kReverse,
            netif_name.c_str(), static_cast<long>(b->frame), date.c_str(), static_cast<long>(b->usec / 1000),
            static_cast<long>(gap.sec), static_cast<long>(gap.usec / 1000), static_cast<int>(b->length()), kNormal);
    const uint8_t* data = b->data();
    uint32_t length = b->length();
    DecodeVisitor visitor(tree, data, length, VISIT_WANT_SYMBOL);
    VisitedElement v;
    std::string label;
    while (visitor.next(v)) {
        const DecodeElement& e = *v.element;
        switch (v.kind) {
        case VISIT_NODE:
            label = kReverse + v.node->name_ + kNormal;
            if (e.index)
                appendf(text, "%-53s %ld of %d bytes - array member %ld\n\r", label.c_str(),
                        static_cast<long>(e.offset / 8), static_cast<int>(length), static_cast<long>(e.index));
            else
                appendf(text, "%-53s %ld of %d bytes\n\r", label.c_str(), static_cast<long>(e.offset / 8),
                        static_cast<int>(length));
            break;
        case VISIT_FIELD:
            appendf(text, "  %-20s   %-20s %ld bits\n\r", v.field->name_.c_str(), std::string(v.symbol).c_str(),
                    static_cast<long>(e.width));
            break;
        case VISIT_DATA: {
            label = std::string(kReverse) + "DATA" + kNormal;
            uint32_t start = e.offset / 8;
            appendf(text, "%-53s byte %d", label.c_str(), static_cast<int>(start));
            hex_dump(data + (start < length ? start : length), start < length ? length - start : 0, text, true,
                     charset);
            break;
        }
        }
    }
}

int ascii_proc(Renderer* base, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    auto* r = static_cast<CharsetRenderer*>(base);
    Netif* netif = renderer_call_netif(interp, r, objc);
    if (!netif) return TCL_ERROR;
    std::string text;
    for (int i = 1; i < objc; ++i) {
        PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[i]));
        if (!b) continue;
        PreparedBuffer prepared(b, scratch(), netif->base_node_, r->ctx_);
        const DecodeBlock* tree = prepared.tree();
        if (!tree) continue;
        text.clear();
        frame_text(netif->name_, b, *tree, r->charset, text);
        text += '\n';
        write_standard_output(text, true);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int create_ascii(const char* name, Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    return create_charset_renderer(name, kModule, netif, interp, argc, argv, true, ascii_proc);
}

}  // namespace

void register_ascii_fulldecode_class() { register_renderer_class("file_fulldecode", create_ascii); }

}  // namespace zm

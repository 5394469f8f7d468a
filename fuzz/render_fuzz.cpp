// Fuzz target: arbitrary bytes decoded from every base node of the shipped library and rendered:
// the decode-tree visitor with every text, the full decode display in several styles, and highlighting.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "decode/decode.h"
#include "decode/visitor.h"
#include "fuzz_support.h"
#include "pdl/library_load.h"
#include "pdl/protodb.h"
#include "render/fulldecode.h"

#undef Tcl_InitStubs

namespace {

std::vector<zm::Node*> g_bases;

std::string_view vendor(void*, uint32_t oui) { return oui & 1 ? "A vendor name of exactly forty characters" : ""; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Tcl_FindExecutable(nullptr);
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_InitStubs(interp, "8.6", 0);
    zm::log_settings().level = 5;
    if (!zm::load_shipped_library()) {
        std::fprintf(stderr, "render_fuzz: the shipped protocol library did not compile\n");
        std::abort();
    }
    for (zm::Node* n = zm::protodb().first_node(); n; n = n->next_)
        if (n->is_base()) g_bases.push_back(n);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the display style; the rest is the packet.
    uint8_t style_bits = data[0];
    ++data;
    --size;
    if (size > 16000) size = 16000;
    zm::FullDecodeStyle style;
    style.name_width = 4 + (style_bits & 7) * 14;
    style.value_width = 4 + ((style_bits >> 3) & 7) * 14;
    style.lofield = style_bits & 0x40;
    style.numeric = style_bits & 0x80;
    style.pdlnames = style_bits & 1;
    style.charset = style_bits & 2 ? zm::CHARSET_EBCDIC : zm::CHARSET_ASCII;
    style.vendor = vendor;
    std::string text, items;
    for (zm::Node* base : g_bases) {
        zm::PacketBuffer* b = zm_fuzz::packet_at_allocation_end(data, size);
        zm::decode_packet(b, base, nullptr);
        if (const zm::DecodeBlock* tree = zm::decode_tree(b)) {
            zm::DecodeVisitor v(*tree, b->data(), b->length(),
                                zm::VISIT_WANT_KEY | zm::VISIT_WANT_VALUE | zm::VISIT_WANT_SYMBOL);
            zm::VisitedElement e;
            uint32_t items_seen = 0;
            while (v.next(e))
                if (e.item) items_seen = e.item;
            text.clear();
            items.clear();
            zm::fulldecode_text(*tree, b->data(), b->length(), style, text, items);
            for (uint32_t item = 0; item <= items_seen + 1; item += 1 + items_seen / 8)
                (void)zm::hilit_ranges(*tree, b->data(), b->length(), item);
        }
        zm::buffer_free(b);
    }
    return 0;
}

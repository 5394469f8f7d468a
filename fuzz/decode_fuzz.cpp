// Fuzz target: arbitrary bytes decoded from every base node of the shipped library, with filters attached,
// and every decoded field formatted.
#include <tcl.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "decode/decode.h"
#include "decode/format.h"
#include "filter/filter.h"
#include "fuzz_support.h"
#include "pdl/library_load.h"
#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

#undef Tcl_InitStubs

namespace {

std::vector<zm::Node*> g_bases;
zm::DecodeContext* g_ctx = nullptr;
int g_cells[8];

bool load_library() { return zm::load_shipped_library(); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Tcl_FindExecutable(nullptr);
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_InitStubs(interp, "8.6", 0);
    zm::log_settings().level = 5;  // quiet: cut fields and bad formats are reported by design
    if (!load_library()) {
        std::fprintf(stderr, "decode_fuzz: the shipped protocol library did not compile\n");
        std::abort();
    }
    for (zm::Node* n = zm::protodb().first_node(); n; n = n->next_)
        if (n->is_base()) g_bases.push_back(n);
    g_ctx = new zm::DecodeContext();
    const char* filters[] = {"UDP_HDR udp_dest_port=53", "IP_HDR ip_ttl=(1|64)", "TCP_HDR", "DATA",
                             "UDP_HDR udp_src_port=161, SNMP_HDR"};
    int i = 0;
    for (const char* text : filters) {
        if (zm::Filter* f = zm::compile_receive_filter(interp, text, g_bases.empty() ? nullptr : g_bases[0]))
            zm::insert_instance(interp, g_ctx, text, &g_cells[i], f);
        ++i;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16000) size = 16000;
    std::string text;
    for (zm::Node* base : g_bases) {
        zm::PacketBuffer* b = zm_fuzz::packet_at_allocation_end(data, size);
        zm::decode_packet(b, base, g_ctx);
        if (const zm::DecodeBlock* tree = zm::decode_tree(b)) {
            for (const zm::DecodeElement& e : *tree) {
                if (e.type != zm::DECODE_FLD) continue;
                zm::format_field(e, b->data(), b->length(), text, 256);
                zm::format_field_value(e, b->data(), b->length(), text, 2048);
            }
        }
        if (size <= 256) {
            text.clear();
            zm::hex_dump(b->data(), b->length(), text, size & 1, size & 2 ? zm::CHARSET_EBCDIC : zm::CHARSET_ASCII);
        }
        zm::buffer_free(b);
        for (int& c : g_cells) c = 0;
    }
    return 0;
}

// Fuzz target: arbitrary send-filter text built into packets on every base node of the shipped library.
//
// Buffers are placed so that the room a build may fill ends exactly where the
// allocation does: any write beyond the room is caught by the sanitizer.
#include <tcl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "encode/encoder.h"
#include "pdl/pdl_parse.h"
#include "pdl/library_load.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

#undef Tcl_InitStubs

namespace {

std::vector<zm::Node*> g_bases;

bool load_library() { return zm::load_shipped_library(); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Tcl_FindExecutable(nullptr);
    Tcl_InitStubs(Tcl_CreateInterp(), "8.6", 0);
    zm::log_settings().level = 5;  // quiet: refused specifications are reported by design
    if (!load_library()) {
        std::fprintf(stderr, "encode_fuzz: the shipped protocol library did not compile\n");
        std::abort();
    }
    for (zm::Node* n = zm::protodb().first_node(); n; n = n->next_)
        if (n->is_base()) g_bases.push_back(n);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos) return 0;
    for (zm::Node* base : g_bases) {
        for (uint32_t room : {64u, 1518u}) {
            zm::PacketBuffer* b = zm::buffer_alloc(room);
            uint32_t slack = b->tailroom() - room;
            b->head = static_cast<uint16_t>(b->head + slack);
            b->tail = b->head;
            zm::build_packet(b, text.c_str(), base, nullptr, zm::DIR_TX, 0);
            zm::buffer_free(b);
        }
    }
    return 0;
}

// Fuzz target: filter strings compiled against the shipped library as receive and send filters,
// matched against the bytes that follow them, completed and dumped.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/report.h"
#include "filter/filter.h"
#include "pdl/library_load.h"
#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

namespace {

zm::Node* g_base = nullptr;
std::FILE* g_sink = nullptr;

bool load_library() {
    zm::load_shipped_library(g_sink);
    g_base = zm::find_node("ENET_HDR");
    return g_base != nullptr;
}

// Walks the filter's own nodes over `data` the way the decoder would, fixed-width fields only.
void feed(zm::DecodeContext* ctx, const zm::Filter* f, const uint8_t* data, size_t len) {
    uint64_t bit = 0;
    for (const zm::FilterNode* n = f->first_; n; n = n->next_) {
        if (!n->node_) continue;
        zm::node_entered(ctx, n->node_);
        for (zm::Field* fld = n->node_->first_field_; fld; fld = fld->next_) {
            if (!fld->width_ || fld->width_->type_ != zm::EXPR_NUMBER || fld->is_child()) continue;
            uint32_t w = fld->width_->value_;
            if (bit + w > len * 8) break;
            zm::field_read(ctx, fld, data + bit / 8, static_cast<int>(bit % 8), w,
                           static_cast<uint32_t>(len - bit / 8));
            bit += w;
        }
    }
    zm::finish_decode(ctx);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_sink = std::fopen("/dev/null", "w");
    zm::log_settings().level = 5;  // no log lines: the fuzzer looks for crashes
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    if (!load_library()) {
        std::fprintf(stderr, "filter_fuzz: cannot load the shipped protocol library\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text runs up to the first zero byte; what follows is a packet to match.
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    size_t text_len = nul ? static_cast<size_t>(nul - data) : size;
    std::string text(reinterpret_cast<const char*>(data), text_len);
    const uint8_t* pkt = nul ? nul + 1 : data + size;
    size_t pkt_len = static_cast<size_t>(data + size - pkt);

    if (auto f = zm::compile_filter(zm::protodb(), text.c_str(), g_base, false)) {
        zm::DecodeContext* ctx = zm::create_context();
        int cell = 0;
        zm::insert_instance(nullptr, ctx, "fuzz", &cell, f.get());
        zm::insert_instance(nullptr, ctx, "fuzz2", &cell, f.get());
        feed(ctx, f.get(), pkt, pkt_len);
        zm::remove_filter(f.get(), false);
        zm::release_context(ctx);
    }
    if (auto f = zm::compile_filter(zm::protodb(), text.c_str(), g_base, true)) {
        zm::complete_send_filter(g_base, f.get());
        zm::dump_filter(f.get(), g_sink);
    }
    return 0;
}

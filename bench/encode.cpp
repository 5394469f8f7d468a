// Packets built per second by build_packet: Ethernet/IPv4/UDP with a 64-byte payload, same filter text each time.
//
// The first benchmark is the whole build (compile, complete, lay out, fix
// up); the second separates the encoder's own share by building from a
// filter compiled and completed once.
#include <benchmark/benchmark.h>
#include <tcl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/buffer.h"
#include "encode/encoder.h"
#include "filter/filter.h"
#include "pdl/pdl_parse.h"
#include "pdl/library_load.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

#undef Tcl_InitStubs

namespace {

bool load_library() { return zm::load_shipped_library(); }

const std::string& filter_text() {
    static const std::string text =
        "ENET_HDR dst=00:11:22:33:44:55 src=00:66:77:88:99:aa, "
        "IP_HDR ip_src_address=10.0.0.1 ip_dest_address=10.0.0.2, "
        "UDP_HDR udp_src_port=1000 udp_dest_port=2000, RAWDATA 0x" + std::string(128, '5');
    return text;
}

struct BufferFree {
    void operator()(zm::PacketBuffer* b) const { zm::buffer_free(b); }
};

void BM_BuildPacket(benchmark::State& state) {
    if (!load_library()) {
        state.SkipWithError("protocol library not found");
        return;
    }
    zm::Node* base = zm::find_node("ENET_HDR");
    std::unique_ptr<zm::PacketBuffer, BufferFree> b(zm::buffer_alloc(1518));
    for (auto _ : state) {
        b->tail = b->head;
        if (zm::build_packet(b.get(), filter_text().c_str(), base, nullptr, zm::DIR_TX, 0) != 0) {
            state.SkipWithError("build failed");
            return;
        }
        benchmark::DoNotOptimize(b->data());
    }
    state.counters["pkts/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes"] = b->length();
}
BENCHMARK(BM_BuildPacket);

void BM_EncodeCompiledFilter(benchmark::State& state) {
    if (!load_library()) {
        state.SkipWithError("protocol library not found");
        return;
    }
    zm::Node* base = zm::find_node("ENET_HDR");
    std::unique_ptr<zm::Filter> filter(zm::compile_send_filter(nullptr, filter_text().c_str(), base));
    zm::FilterNode* outer = filter ? zm::complete_send_filter(base, filter.get()) : nullptr;
    if (!outer) {
        state.SkipWithError("filter did not compile");
        return;
    }
    std::unique_ptr<zm::PacketBuffer, BufferFree> b(zm::buffer_alloc(1518));
    for (auto _ : state) {
        b->tail = b->head;
        if (zm::encode_filter(b.get(), filter.get(), outer) < 0) {
            state.SkipWithError("encode failed");
            return;
        }
        benchmark::DoNotOptimize(b->data());
    }
    state.counters["pkts/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeCompiledFilter);

}  // namespace

int main(int argc, char** argv) {
    // Reports go through the Tcl library: set up its stub table first.
    Tcl_FindExecutable(argv[0]);
    Tcl_InitStubs(Tcl_CreateInterp(), "8.6", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Decode plus filter matching of Ethernet/IPv4/UDP frames against the shipped library, by number of port filters.
//
// Each benchmark decodes frames built in memory (64 destination ports in
// turn) with an interface's decode context holding N instances of
// "UDP_HDR udp_dest_port=<port>", each on its own port. Reported: packets per
// second per N, and the ratio of the cost per packet with 1000 filters to the
// cost with none.
#include <benchmark/benchmark.h>
#include <tcl.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "decode/decode.h"
#include "filter/filter.h"
#include "pdl/library_load.h"
#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

#undef Tcl_InitStubs

namespace {

constexpr int kFrames = 64;
constexpr uint16_t kFirstPort = 1000;

bool load_library() { return zm::load_shipped_library(); }

Tcl_Interp* interp() {
    static Tcl_Interp* i = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp* t = Tcl_CreateInterp();
        Tcl_InitStubs(t, "8.6", 0);
        return t;
    }();
    return i;
}

// A 60-byte Ethernet/IPv4/UDP frame with 18 bytes of payload.
void build_frame(zm::PacketBuffer* b, uint16_t dport) {
    const uint8_t frame[] = {
        0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00,  // Ethernet
        0x45, 0x00, 0x00, 0x2E, 0x12, 0x34, 0x40, 0x00, 0x40, 0x11, 0x00, 0x00,              // IPv4
        10, 0, 0, 1, 10, 0, 0, 2,
        0x30, 0x39, static_cast<uint8_t>(dport >> 8), static_cast<uint8_t>(dport), 0x00, 0x1A, 0x00, 0x00,  // UDP
        'z', 'e', 'm', 'k', 'o', ' ', 'd', 'e', 'c', 'o', 'd', 'e', ' ', 'b', 'e', 'n', 'c', 'h'};
    b->append(sizeof frame);
    std::copy(frame, frame + sizeof frame, b->data());
}

// Packets per second by filter count, for the ratio printed at the end.
std::map<int64_t, double>& rates() {
    static std::map<int64_t, double> r;
    return r;
}

void BM_decode_match(benchmark::State& state) {
    if (!load_library()) {
        state.SkipWithError("the shipped protocol library did not compile");
        return;
    }
    zm::Node* enet = zm::find_node("ENET_HDR");
    int filters = static_cast<int>(state.range(0));
    auto* ctx = new zm::DecodeContext();
    std::vector<int> cells(static_cast<size_t>(filters) + 1, 0);
    std::vector<zm::Filter*> compiled;
    for (int i = 0; i < filters; ++i) {
        std::string text = "UDP_HDR udp_dest_port=" + std::to_string(kFirstPort + i);
        zm::Filter* f = zm::compile_receive_filter(interp(), text.c_str(), enet);
        if (!f) {
            state.SkipWithError("a port filter did not compile");
            return;
        }
        zm::insert_instance(interp(), ctx, ("h" + std::to_string(i)).c_str(), &cells[static_cast<size_t>(i)], f);
        compiled.push_back(f);
    }

    std::vector<zm::PacketBuffer*> frames;
    for (int i = 0; i < kFrames; ++i) {
        zm::PacketBuffer* b = zm::buffer_alloc(1518);
        build_frame(b, static_cast<uint16_t>(kFirstPort + i));
        frames.push_back(b);
    }
    int64_t matched = 0;
    size_t next = 0;
    for (auto _ : state) {
        zm::PacketBuffer* b = frames[next];
        if (auto* tree = zm::decode_tree(b)) tree->clear();  // decode afresh, reusing the block
        zm::decode_packet(b, enet, ctx);
        // Frame i goes to port kFirstPort + i: only filter i can match it. The
        // engine clears the owner cells at the start of each decode's finish.
        if (next < static_cast<size_t>(filters)) matched += cells[next];
        next = (next + 1) % frames.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["packets/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["matched"] = static_cast<double>(matched);

    for (zm::PacketBuffer* b : frames) zm::buffer_free(b);
    zm::release_context(ctx);
}
BENCHMARK(BM_decode_match)->Arg(0)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kNanosecond);

// Console output plus the 1000/0 cost ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            auto it = r.counters.find("packets/s");
            if (it != r.counters.end()) rates()[arg_of(r)] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto none = rates().find(0), many = rates().find(1000);
        if (none != rates().end() && many != rates().end() && many->second > 0)
            std::printf("decode_match: cost ratio 1000 filters / 0 filters = %.2f\n", none->second / many->second);
    }

private:
    static int64_t arg_of(const Run& r) {
        std::string name = r.benchmark_name();
        size_t slash = name.rfind('/');
        return slash == std::string::npos ? 0 : std::atoll(name.c_str() + slash + 1);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

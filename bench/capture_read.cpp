// The pcap media class's read operation alone over a capture file: the reference rate for bench/replay.tcl.
//
// The file is named by ZEMKO_BENCH_CAPTURE (bench/replay.tcl generates it and
// runs this with it); without it the benchmark is skipped. Each iteration
// opens the file and reads every frame into a pool, returning each buffer at
// once, as an interface with no handler would.
#include <benchmark/benchmark.h>
#include <tcl.h>

#include <cstdlib>
#include <vector>

#include "core/buffer.h"
#include "media/media.h"

#undef Tcl_InitStubs

namespace zm {
namespace {

void BM_CaptureRead(benchmark::State& state) {
    const char* path = std::getenv("ZEMKO_BENCH_CAPTURE");
    if (!path) {
        state.SkipWithError("ZEMKO_BENCH_CAPTURE names no capture (run bench/replay.tcl)");
        return;
    }
    Tcl_FindExecutable(nullptr);
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_InitStubs(interp, "8.6", 0);
    register_builtin_media();
    MediaClass* cls = find_media_class("pcap");
    int64_t frames = 0;
    for (auto _ : state) {
        Pool pool;
        pool_init(&pool, 1518);
        MediaPort port;
        port.interp = interp;
        port.name = "bench";
        port.base_node = "ENET_HDR";
        port.pool = &pool;
        std::vector<const char*> words{"netif", "bench", "pcap", "ENET_HDR", "-file", path, nullptr};
        if (cls->open(port, 6, words.data()) != 0) {
            state.SkipWithError("the capture does not open");
            return;
        }
        for (;;) {
            PacketBuffer* b = cls->read(port);
            if (!b || is_end_of_input(b)) break;
            ++frames;
            buffer_free(b);
        }
        cls->close(port);
        pool_destroy(&pool);
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    Tcl_DeleteInterp(interp);
}
BENCHMARK(BM_CaptureRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace
}  // namespace zm

BENCHMARK_MAIN();

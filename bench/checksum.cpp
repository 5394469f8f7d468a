// Throughput of the checksum algorithms over full-size Ethernet payloads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "encode/checksum/checksum.h"

namespace {

constexpr size_t kPacket = 1500;

// A 1500-byte IPv4 packet carrying `proto`, random contents.
std::vector<uint8_t> ipv4_packet(uint8_t proto) {
    std::mt19937 rng(1);
    std::vector<uint8_t> p(kPacket);
    for (auto& b : p) b = static_cast<uint8_t>(rng());
    p[0] = 0x45;
    p[2] = kPacket >> 8;
    p[3] = kPacket & 0xFF;
    p[9] = proto;
    return p;
}

// Internet checksum of a whole datagram: the UDP checksum with its pseudo-header.
void BM_udp_1500(benchmark::State& state) {
    std::vector<uint8_t> p = ipv4_packet(17);
    int32_t cell = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zm::udp_xsum(p.data(), 0, 160, &cell, 0, 16, nullptr, p.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPacket);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_udp_1500);

void BM_tcp_1500(benchmark::State& state) {
    std::vector<uint8_t> p = ipv4_packet(6);
    int32_t cell = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zm::tcp_xsum(p.data(), 0, 160, &cell, 0, 16, nullptr, p.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPacket);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_tcp_1500);

// The plain 16-bit ones-complement sum over a range.
void BM_ospf_1500(benchmark::State& state) {
    std::vector<uint8_t> p = ipv4_packet(89);
    int32_t cell = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zm::ospf_xsum(p.data(), 0, kPacket * 8, &cell, 0, 16, nullptr, p.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPacket);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ospf_1500);

// Fletcher over an LSA-sized region, for comparison.
void BM_fletch_1500(benchmark::State& state) {
    std::vector<uint8_t> p = ipv4_packet(89);
    int32_t cell = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zm::fletch_xsum(p.data(), 0, kPacket * 8, &cell, 0, 16, nullptr, p.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPacket);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_fletch_1500);

}  // namespace

BENCHMARK_MAIN();

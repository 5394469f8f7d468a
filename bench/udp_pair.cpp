// A plain sendto/recvfrom pair on loopback: the reference rate for the udp media benchmark (bench/udp.tcl).
//
// One socket sends a batch of 64-byte datagrams to the other, which then
// receives them all; batches keep the receive buffer from overflowing.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr int kBatch = 200;
constexpr size_t kPayload = 64;

int bound_socket(sockaddr_in* where) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *where = a;
    return fd;
}

void BM_PlainSocketPair(benchmark::State& state) {
    sockaddr_in from{}, to{};
    int tx = bound_socket(&from);
    int rx = bound_socket(&to);
    uint8_t payload[kPayload] = {};
    uint8_t in[2048];
    int64_t received = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            payload[0] = static_cast<uint8_t>(i);
            ::sendto(tx, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        for (int i = 0; i < kBatch; ++i) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            if (::recvfrom(rx, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&peer), &len) > 0) ++received;
        }
    }
    ::close(tx);
    ::close(rx);
    state.counters["dgrams/s"] = benchmark::Counter(static_cast<double>(received), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainSocketPair)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// The TFTP engine's own cost per 512-byte block, without sockets: what the client adds to each round trip.
#include <benchmark/benchmark.h>

#include <vector>

#include "mgmt/tftp.h"

namespace {

class NullHost : public zm::TftpHost {
public:
    bool send_to(const zm::TftpEndpoint&, const std::vector<uint8_t>&) override { return true; }
    long read_local(uint8_t* buf, size_t n) override {
        size_t k = n < left ? n : left;
        std::fill_n(buf, k, uint8_t('x'));
        left -= k;
        return long(k);
    }
    bool write_local(const uint8_t*, size_t) override { return true; }
    void arm_timer() override {}
    size_t left = 0;
};

constexpr size_t kMiB = 1 << 20;
const zm::TftpEndpoint kServer{0x7f000001, 69}, kTid{0x7f000001, 4000};

void get_mib(benchmark::State& state) {
    const bool octet = state.range(0);
    std::vector<uint8_t> block(516, 'a');
    block[0] = 0;
    block[1] = 3;
    for (auto _ : state) {
        NullHost host;
        zm::TftpTransfer t(zm::TftpDirection::get, octet, kServer, host);
        t.prepare("f");
        t.start();
        for (uint16_t b = 1; b <= kMiB / 512 + 1; ++b) {
            block[2] = uint8_t(b >> 8);
            block[3] = uint8_t(b);
            t.on_datagram(kTid, block.data(), b <= kMiB / 512 ? block.size() : 4);
        }
        benchmark::DoNotOptimize(t.byte_count());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * kMiB));
}
BENCHMARK(get_mib)->Arg(1)->Arg(0)->ArgName("octet");

void put_mib(benchmark::State& state) {
    const bool octet = state.range(0);
    for (auto _ : state) {
        NullHost host;
        host.left = kMiB;
        zm::TftpTransfer t(zm::TftpDirection::put, octet, kServer, host);
        t.prepare("f");
        t.start();
        for (uint16_t b = 0; !t.finished(); ++b) {
            auto ack = zm::build_tftp_ack(b);
            t.on_datagram(kTid, ack.data(), ack.size());
        }
        benchmark::DoNotOptimize(t.byte_count());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * kMiB));
}
BENCHMARK(put_mib)->Arg(1)->Arg(0)->ArgName("octet");

}  // namespace

BENCHMARK_MAIN();

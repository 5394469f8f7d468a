// Fuzzes the TFTP client engine: arbitrary datagrams, senders and timer expiries against a GET and a PUT.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mgmt/tftp.h"

namespace {

// A host with an in-memory local file; sends go nowhere.
class NullHost : public zm::TftpHost {
public:
    bool send_to(const zm::TftpEndpoint&, const std::vector<uint8_t>& p) override {
        return p.size() <= zm::kTftpPacketMax;
    }
    long read_local(uint8_t* buf, size_t n) override {
        size_t k = n < remaining ? n : remaining;
        for (size_t i = 0; i < k; ++i) buf[i] = uint8_t(i % 3 == 0 ? '\n' : 'x');
        remaining -= k;
        return long(k);
    }
    bool write_local(const uint8_t*, size_t n) override { return n <= 2 * zm::kTftpBlockSize; }
    void arm_timer() override {}
    size_t remaining = 3000;
};

// Input: a sequence of records. Each starts with a control byte: bit 7 a
// timer expiry instead of a datagram, bits 0-1 the sender (server TID, other
// port, other address); then a length byte and that many datagram bytes.
void run(bool get, bool octet, const uint8_t* data, size_t size) {
    NullHost host;
    const zm::TftpEndpoint server{0x7f000001, 69};
    zm::TftpTransfer t(get ? zm::TftpDirection::get : zm::TftpDirection::put, octet, server, host);
    if (!t.prepare("file")) return;
    t.start();
    const zm::TftpEndpoint senders[] = {{0x7f000001, 4000}, {0x7f000001, 4001}, {0x7f000002, 4000}};
    size_t pos = 0;
    while (pos + 2 <= size && !t.finished()) {
        uint8_t ctl = data[pos];
        size_t len = data[pos + 1] * 3u;  // reach beyond 516 bytes too
        pos += 2;
        if (ctl & 0x80) {
            t.on_timer();
            continue;
        }
        if (len > size - pos) len = size - pos;
        t.on_datagram(senders[(ctl & 3) % 3], data + pos, len);
        pos += len;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zm::parse_tftp_packet(data, size);
    run(true, true, data, size);
    run(true, false, data, size);
    run(false, true, data, size);
    run(false, false, data, size);
    return 0;
}

// Checksum algorithms against known vectors and a plain reference computation.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/report.h"
#include "encode/checksum/checksum.h"

namespace {

using Bytes = std::vector<uint8_t>;

// RFC 1071 done the slow way: one 16-bit word at a time, carry folded at once.
uint16_t reference_inet(const Bytes& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        uint32_t word = static_cast<uint32_t>(b[i]) << 8 | (i + 1 < b.size() ? b[i + 1] : 0);
        sum += word;
        if (sum > 0xFFFF) sum = (sum & 0xFFFF) + 1;
    }
    return static_cast<uint16_t>(~sum);
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

// An IPv4 packet with the given protocol and a random transport part of
// `payload` bytes; the IPv4 header is `ihl` words long.
Bytes ipv4_packet(std::mt19937& rng, uint8_t proto, size_t payload, int ihl = 5) {
    Bytes p = random_bytes(rng, 4 * ihl + payload);
    p[0] = static_cast<uint8_t>(0x40 | ihl);
    put16(p, 2, static_cast<uint32_t>(p.size()));
    p[9] = proto;
    return p;
}

// The transport checksum by the book: pseudo-header bytes, then the segment
// with its checksum field zeroed, through the reference sum.
uint16_t reference_ipv4_transport(const Bytes& p, uint8_t proto, size_t cksum_at) {
    size_t h = 4 * (p[0] & 0x0F);
    Bytes seg(p.begin() + static_cast<long>(h), p.end());
    seg[cksum_at] = seg[cksum_at + 1] = 0;
    Bytes pseudo(p.begin() + 12, p.begin() + 20);
    pseudo.push_back(0);
    pseudo.push_back(proto);
    pseudo.push_back(static_cast<uint8_t>(seg.size() >> 8));
    pseudo.push_back(static_cast<uint8_t>(seg.size()));
    pseudo.insert(pseudo.end(), seg.begin(), seg.end());
    return reference_inet(pseudo);
}

int32_t call(zm::ChecksumFn fn, Bytes& b, int32_t bits, size_t avail) {
    int32_t cell = 12345;
    int32_t ret = fn(b.data(), 0, bits, &cell, 0, 16, nullptr, avail);
    if (fn != zm::fletch_xsum) EXPECT_EQ(ret, cell);  // fletch returns its second octet
    return cell;
}

int32_t call(zm::ChecksumFn fn, Bytes& b) {
    return call(fn, b, static_cast<int32_t>(8 * b.size()), b.size());
}

TEST(ChecksumVectors, CommandExamples) {
    Bytes dod = {0x00, 0x00};
    EXPECT_EQ(call(zm::dod_xsum, dod), -1);
    Bytes ospf = {0x45, 0x00, 0x00, 0x1c};
    EXPECT_EQ(call(zm::ospf_xsum, ospf), -17693);
    Bytes icmp = {0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(call(zm::icmp_xsum, icmp), 63485);
    // The checksum word is skipped, so a filled-in field gives the same answer.
    icmp[2] = 0xF7;
    icmp[3] = 0xFD;
    EXPECT_EQ(call(zm::icmp_xsum, icmp), 63485);
}

TEST(ChecksumVectors, Rfc1071Example) {
    // RFC 1071 section 3: the words sum to 0xDDF2, so the checksum is 0x220D.
    Bytes b = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(call(zm::ospf_xsum, b) & 0xFFFF, 0x220D);
    EXPECT_EQ(call(zm::ospf_xsum, b) >> 16, -1);
    EXPECT_EQ(call(zm::dod_xsum, b) & 0xFFFF, 0x220D);
}

TEST(ChecksumVectors, UdpKnownDatagram) {
    // 192.168.0.31 -> 192.168.0.30, ports 20 -> 10, payload "Hi": 0x35C5.
    Bytes p = {0x45, 0, 0, 30, 0, 0, 0, 0, 64, 17, 0, 0, 192, 168, 0, 31, 192, 168, 0, 30,
               0,    20, 0, 10, 0, 10, 0xAA, 0xBB, 'H', 'i'};
    EXPECT_EQ(call(zm::udp_xsum, p, 160, p.size()), 0x35C5);
}

TEST(ChecksumVectors, DodIgnoresTrailingBytesAndCarriesAround) {
    Bytes b = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x12, 0x34};
    // 0xFFFFFFFF + 1 carries around to 1; the trailing 0x1234 is ignored.
    EXPECT_EQ(call(zm::dod_xsum, b), static_cast<int32_t>(~0x0001u));
}

// Random packets of odd and even lengths against the reference computation.
TEST(ChecksumReference, RandomTransportPackets) {
    std::mt19937 rng(7);
    zm::ReportCapture quiet;
    for (size_t payload = 20; payload < 300; payload += 7) {
        Bytes udp = ipv4_packet(rng, 17, payload);
        uint16_t want = reference_ipv4_transport(udp, 17, 6);
        EXPECT_EQ(call(zm::udp_xsum, udp, 160, udp.size()), want ? want : 0xFFFF) << payload;
        Bytes tcp = ipv4_packet(rng, 6, payload);
        EXPECT_EQ(call(zm::tcp_xsum, tcp, 160, tcp.size()), reference_ipv4_transport(tcp, 6, 16)) << payload;
        Bytes opts = ipv4_packet(rng, 6, payload, 7);  // IPv4 options move the TCP header
        EXPECT_EQ(call(zm::tcp_xsum, opts, 224, opts.size()), reference_ipv4_transport(opts, 6, 16)) << payload;
    }
}

TEST(ChecksumReference, RandomPlainRanges) {
    std::mt19937 rng(11);
    for (size_t n = 1; n < 200; n += 3) {
        Bytes b = random_bytes(rng, n);
        EXPECT_EQ(call(zm::ospf_xsum, b) & 0xFFFF, reference_inet(b)) << n;
        Bytes skipped = b;
        if (n >= 4) {
            skipped[2] = skipped[3] = 0;
        } else if (n >= 3) {
            skipped[2] = b[2];
        }
        EXPECT_EQ(call(zm::icmp_xsum, b), reference_inet(skipped)) << n;
        Bytes words(b.begin(), b.begin() + static_cast<long>(n / 4 * 4));
        EXPECT_EQ(call(zm::dod_xsum, b) & 0xFFFF, reference_inet(words)) << n;
    }
}

TEST(ChecksumReference, Icmpv6EchoRequest) {
    std::mt19937 rng(3);
    for (size_t msg = 8; msg < 80; msg += 5) {
        Bytes p = random_bytes(rng, 40 + msg);
        p[0] = 0x60;
        put16(p, 4, static_cast<uint32_t>(msg));
        p[6] = 58;
        p[40] = 128;
        p[41] = 0;
        Bytes pseudo(p.begin() + 8, p.begin() + 40);
        const uint8_t tail[8] = {0, 0, static_cast<uint8_t>(msg >> 8), static_cast<uint8_t>(msg), 0, 0, 0, 58};
        pseudo.insert(pseudo.end(), tail, tail + 8);
        pseudo.insert(pseudo.end(), p.begin() + 40, p.end());
        pseudo[40 + 2] = pseudo[40 + 3] = 0;
        EXPECT_EQ(call(zm::icmpv6_xsum, p, 40 * 8, p.size()), reference_inet(pseudo)) << msg;
    }
}

// Fletcher check octets are right when both running sums over the region,
// check octets included, come to zero modulo 255.
bool fletcher_verifies(const Bytes& b, size_t len) {
    uint64_t c0 = 0, c1 = 0;
    for (size_t i = 0; i < len; ++i) {
        c0 += b[i];
        c1 += c0;
    }
    return c0 % 255 == 0 && c1 % 255 == 0;
}

TEST(ChecksumFletcher, CheckOctetsVerifyAcrossReductionRuns) {
    std::mt19937 rng(5);
    for (size_t n : {18u, 19u, 64u, 1000u, 4101u, 4102u, 4103u, 9000u, 20000u}) {
        Bytes b = random_bytes(rng, n);
        b[16] = b[17] = 0;
        int32_t cell = 0;
        int32_t y = zm::fletch_xsum(b.data(), 0, static_cast<int32_t>(8 * n), &cell, 0, 16, nullptr, n);
        EXPECT_EQ(cell & 0xFF, y);
        b[16] = static_cast<uint8_t>(cell >> 8);
        b[17] = static_cast<uint8_t>(cell);
        EXPECT_TRUE(fletcher_verifies(b, n)) << n;
    }
    Bytes ones(9000, 0xFF);  // the largest sums the reduction has to keep in range
    ones[16] = ones[17] = 0;
    int32_t full = 0;
    zm::fletch_xsum(ones.data(), 0, 8 * 9000, &full, 0, 16, nullptr, ones.size());
    ones[16] = static_cast<uint8_t>(full >> 8);
    ones[17] = static_cast<uint8_t>(full);
    EXPECT_TRUE(fletcher_verifies(ones, ones.size()));
}

Bytes random_lsa(std::mt19937& rng, size_t len) {
    Bytes lsa = random_bytes(rng, len);
    put16(lsa, 18, static_cast<uint32_t>(len));
    return lsa;
}

TEST(ChecksumFletcher, OspfLsaWritesVerifiableChecksumAndKeepsAge) {
    std::mt19937 rng(9);
    for (size_t len : {20u, 36u, 100u, 1499u}) {
        Bytes lsa = random_lsa(rng, len);
        lsa.resize(len + 10, 0xEE);  // bytes after the LSA are not part of it
        uint8_t age0 = lsa[0], age1 = lsa[1];
        int32_t first = call(zm::ospf_lsa_xsum, lsa, 0, lsa.size());
        EXPECT_EQ(first, lsa[16] << 8 | lsa[17]);
        EXPECT_EQ(lsa[0], age0);
        EXPECT_EQ(lsa[1], age1);
        Bytes zero_age = lsa;
        zero_age[0] = zero_age[1] = 0;
        EXPECT_TRUE(fletcher_verifies(zero_age, len)) << len;
        // Again over the written-back LSA, with another age: the same two bytes.
        lsa[0] = 0x0E;
        lsa[1] = 0x10;
        EXPECT_EQ(call(zm::ospf_lsa_xsum, lsa, 0, lsa.size()), first);
    }
}

// The mend: lengths taken from a packet's own headers never lead outside it.
// Each buffer below is exactly `avail` bytes, so a stray read shows under
// AddressSanitizer; the result equals that of the packet zero-filled to the
// length its headers claim.
TEST(ChecksumBounds, TransportLengthsBeyondThePacket) {
    std::mt19937 rng(13);
    for (zm::ChecksumFn fn : {zm::udp_xsum, zm::tcp_xsum}) {
        Bytes p = ipv4_packet(rng, 17, 40);
        put16(p, 2, 1000);  // total length far past the end
        Bytes padded = p;
        padded.resize(1000, 0);
        zm::ReportCapture cap;
        Bytes exact(p);
        EXPECT_EQ(call(fn, exact, 160, exact.size()), call(fn, padded, 160, padded.size()));
        EXPECT_TRUE(cap.contains("runs past the end of the packet"));
    }
    for (int ihl : {0, 1, 4}) {
        Bytes p = ipv4_packet(rng, 6, 60);
        p[0] = static_cast<uint8_t>(0x40 | ihl);
        Bytes padded = p;
        padded.resize(p.size() + 80, 0);
        zm::ReportCapture quiet;
        EXPECT_EQ(call(zm::tcp_xsum, p, 160, p.size()), call(zm::tcp_xsum, padded, 160, padded.size())) << ihl;
        EXPECT_EQ(call(zm::udp_xsum, p, 160, p.size()), call(zm::udp_xsum, padded, 160, padded.size())) << ihl;
    }
}

TEST(ChecksumBounds, TruncatedHeadersAndRanges) {
    zm::ReportCapture quiet;
    std::mt19937 rng(17);
    for (size_t n = 0; n < 48; ++n) {
        Bytes b = random_bytes(rng, n);
        for (zm::ChecksumFn fn : {zm::udp_xsum, zm::tcp_xsum, zm::icmpv6_xsum}) {
            call(fn, b, 160, n);
            call(fn, b, 320, n);
            call(fn, b, -8, n);
        }
        for (zm::ChecksumFn fn : {zm::dod_xsum, zm::ospf_xsum, zm::icmp_xsum, zm::fletch_xsum}) {
            EXPECT_EQ(call(fn, b, static_cast<int32_t>(8 * (n + 100)), n),
                      call(fn, b, static_cast<int32_t>(8 * n), n));
            call(fn, b, -64, n);
        }
    }
}

TEST(ChecksumBounds, OspfLsaLengthBeyondThePacketOrHeaderCut) {
    std::mt19937 rng(19);
    Bytes lsa = random_lsa(rng, 60);
    put16(lsa, 18, 4000);
    Bytes cut(lsa.begin(), lsa.begin() + 60);
    zm::ReportCapture cap;
    int32_t v = call(zm::ospf_lsa_xsum, cut, 0, cut.size());
    EXPECT_TRUE(cap.contains("LSA of 4000 bytes runs past the end of the packet (60 bytes)"));
    Bytes zero_age = cut;
    zero_age[0] = zero_age[1] = 0;
    EXPECT_TRUE(fletcher_verifies(zero_age, 60));
    EXPECT_EQ(v, cut[16] << 8 | cut[17]);

    Bytes short_lsa(19, 0x55);
    EXPECT_EQ(call(zm::ospf_lsa_xsum, short_lsa, 0, short_lsa.size()), 0);
    EXPECT_EQ(short_lsa, Bytes(19, 0x55));
}

TEST(ChecksumReports, OddTransportLengths) {
    std::mt19937 rng(23);
    zm::LogSettings& s = zm::log_settings();
    int saved = s.level;
    s.level = 0;  // let Code lines through
    {
        zm::ReportCapture cap;
        Bytes udp = ipv4_packet(rng, 17, 11);
        call(zm::udp_xsum, udp, 160, udp.size());
        EXPECT_TRUE(cap.contains("Length of UDP packet is odd - zero-padding last byte."));
        Bytes tcp = ipv4_packet(rng, 6, 25);
        call(zm::tcp_xsum, tcp, 160, tcp.size());
        EXPECT_TRUE(cap.contains("Length of TCP packet is odd - zero-padding last byte."));
        ASSERT_EQ(cap.lines.size(), 2u);
        EXPECT_EQ(cap.lines[0].type, zm::LOG_WARNING);
        EXPECT_EQ(cap.lines[1].type, zm::LOG_CODE);
    }
    {
        zm::ReportCapture cap;
        Bytes even = ipv4_packet(rng, 17, 12);
        call(zm::udp_xsum, even, 160, even.size());
        EXPECT_TRUE(cap.lines.empty());
    }
    s.level = saved;
}

int32_t first_test_fn(uint8_t*, int, int32_t, int32_t* r, int, int, void*, size_t) { return *r = 1; }
int32_t second_test_fn(uint8_t*, int, int32_t, int32_t* r, int, int, void*, size_t) { return *r = 2; }

TEST(ChecksumRegistry, BuiltinsNewestFirstAndLookups) {
    std::vector<std::string> names = zm::checksum_names();
    ASSERT_GE(names.size(), 8u);
    std::vector<std::string> tail(names.end() - 8, names.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"icmpv6", "icmp", "ospf_lsa", "ospf", "udp", "fletch", "dod", "tcp"}));
    EXPECT_EQ(zm::find_checksum("udp"), &zm::udp_xsum);
    EXPECT_EQ(zm::find_checksum("UDP"), nullptr);
    EXPECT_EQ(zm::find_checksum("ud"), nullptr);
    EXPECT_STREQ(zm::checksum_name(&zm::ospf_lsa_xsum), "ospf_lsa");

    // A new entry goes first and shadows an older one of the same name.
    zm::register_checksum("test_only_xsum", first_test_fn);
    zm::register_checksum("test_only_xsum", second_test_fn);
    EXPECT_EQ(zm::find_checksum("test_only_xsum"), &second_test_fn);
    EXPECT_EQ(zm::checksum_names().front(), "test_only_xsum");
    EXPECT_STREQ(zm::checksum_name(&first_test_fn), "test_only_xsum");

    Bytes b = {0x45, 0x00, 0x00, 0x1c};
    int32_t r = 0;
    EXPECT_TRUE(zm::run_checksum("ospf", b, &r));
    EXPECT_EQ(r, -17693);
    EXPECT_FALSE(zm::run_checksum("nope", b, &r));
}

}  // namespace

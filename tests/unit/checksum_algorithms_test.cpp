// Checksum algorithms against known vectors, a plain reference computation and short packets.
#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "core/report.h"
#include "encode/checksum/checksum.h"

namespace {

using Bytes = std::vector<uint8_t>;

// RFC 1071 done the slow way: one 16-bit word at a time, carry folded at once.
uint16_t reference_inet(const Bytes& b) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        sum += static_cast<uint32_t>(b[i]) << 8 | (i + 1 < b.size() ? b[i + 1] : 0);
        if (sum > 0xFFFF) sum = (sum & 0xFFFF) + 1;
    }
    return static_cast<uint16_t>(~sum);
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void put16(Bytes& b, size_t at, size_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

// An IPv4 packet of `ihl` header words carrying `proto` and random content.
Bytes ipv4_packet(std::mt19937& rng, uint8_t proto, size_t payload, int ihl = 5) {
    Bytes p = random_bytes(rng, 4 * ihl + payload);
    p[0] = static_cast<uint8_t>(0x40 | ihl);
    put16(p, 2, p.size());
    p[9] = proto;
    return p;
}

// The transport checksum by the book: pseudo-header bytes, then the segment
// with its checksum field zeroed.
uint16_t reference_ipv4_transport(const Bytes& p, uint8_t proto, size_t cksum_at) {
    Bytes seg(p.begin() + 4 * (p[0] & 0x0F), p.end());
    seg[cksum_at] = seg[cksum_at + 1] = 0;
    Bytes all(p.begin() + 12, p.begin() + 20);
    all.insert(all.end(), {0, proto, static_cast<uint8_t>(seg.size() >> 8), static_cast<uint8_t>(seg.size())});
    all.insert(all.end(), seg.begin(), seg.end());
    return reference_inet(all);
}

// An IPv6 packet whose `ext` bytes of extension headers (hop-by-hop, then a
// type 0 routing header with segments left when `ext` > 8) precede a
// transport header of `proto` with `payload` bytes in all.
Bytes ipv6_packet(std::mt19937& rng, uint8_t proto, size_t payload, size_t ext) {
    Bytes p = random_bytes(rng, 40 + ext + payload);
    p[0] = 0x60;
    put16(p, 4, ext + payload);
    p[6] = ext ? 0 : proto;
    if (ext) {
        p[40] = ext > 8 ? 43 : proto;
        p[41] = 0;
    }
    if (ext > 8) {
        p[48] = proto;
        p[49] = static_cast<uint8_t>((ext - 16) / 8);
        p[50] = 0;
        p[51] = 1;
    }
    return p;
}

// The IPv6 transport checksum by the book; `dest` is where the final destination lies.
uint16_t reference_ipv6_transport(const Bytes& p, size_t off, uint8_t proto, size_t cksum_at, size_t dest) {
    Bytes seg(p.begin() + static_cast<long>(off), p.end());
    seg[cksum_at] = seg[cksum_at + 1] = 0;
    Bytes all(p.begin() + 8, p.begin() + 24);
    all.insert(all.end(), p.begin() + static_cast<long>(dest), p.begin() + static_cast<long>(dest) + 16);
    all.insert(all.end(), {0, 0, static_cast<uint8_t>(seg.size() >> 8), static_cast<uint8_t>(seg.size()), 0, 0, 0,
                           proto});
    all.insert(all.end(), seg.begin(), seg.end());
    return reference_inet(all);
}

int32_t call(zm::ChecksumFn fn, Bytes& b, int32_t bits, size_t avail) {
    int32_t cell = 12345;
    int32_t ret = fn(b.data(), 0, bits, &cell, 0, 16, nullptr, avail);
    if (fn != zm::fletch_xsum) {
        EXPECT_EQ(ret, cell);  // fletch returns its second octet
    }
    return cell;
}

int32_t call(zm::ChecksumFn fn, Bytes& b) { return call(fn, b, static_cast<int32_t>(8 * b.size()), b.size()); }

// Random packets and ranges of odd and even lengths.
TEST(ChecksumReference, RandomData) {
    std::mt19937 rng(7);
    zm::ReportCapture quiet;
    for (size_t n = 20; n < 300; n += 7) {
        // IPv4 options move the transport header.
        Bytes udp = ipv4_packet(rng, 17, n, 6);
        uint16_t want = reference_ipv4_transport(udp, 17, 6);
        EXPECT_EQ(call(zm::udp_xsum, udp, 192, udp.size()), want ? want : 0xFFFF) << n;
        Bytes tcp = ipv4_packet(rng, 6, n, 7);
        EXPECT_EQ(call(zm::tcp_xsum, tcp, 224, tcp.size()), reference_ipv4_transport(tcp, 6, 16)) << n;

        Bytes b = random_bytes(rng, n - 19);
        EXPECT_EQ(call(zm::ospf_xsum, b) & 0xFFFF, reference_inet(b)) << n;
        EXPECT_EQ(call(zm::ospf_xsum, b) >> 16, -1);
        Bytes words(b.begin(), b.begin() + static_cast<long>(b.size() / 4 * 4));
        EXPECT_EQ(call(zm::dod_xsum, b) & 0xFFFF, reference_inet(words)) << n;
        Bytes skipped = b;
        if (b.size() >= 4) skipped[2] = skipped[3] = 0;
        EXPECT_EQ(call(zm::icmp_xsum, b), reference_inet(skipped)) << n;
    }
}

// Over IPv6 the pseudo-header carries the IPv6 addresses, and a routing
// header with segments left replaces the destination by its last address.
// The icmpv6 range ends after the type byte, where the node holding the checksum starts.
TEST(ChecksumReference, TransportOverIpv6) {
    std::mt19937 rng(11);
    zm::ReportCapture quiet;
    for (size_t n = 20; n < 120; n += 13) {
        for (size_t ext : {0u, 8u, 48u}) {
            size_t off = 40 + ext, dest = ext > 8 ? 40 + ext - 16 : 24;
            Bytes udp = ipv6_packet(rng, 17, n, ext);
            uint16_t want = reference_ipv6_transport(udp, off, 17, 6, dest);
            EXPECT_EQ(call(zm::udp_xsum, udp, static_cast<int32_t>(8 * off), udp.size()), want ? want : 0xFFFF);
            Bytes tcp = ipv6_packet(rng, 6, n, ext);
            EXPECT_EQ(call(zm::tcp_xsum, tcp, static_cast<int32_t>(8 * off), tcp.size()),
                      reference_ipv6_transport(tcp, off, 6, 16, dest))
                << n << " " << ext;
            Bytes icmp = ipv6_packet(rng, 58, n, ext);
            EXPECT_EQ(call(zm::icmpv6_xsum, icmp, static_cast<int32_t>(8 * (off + 1)), icmp.size()),
                      reference_ipv6_transport(icmp, off, 58, 2, dest));
        }
    }
}

// Fletcher check octets are right when both running sums over the region,
// check octets included, come to zero modulo 255.
bool fletcher_verifies(Bytes b, size_t len, bool zero_age) {
    if (zero_age) b[0] = b[1] = 0;
    uint64_t c0 = 0, c1 = 0;
    for (size_t i = 0; i < len; ++i) c1 += c0 += b[i];
    return c0 % 255 == 0 && c1 % 255 == 0;
}

TEST(ChecksumFletcher, CheckOctetsVerifyAcrossReductionRuns) {
    std::mt19937 rng(5);
    for (size_t n : {18u, 19u, 1000u, 4102u, 4103u, 9000u, 20000u}) {
        Bytes b = n == 9000 ? Bytes(n, 0xFF) : random_bytes(rng, n);  // all ones: the largest sums
        b[16] = b[17] = 0;
        int32_t cell = 0;
        int32_t y = zm::fletch_xsum(b.data(), 0, static_cast<int32_t>(8 * n), &cell, 0, 16, nullptr, n);
        EXPECT_EQ(cell & 0xFF, y);
        put16(b, 16, static_cast<size_t>(cell));
        EXPECT_TRUE(fletcher_verifies(b, n, false)) << n;
    }
}

TEST(ChecksumFletcher, OspfLsaWritesVerifiableChecksumAndKeepsAge) {
    std::mt19937 rng(9);
    for (size_t len : {20u, 36u, 1499u}) {
        Bytes lsa = random_bytes(rng, len + 10);  // bytes after the LSA are not part of it
        put16(lsa, 18, len);
        Bytes age(lsa.begin(), lsa.begin() + 2);
        int32_t first = call(zm::ospf_lsa_xsum, lsa, 0, lsa.size());
        EXPECT_EQ(first, lsa[16] << 8 | lsa[17]);
        EXPECT_EQ(Bytes(lsa.begin(), lsa.begin() + 2), age);
        EXPECT_TRUE(fletcher_verifies(lsa, len, true)) << len;
    }
}

// Lengths a packet's own headers claim never lead outside it. Each buffer is
// exactly `avail` bytes, so a stray read shows under AddressSanitizer; the
// result equals that of the packet zero-filled to the claimed length.
TEST(ChecksumBounds, HeaderLengthsBeyondThePacket) {
    std::mt19937 rng(13);
    for (int ihl : {5, 0, 1, 4}) {
        for (zm::ChecksumFn fn : {zm::udp_xsum, zm::tcp_xsum}) {
            Bytes p = ipv4_packet(rng, 6, 40);
            p[0] = static_cast<uint8_t>(0x40 | ihl);
            put16(p, 2, 1000);
            Bytes padded = p;
            padded.resize(1000, 0);
            zm::ReportCapture cap;
            EXPECT_EQ(call(fn, p, 160, p.size()), call(fn, padded, 160, padded.size())) << ihl;
            EXPECT_TRUE(cap.contains("runs past the end of the packet")) << ihl;
        }
    }
    Bytes lsa = random_bytes(rng, 60);
    put16(lsa, 18, 4000);
    zm::ReportCapture cap;
    int32_t written = call(zm::ospf_lsa_xsum, lsa, 0, lsa.size());
    EXPECT_EQ(written, lsa[16] << 8 | lsa[17]);
    EXPECT_TRUE(cap.contains("LSA of 4000 bytes runs past the end of the packet (60 bytes)"));
    EXPECT_TRUE(fletcher_verifies(lsa, 60, true));
}

TEST(ChecksumBounds, ShortBuffersAndOversizedRanges) {
    zm::ReportCapture quiet;
    std::mt19937 rng(17);
    for (size_t n = 0; n < 48; ++n) {
        Bytes b = random_bytes(rng, n);
        for (zm::ChecksumFn fn : {zm::udp_xsum, zm::tcp_xsum, zm::icmpv6_xsum})
            for (int32_t bits : {160, 320, -8}) call(fn, b, bits, n);
        for (zm::ChecksumFn fn : {zm::dod_xsum, zm::ospf_xsum, zm::icmp_xsum, zm::fletch_xsum}) {
            EXPECT_EQ(call(fn, b, static_cast<int32_t>(8 * (n + 100)), n), call(fn, b));
            call(fn, b, -64, n);
        }
    }
}

TEST(ChecksumReports, OddTransportLengths) {
    std::mt19937 rng(23);
    zm::LogSettings& s = zm::log_settings();
    int saved = s.level;
    s.level = 0;  // let Code lines through
    zm::ReportCapture cap;
    // An even UDP payload says nothing; odd UDP warns, odd TCP only at Code level.
    for (auto [fn, proto, n] : {std::tuple{&zm::udp_xsum, 17, 12u}, {zm::udp_xsum, 17, 11u}, {zm::tcp_xsum, 6, 25u}}) {
        Bytes p = ipv4_packet(rng, static_cast<uint8_t>(proto), n);
        call(fn, p, 160, p.size());
    }
    s.level = saved;
    ASSERT_EQ(cap.lines.size(), 2u);
    EXPECT_EQ(std::make_tuple(cap.lines[0].type, cap.lines[1].type), std::make_tuple(zm::LOG_WARNING, zm::LOG_CODE));
    EXPECT_TRUE(cap.contains("Length of UDP packet is odd - zero-padding last byte."));
    EXPECT_TRUE(cap.contains("Length of TCP packet is odd - zero-padding last byte."));
}

}  // namespace

// Packet encoder: layout of the shipped headers, selectors, values, swaps, references, fix-ups and overruns.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "encode/encoder.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
#include "support.h"

using namespace zm;

namespace {

// Test-only nodes: a base node whose child sits between its fields, a child
// with swapped fields and field references, and a second child.
const char* kTestPdl = R"(
ENC_T_WRAP {
    w_type : 8 : default = 7;
    w_tag : 8 : default = 0x11;
    w_len : 16 : send = length(node, node);
    child(w_type) : 0 : { ENC_T_INNER(7), ENC_T_OTHER(9) };
    w_trailer : 16 : default = 0xBEEF;
    w_sum : 16 : send = checksum(ospf, node, node);
} BASE = ENCT, maxmtu = 64, display = "wrap";
ENC_T_INNER {
    i_bits : 12 : default = 0x00F, send = bitswap(0);
    i_swap : 16 : default = 0x1234, send = byteswap(0);
    i_pad : 4;
    i_ref : 8 : default = ENC_T_WRAP.w_tag;
    i_mode : 8 : legal_values = (SLOW = 1, FAST = 2);
    i_bad : 8 : default = ENC_T_OTHER.o_val;
} display = "inner";
ENC_T_OTHER {
    o_val : 8 : default = 0x55;
} display = "other";
)";

void load_databases() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    ASSERT_TRUE(zm_test::load_shipped_library());
    if (!find_node("ENC_T_WRAP")) parse_pdl_text(protodb(), kTestPdl, std::strlen(kTestPdl));
    protodb().resolve_unresolved();
}

using Buf = std::unique_ptr<PacketBuffer, void (*)(PacketBuffer*)>;

class Encode : public ::testing::Test {
protected:
    void SetUp() override { load_databases(); }

    // Builds and returns the bytes (empty on failure, with ok_ false).
    std::vector<uint8_t> build(const char* text, const char* base = "ENET_HDR", uint32_t room = 1518) {
        buf_.reset(buffer_alloc(room));
        ok_ = build_packet(buf_.get(), text, find_node(base), nullptr, DIR_TX, 0) == 0;
        if (!ok_) return {};
        return std::vector<uint8_t>(buf_->data(), buf_->data() + buf_->length());
    }

    Buf buf_{nullptr, buffer_free};
    bool ok_ = false;
};

uint16_t net16(const std::vector<uint8_t>& p, size_t at) { return static_cast<uint16_t>(p[at] << 8 | p[at + 1]); }

// Straightforward RFC 1071 sum over bytes (odd tail padded with zero), not complemented.
uint32_t ones_sum(const uint8_t* p, size_t n, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < n; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (n % 2) sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

// Embedded options set the header length and enter the header checksum. (The UDP
// checksum behind options is checked by the checksum tests, an odd payload by the send tests.)
TEST_F(Encode, EmbeddedIpOptionsEnterLengthsAndHeaderSum) {
    auto p = build("IP_HDR ip_hl=6 ip_src_address=127.0.0.1 ip_dest_address=127.0.0.2 "
                   "<ip_options ipopt_type=NOP, ip_options ipopt_type=1, ip_options ipopt_type=1, ip_options ipopt_type=EOL>, "
                   "UDP_HDR udp_dest_port=7, RAWDATA 0xAABBCC");
    ASSERT_TRUE(ok_);
    ASSERT_EQ(p.size(), 14u + 24 + 8 + 3);
    EXPECT_EQ(p[14], 0x46);
    EXPECT_EQ(std::vector<uint8_t>(p.begin() + 34, p.begin() + 38), (std::vector<uint8_t>{1, 1, 1, 0}));
    EXPECT_EQ(net16(p, 16), 24 + 8 + 3);
    EXPECT_EQ(ones_sum(&p[14], 24), 0xFFFF);
    EXPECT_EQ(net16(p, 38 + 4), 11);
}

// (A selector following the chosen child is checked by the send script tests.)
TEST_F(Encode, FilterValuesWinOverSelectorsAndComputedFields) {
    auto p = build("ENET_HDR type=0x1234 dst=01:02:03:04:05:06, IP_HDR ip_cksum=0xBEEF ip_len=99 ip_flags=DONT_FRAGMENT");
    ASSERT_TRUE(ok_);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    // type, ip_len, flags (the named legal value 2 in the top three bits), checksum.
    EXPECT_EQ(std::make_tuple(net16(p, 12), net16(p, 16), p[20], net16(p, 24)),
              std::make_tuple(0x1234, 99, uint8_t{0x40}, 0xBEEF));
}

TEST_F(Encode, ChildBetweenFieldsSwapsReferencesAndTrailerChecksum) {
    ReportCapture cap;
    auto p = build("ENC_T_WRAP w_tag=0x42, ENC_T_INNER i_mode=FAST", "ENC_T_WRAP", 64);
    ASSERT_TRUE(ok_);
    std::vector<uint8_t> want{0x07, 0x42, 0x00, 0x0F,              // type, tag, length of the whole node
                              0xF0, 0x03, 0x41, 0x20,              // bit-swapped 0x00F, byte-swapped 0x1234, pad
                              0x42, 0x02, 0x00,                    // reference, legal value, unresolved reference
                              0xBE, 0xEF};                         // trailer after the child
    ASSERT_EQ(p.size(), want.size() + 2);
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.end() - 2), want);
    // The sum sits at an odd offset: recompute it over the node with the field zeroed.
    std::vector<uint8_t> zeroed = p;
    zeroed[p.size() - 2] = zeroed[p.size() - 1] = 0;
    EXPECT_EQ(net16(p, p.size() - 2), static_cast<uint16_t>(~ones_sum(zeroed.data(), zeroed.size())));
    EXPECT_TRUE(cap.contains("Unsupported field reference in pdl file for \"ENC_T_INNER.i_bad\""));
}

// Each refused build reports why: an overrun before any write outside the
// room, also with a width taken from an earlier field (1600 bits of hardware
// address), an empty text, and a node whose only parent has no way to the base.
TEST_F(Encode, RefusedBuildsSayWhy) {
    const std::tuple<const char*, const char*, uint32_t, const char*> cases[] = {
        {"ENC_T_WRAP, ENC_T_INNER", "ENC_T_WRAP", 10, "Overran 10-byte buffer"},
        {"ARP_HDR arp_hw_len=200 arp_src_hw=01:02:03:04:05:06", "ENET_HDR", 64, "Overran 64-byte buffer"},
        {"", "ENET_HDR", 1518, "packet specification has illegal order"},
        {"ENC_T_INNER", "ENET_HDR", 1518, "packet specification has illegal order"},
    };
    for (const auto& [text, base, room, message] : cases) {
        ReportCapture cap;
        build(text, base, room);
        EXPECT_FALSE(ok_) << text;
        EXPECT_TRUE(cap.contains(message)) << text;
    }
}

TEST(EncodeRoom, NeverBeyondWhatTheTailCanAddress) {
    Buf big(buffer_alloc(70000), buffer_free);
    EXPECT_EQ(encoder_room(big.get()), 0xFFFFu - big->head);
    Buf small(buffer_alloc(60), buffer_free);
    EXPECT_EQ(encoder_room(small.get()), 60u);
}

}  // namespace

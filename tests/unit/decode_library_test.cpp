// The decoder on the shipped protocol library: element sequences, field cells and texts, every prefix of a frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decode.h"
#include "decode/format.h"
#include "decode_util.h"
#include "pdl/protodb.h"

using namespace zm;
using zm_test::Packet;
using zm_test::enet_frame;
using zm_test::ipv4_packet;
using zm_test::udp_datagram;

namespace {

// Field name -> display text, for every DECODE_FLD of the tree.
std::string text_of(const PacketBuffer* b, const char* field, bool numeric = false) {
    std::string text;
    for (const DecodeElement& e : *decode_tree(b)) {
        if (e.type != DECODE_FLD || e.field()->name_ != field) continue;
        (numeric ? format_field_value : format_field)(e, b->data(), b->length(), text, 256);
        return text;
    }
    return "<absent>";
}

class DecodeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zm_test::load_shipped_library());
        enet_ = find_node("ENET_HDR");
    }
    Node* enet_ = nullptr;
};

}  // namespace

TEST_F(DecodeLibrary, EthernetIpv4UdpFrame) {
    Packet p(enet_frame(0x0800, ipv4_packet(17, udp_datagram(1024, 53, {0xDE, 0xAD, 0xBE, 0xEF}))));
    ASSERT_TRUE(decode_packet(p.buf, enet_, nullptr));
    EXPECT_EQ(zm_test::tree(p.buf, true),
              "N:ENET_HDR@0 N:IP_HDR@112 A:ip_options@272 N:ip_options@272[1] /N:ip_options@272 /A:ip_options@272 "
              "N:UDP_HDR@272 N:DATA@336 /N:DATA@336 /N:UDP_HDR@272 /N:IP_HDR@112 /N:ENET_HDR@0");
    // Symbols by default, numbers when asked (the other texts of such a frame are in the
    // full-decode golden file), also for a three-bit field at an odd offset.
    EXPECT_EQ(text_of(p.buf, "ip_flags") + " " + text_of(p.buf, "ip_proto"), "DONT_FRAGMENT UDP");
    EXPECT_EQ(text_of(p.buf, "type", true) + " " + text_of(p.buf, "ip_proto", true), "0x800 17");
    EXPECT_EQ(find_field(nullptr, "UDP_HDR.udp_len")->cur_value_, 12u);
    EXPECT_EQ(find_field(nullptr, "IP_HDR.ip_ttl")->cur_offset_, 112u + 64u);
}

TEST_F(DecodeLibrary, EveryPrefixDecodesSafely) {
    std::vector<std::vector<uint8_t>> frames = {
        enet_frame(0x0800, ipv4_packet(17, udp_datagram(1024, 161, {0x30, 0x26, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',
                                                                    'u', 'b', 'l', 'i', 'c'}))),
        enet_frame(0x0800, ipv4_packet(6, std::vector<uint8_t>(32, 0x51))),
        enet_frame(0x86DD, std::vector<uint8_t>(60, 0x11)),
        enet_frame(0x0806, std::vector<uint8_t>(28, 0x01)),
    };
    std::string text;
    for (const auto& frame : frames) {
        for (size_t n = 0; n <= frame.size(); ++n) {
            Packet p(std::vector<uint8_t>(frame.begin(), frame.begin() + static_cast<long>(n)));
            ASSERT_TRUE(decode_packet(p.buf, enet_, nullptr));
            int depth = 0;
            for (const DecodeElement& e : *decode_tree(p.buf)) {
                if (e.type == DECODE_NODE || e.type == DECODE_ARRAY) ++depth;
                if (e.type == DECODE_NODE_END || e.type == DECODE_ARRAY_END) --depth;
                ASSERT_GE(depth, 0);
                if (e.type == DECODE_FLD) {
                    ASSERT_LE(e.offset + e.width, n * 8);
                    format_field(e, p.buf->data(), p.buf->length(), text, 256);
                    format_field_value(e, p.buf->data(), p.buf->length(), text, 256);
                }
            }
            EXPECT_EQ(depth, 0) << n;
        }
    }
}

// The full decode text over every prefix of a frame; the vendor table.
// (Widths, cut names and values and the vendor line are checked by the reference page's example;
// the visitor's keys, values and symbols by the PKT_TBL examples and script tests.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decode.h"
#include "decode_util.h"
#include "pdl/protodb.h"
#include "render/fulldecode.h"
#include "render/render.h"
#include "render/vendors.h"
#include "support.h"

using namespace zm;
using zm_test::Packet;

namespace {

// Ethernet (vendor prefix 00:00:0c) / IPv4 / UDP to port 9999 / 4 data bytes.
std::vector<uint8_t> udp_frame() {
    return {0x00, 0x00, 0x0c, 0x01, 0x02, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00,
            0x45, 0x00, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 64,   17,   0,    0,    127,  0,
            0,    1,    10,   0,    0,    2,    0x04, 0x00, 0x27, 0x0f, 0x00, 0x0c, 0x00, 0x00,
            'a',  'b',  'c',  'd'};
}

std::string_view no_vendor(void*, uint32_t) { return {}; }

class RenderText : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zm_test::load_shipped_library()); }
};

// Every prefix of the frame renders without reading past the packet (the
// sanitizer build checks), with each line's item number in order.
TEST_F(RenderText, EveryPrefixRenders) {
    std::vector<uint8_t> frame = udp_frame();
    FullDecodeStyle s;
    s.vendor = no_vendor;
    for (size_t n = 0; n <= frame.size(); ++n) {
        Packet p(std::vector<uint8_t>(frame.begin(), frame.begin() + static_cast<long>(n)));
        DecodeBlock scratch;
        PreparedBuffer prepared(p.buf, scratch, find_node("ENET_HDR"), nullptr);
        ASSERT_TRUE(prepared.lent());
        std::string text, items;
        if (prepared.tree()) fulldecode_text(*prepared.tree(), p.buf->data(), p.buf->length(), s, text, items);
        size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        size_t numbers = static_cast<size_t>(std::count(items.begin(), items.end(), ' '));
        EXPECT_LE(numbers, lines) << "prefix " << n;
    }
}

// The vendor table: a missing file gives no vendors; rows are found by
// prefix, cut to 40 characters, the first registration of a prefix wins.
TEST(MacVendors, LoadAndLookUp) {
    EXPECT_FALSE(load_mac_vendors("/nonexistent/mac_vendors.txt"));
    EXPECT_EQ(mac_vendor(nullptr, 0x00000c), "");
    std::string path = zm_test::scratch("mac_vendors_test.txt");
    std::string rows = "00000F\tNeXT\n00000C\tCisco\n00000C\tLater duplicate\nzzzzzz\tbad\n000000\tzero\n"
                       "ABCDEF\tA vendor whose name runs well past forty characters\n";
    zm_test::put_file(path, {rows.begin(), rows.end()});
    ASSERT_TRUE(load_mac_vendors(path));
    std::remove(path.c_str());
    auto vendor = [](uint32_t oui) { return std::string(mac_vendor(nullptr, oui)); };
    EXPECT_EQ(zm_test::each(std::vector<uint32_t>{0x00000c, 0x00000f, 0xabcdef, 0, 0x00000d}, vendor),
              (std::vector<std::string>{"Cisco", "NeXT", "A vendor whose name runs well past forty", "", ""}));
}

}  // namespace

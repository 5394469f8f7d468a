// Field texts by display code and width, symbolic values, swapped fields, and the hex dump.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/report.h"
#include "decode/decode.h"
#include "decode/format.h"
#include "decode_util.h"
#include "pdl/protodb.h"

using namespace zm;

namespace {

struct Fmt {
    Field field;
    explicit Fmt(int code, uint32_t flags = 0) {
        field.name_ = "f";
        field.display_format_ = code;
        field.flags_ = flags;
    }
    // The text of the field at bit `offset`, `width` bits, of `bytes` (exactly that long).
    std::string text(const std::vector<uint8_t>& bytes, uint32_t offset, uint32_t width, bool numeric = false,
                     size_t max = 256) {
        // A heap copy of exactly the packet's size, so a read past it is caught.
        std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        uint32_t value = 0;
        for (uint32_t i = 0; i < width && width <= 32; ++i) {
            uint32_t bit = offset + i;
            value = (value << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
        }
        DecodeElement e{DECODE_FLD, 0, value, offset, width, 0, &field};
        std::string out;
        (numeric ? format_field_value : format_field)(e, data.get(), static_cast<uint32_t>(bytes.size()), out, max);
        return out;
    }
};

std::string ip6(std::vector<uint8_t> b) {
    b.resize(16);
    return ipv6_text(b.data());
}

}  // namespace

TEST(DecodeFormat, NarrowCodesSymbolsAndSwappedFields) {
    EXPECT_EQ(Fmt(DISP_HEX).text({0, 0}, 0, 16), "0");
    EXPECT_EQ(Fmt(DISP_STR).text({0, 0}, 0, 16), "0x0");
    EXPECT_EQ(Fmt(DISP_IPA).text({0, 0}, 0, 16), "0.0.0.0");
    EXPECT_EQ(Fmt(DISP_HEX).text({0xFF}, 0, 0), "");
    EXPECT_EQ(Fmt(DISP_HEX).text({0x1F, 0xA0}, 0, 16), "0x1fa0");
    EXPECT_EQ(Fmt(DISP_HEX).text({0x1F}, 3, 3), "0x7");
    EXPECT_EQ(Fmt(DISP_DEC).text({0xFF, 0xFF}, 0, 16), "65535");
    EXPECT_EQ(Fmt(DISP_DEC).text({0xFF, 0xFF, 0xFF, 0xFE}, 0, 32), "-2");
    EXPECT_EQ(Fmt(DISP_IPA).text({10, 1, 2, 3}, 0, 32), "10.1.2.3");
    EXPECT_EQ(Fmt(DISP_IPA).text({0x12, 0x34}, 0, 16), "0.0.18.52");
    EXPECT_EQ(Fmt(DISP_I4P).text({10, 1, 2}, 0, 24), "10.1.2.0");
    EXPECT_EQ(Fmt(DISP_I4P).text({0x0A}, 0, 8), "10.0.0.0");
    EXPECT_EQ(Fmt(DISP_FLT).text({0x3F, 0xC0, 0, 0}, 0, 32), "1.500000");
    EXPECT_EQ(Fmt(DISP_STR).text({'a', 'b', 0, 'c'}, 0, 32), "ab");
    EXPECT_EQ(Fmt(DISP_MAC).text({0x00, 0xA0, 0x24, 0x11}, 0, 32), "00:a0:24:11");
    EXPECT_EQ(Fmt(DISP_OID).text({0x2B, 0x06, 0x01}, 0, 24), "1.3.6.1");
    // An IPv6 code on a narrow field shows the 16 bytes from the field's start,
    // zeros where the packet ends.
    EXPECT_EQ(Fmt(DISP_IP6).text({0, 1}, 0, 16), "1::");

    ProtoDb db;
    Symbol* legal = db.make_symbol(SYM_VALUE, 0x0800u, "IP", true);
    legal->next_ = db.make_symbol(SYM_VALUE, 0x86DDu, "IPv6", true);
    Fmt f(DISP_HEX);
    f.field.legal_values_ = legal;
    EXPECT_EQ(f.text({0x08, 0x00}, 0, 16), "IP");
    EXPECT_EQ(f.text({0x86, 0xDD}, 0, 16), "IPv6");
    EXPECT_EQ(f.text({0x08, 0x06}, 0, 16), "0x806");
    EXPECT_EQ(f.text({0x08, 0x00}, 0, 16, true), "0x800");  // numeric: no symbol lookup

    Fmt bs(DISP_HEX, FLD_BYTESWAP);
    EXPECT_EQ(bs.text({0x34, 0x12}, 0, 16), "0x1234");
    Fmt rev(DISP_HEX, FLD_BITSWAP);
    EXPECT_EQ(rev.text({0x80}, 0, 8), "0x1");
    EXPECT_EQ(rev.text({0x0F, 0x00}, 4, 12), "0xf");
    // Wide bit-swapped field at the very end of the packet: the copy is bounded.
    EXPECT_EQ(rev.text({0x01, 0, 0, 0, 0}, 0, 40), "0x0000000080");
}

TEST(DecodeFormat, WideFields) {
    zm_test::LogLevel all(0);
    ReportCapture cap;
    std::vector<uint8_t> mac = {0x00, 0xA0, 0x24, 0x11, 0x22, 0x33};
    EXPECT_EQ(Fmt(DISP_HEX).text(mac, 0, 48), "0x00A024112233");
    EXPECT_EQ(Fmt(DISP_MAC).text(mac, 0, 48), "00:a0:24:11:22:33");
    EXPECT_TRUE(cap.lines.empty());
    EXPECT_EQ(Fmt(DISP_DEC).text(mac, 0, 48), "0x00A024112233");
    EXPECT_TRUE(cap.contains(
        "Bad format for field width 48 in field \"f\" during receive - offset is 0 - Using HEX format"));
    // Odd offset and width: the covering bytes, bits before the field cleared.
    EXPECT_EQ(Fmt(DISP_HEX).text({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 4, 36), "0x0FFFFFFFFF");
    EXPECT_EQ(Fmt(DISP_STR).text({'h', 'e', 'l', 'l', 'o', 0, 'x'}, 0, 56), "hello");
    EXPECT_EQ(Fmt(DISP_OID).text({0x2B, 0x06, 0x01, 0x82, 0x37, 0x01}, 0, 48), "1.3.6.1.311.1");
    std::vector<uint8_t> v6 = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(Fmt(DISP_IP6).text(v6, 0, 128), "2001:db8::1");
    // A field cut at the end of the packet: no byte past it is read.
    EXPECT_EQ(Fmt(DISP_IP6).text({0x20, 0x01, 0x0D, 0xB8, 0, 0}, 0, 48), "2001:db8::");
    EXPECT_EQ(Fmt(DISP_HEX).text({1, 2, 3, 4, 5}, 0, 40, false, 6), "0x0102");
}

TEST(DecodeFormat, Ipv6TextRules) {
    EXPECT_EQ(ip6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3}), "::10.1.2.3");
    EXPECT_EQ(ip6({}), "::0.0.0.0");
    EXPECT_EQ(ip6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 10, 1, 2, 3}), "::ffff:10.1.2.3");
    EXPECT_EQ(ip6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3}), "::1:2:3");
    EXPECT_EQ(ip6({0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8}), "1:2:3:4:5:6:7:8");
    EXPECT_EQ(ip6({0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7}), "1:0:2:3:4:5:6:7");
    // Two runs of equal length: the first is compressed.
    EXPECT_EQ(ip6({0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}), "2001:db8::1:0:0:1");
    // The longer run wins.
    EXPECT_EQ(ip6({0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 3}), "1:0:0:2::3");
}

// The layout of whole lines, in ASCII and EBCDIC, is checked by the hex-dump renderer's golden file;
// here, the form with carriage returns and the empty dump.
TEST(DecodeFormat, HexDump) {
    const uint8_t e[] = {0xC1, 0x81, 0xF0, 0x40, 0x00, 0x7A};
    std::string out;
    hex_dump(e, sizeof e, out, true, CHARSET_EBCDIC);
    EXPECT_EQ(out, "\n\r    0:  c181f040  007a" + std::string(24, ' ') + "    Aa0..:\n");
    out.clear();
    hex_dump(e, 0, out, false, CHARSET_ASCII);
    EXPECT_EQ(out, "\n");
}

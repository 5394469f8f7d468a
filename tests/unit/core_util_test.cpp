// Option parser, packet buffers and pools, text conversions, time and paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/buffer.h"
#include "core/fileutil.h"
#include "core/options.h"
#include "core/textconv.h"
#include "core/timeutil.h"
#include "test_interp.h"

using namespace zm;

namespace {

struct Parsed {
    int code;
    std::string result;
    std::vector<std::string> kept;
};

int g_readhw, g_readlw, g_num;
const char* g_file;
const char* g_filter;
double g_scale;

const OptSpec kTable[] = {
    {"-readhw", OPT_INT, 0, &g_readhw, "High water mark"},
    {"-readlw", OPT_INT, 0, &g_readlw, "Low water mark"},
    {"-file", OPT_STRING, 0, &g_file, "File name"},
    {"-filter", OPT_STRING, 0, &g_filter, "Filter"},
    {"-scale", OPT_FLOAT, 0, &g_scale, "Scale"},
    {"-on", OPT_CONSTANT, 5, &g_num, "Turn on"},
    {nullptr, OPT_END, 0, nullptr, nullptr},
};

Parsed parse(std::vector<const char*> words, int flags = 0) {
    Tcl_Interp* interp = zm_test_interp();
    Tcl_ResetResult(interp);
    g_readhw = 100;
    g_readlw = 50;
    g_file = g_filter = nullptr;
    g_scale = 1.5;
    g_num = 0;
    words.push_back(nullptr);
    int argc = static_cast<int>(words.size()) - 1;
    Parsed p;
    p.code = parse_options(interp, &argc, words.data(), kTable, flags);
    p.result = Tcl_GetStringResult(interp);
    if (p.code == TCL_OK) {
        for (int i = 0; i < argc; ++i) p.kept.emplace_back(words[i]);
        EXPECT_EQ(words[argc], nullptr);
    }
    return p;
}

}  // namespace

TEST(Options, AbbreviationsAmbiguityAndExactMatch) {
    EXPECT_EQ(parse({"cmd", "-read", "1"}).result, "ambiguous option \"-read\"");
    auto p = parse({"cmd", "-readh", "0x10", "abc", "-readlw", "010"});
    ASSERT_EQ(p.code, TCL_OK);
    EXPECT_EQ(std::make_tuple(g_readhw, g_readlw), std::make_tuple(16, 8));  // hex and octal
    EXPECT_EQ(p.kept, (std::vector<std::string>{"cmd", "abc"}));
    p = parse({"cmd", "-file", "x"});
    ASSERT_EQ(p.code, TCL_OK);
    EXPECT_STREQ(g_file, "x");
    EXPECT_EQ(g_filter, nullptr);
    p = parse({"cmd", "-on", "pos", "-scale", "2.5"});
    EXPECT_EQ(g_num, 5);
    EXPECT_EQ(g_scale, 2.5);
    EXPECT_EQ(parse({"cmd", "-readhw", "0x10", "-readhw", "1"}, OPT_NO_ABBREV).code, TCL_OK);
    EXPECT_EQ(parse({"cmd", "-readh", "1"}, OPT_NO_ABBREV).kept.size(), 3u);
}

TEST(Options, Messages) {
    EXPECT_EQ(parse({"cmd", "-readhw", "12abc"}).result, "expected integer argument for \"-readhw\" but got \"12abc\"");
    EXPECT_EQ(parse({"cmd", "-scale", "x"}).result, "expected floating-point argument for \"-scale\" but got \"x\"");
    EXPECT_EQ(parse({"cmd", "-readhw"}).result, "\"-readhw\" option requires an additional argument");
    EXPECT_EQ(parse({"cmd", "abc"}, OPT_NO_LEFTOVERS).result, "unrecognized argument \"abc\"");
    EXPECT_EQ(parse({"-readhw", "3"}, OPT_KEEP_FIRST).kept.size(), 0u);
}

TEST(Buffers, PoolGrowthAndFreeListOrder) {
    Pool pool;
    pool_init(&pool, 1518);
    uint64_t blocks = pool_blocks_allocated();
    std::vector<PacketBuffer*> got;
    for (int i = 0; i < kPoolBlockBuffers; ++i) got.push_back(pool_get(&pool));
    EXPECT_EQ(pool_blocks_allocated(), blocks + 1);
    EXPECT_EQ(got[1]->block, got[0]);
    PacketBuffer* extra = pool_get(&pool);  // one more: a second block
    EXPECT_EQ(pool_blocks_allocated(), blocks + 2);
    buffer_free(got[5]);
    buffer_free(got[6]);
    // Freed buffers join the tail: the second block's free buffers come first.
    std::vector<PacketBuffer*> second{extra};
    for (int i = 1; i < kPoolBlockBuffers; ++i) second.push_back(pool_get(&pool));
    for (auto* b : second) EXPECT_EQ(b->block, extra);
    EXPECT_EQ(pool_get(&pool), got[5]);
    EXPECT_EQ(pool_get(&pool), got[6]);
    EXPECT_EQ(pool_blocks_allocated(), blocks + 2);
    for (auto* b : second) buffer_free(b);
    for (auto* b : got) buffer_free(b);
    pool_destroy(&pool);
    EXPECT_TRUE(pool.blocks.empty());
}

TEST(Buffers, CloneCopiesDataAndMetadataButNoDecode) {
    PacketBuffer* b = buffer_alloc(64);
    b->append(10);
    for (int i = 0; i < 10; ++i) b->data()[i] = static_cast<uint8_t>(i);
    b->frame = 42;
    b->sec = 7;
    b->direction = DIR_TX;
    b->trunc_len = 99;
    PacketBuffer* c = buffer_clone(b);
    buffer_free(b);
    EXPECT_EQ(std::make_tuple(c->length(), c->data()[9], c->frame, c->sec, c->direction, c->trunc_len, c->decode),
              std::make_tuple(10u, uint8_t{9}, 42u, 7u, uint32_t{DIR_TX}, 99u, nullptr));
    buffer_free(c);
}

TEST(TextConv, HexForms) {
    const uint8_t bytes[] = {0x00, 0xA0, 0x24, 0x11, 0x22, 0x33};
    EXPECT_EQ(bin2asciihex(bytes, 3, true), "0x00A024");
    EXPECT_EQ(bin2asciihex(bytes, 0, false), "");
    EXPECT_EQ(bin2colonhex(bytes, 6), "00:a0:24:11:22:33");
    EXPECT_EQ(asciihex2binary("1:2:ab", false), (std::vector<uint8_t>{1, 2, 0xAB}));
    uint8_t small[2];
    EXPECT_EQ(asciihex2binary(small, 2, "010203", false), 3u);  // counts, writes only 2
}

TEST(TextConv, AsciinumForms) {
    // Dotted, hex and negative numbers give 4 bytes and their value; colon
    // hex gives its byte count; the errors are -1 (too many parts), -3 (not a
    // number) and -2 (too large).
    const std::tuple<const char*, int, uint32_t> cases[] = {
        {"10.1.2.3", 4, 0x0A010203u}, {"0x10.0.0.1", 4, 0x10000001u}, {"0xff", 4, 255u}, {"-5", 4, 0xFFFFFFFBu},
        {"aa:bb", 2, 0}, {"1.2.3.4.5.6.7.8.9", -1, 0}, {"abc", -3, 0}, {"12345678901", -2, 0}};
    uint32_t v = 0;
    std::vector<uint8_t> bytes;
    for (const auto& [text, ret, value] : cases) {
        EXPECT_EQ(asciinum2binary(text, &v, &bytes), ret) << text;
        if (ret == 4) {
            EXPECT_EQ(v, value) << text;
        }
    }
    EXPECT_EQ(asciinum2binary("0x123456789", &v, &bytes), 5);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89}));
}

// Timestamp texts are checked through send and pkt_compose by the script tests.
TEST(TimeUtil, DeltaIsZeroFirstThenBorrowsFromTheSeconds) {
    TimeVal prev, delta;
    time_delta(&prev, TimeVal{10, 500}, &delta);
    EXPECT_EQ(delta.sec, 0);
    time_delta(&prev, TimeVal{12, 100}, &delta);
    EXPECT_EQ(std::make_tuple(delta.sec, delta.usec), std::make_tuple(1, 999600));
}

// Searching along the path is checked by the pdlc script tests; here, a
// directory given with its trailing slash and no path at all.
TEST(FileUtil, OpenOnPathJoinsWithoutDoublingTheSlash) {
    std::string dir = ::testing::TempDir() + "zm_path_test/two/", found;
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "x.pdl") << "two";
    FILE* f = open_on_path(zm_test_interp(), "x.pdl", ("/nonexistent " + dir).c_str(), &found);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(found, dir + "x.pdl");
    std::fclose(f);
    EXPECT_EQ(open_on_path(zm_test_interp(), "x.pdl", nullptr, &found), nullptr);
}

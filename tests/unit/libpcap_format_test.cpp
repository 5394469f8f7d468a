// Standard capture files: written with the writer, read back through libpcap; damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "media/libpcap_format.h"
#include "media/media.h"

namespace zm {
namespace {

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("ZEMKO_TEST_DATA");
    std::string d = dir ? dir : "/tmp";
    mkdir(d.c_str(), 0755);
    return d + "/libpcap_" + name;
}

std::vector<uint8_t> get_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void put_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Frame {
    uint32_t len, sec, usec, direction, trunc;
};
const Frame kFrames[] = {
    {60, 1700000000, 123456, DIR_RX, 0},
    {75, 1700000001, 999999, DIR_TX, 1514},
    {14, 4000000000u, 0, DIR_NA, 0},
};

// Writes kFrames (bytes counting up from the frame's index) into `path`.
void write_frames(const std::string& path) {
    LibpcapWriter w;
    std::string why;
    ASSERT_TRUE(w.open(path, kLinkEthernet, "veth-test0", &why)) << why;
    for (size_t i = 0; i < std::size(kFrames); ++i) {
        PacketBuffer* b = buffer_alloc(2048);
        ASSERT_TRUE(b->append(kFrames[i].len));
        for (uint32_t k = 0; k < kFrames[i].len; ++k) b->data()[k] = static_cast<uint8_t>(i + k);
        b->sec = kFrames[i].sec;
        b->usec = kFrames[i].usec;
        b->direction = kFrames[i].direction;
        b->trunc_len = kFrames[i].trunc;
        EXPECT_TRUE(w.add(b));
        buffer_free(b);
    }
    EXPECT_TRUE(w.finish());
}

void expect_frame(const PacketBuffer* b, size_t i, bool with_direction) {
    ASSERT_NE(b, nullptr);
    ASSERT_FALSE(is_end_of_input(b));
    const Frame& f = kFrames[i];
    EXPECT_EQ(b->frame, i + 1);
    EXPECT_EQ(b->length(), f.len);
    EXPECT_EQ(b->sec, f.sec);
    EXPECT_EQ(b->usec, f.usec);
    EXPECT_EQ(b->trunc_len, f.trunc);
    EXPECT_EQ(b->direction, with_direction ? f.direction : DIR_NA);
    for (uint32_t k = 0; k < f.len; ++k) ASSERT_EQ(b->data()[k], static_cast<uint8_t>(i + k));
}

// Both formats round-trip every field the buffer holds; pcapng also keeps
// the direction. Fetch re-reads any frame read so far.
TEST(LibpcapFormat, WrittenFilesReadBack) {
    for (const char* name : {"round.pcap", "round.pcapng"}) {
        std::string path = scratch(name);
        write_frames(path);
        bool ng = libpcap_wants_pcapng(path);
        Pool pool;
        pool_init(&pool, 1518);
        LibpcapReader r;
        std::string why;
        ASSERT_EQ(r.open(path, &why), LibpcapReader::Open::ok) << why;
        EXPECT_EQ(r.link_type(), kLinkEthernet);
        EXPECT_EQ(r.is_pcapng(), ng);
        for (size_t i = 0; i < std::size(kFrames); ++i) {
            PacketBuffer* b = r.read(&pool);
            expect_frame(b, i, ng);
            buffer_free(b);
        }
        EXPECT_TRUE(is_end_of_input(r.read(&pool)));
        EXPECT_TRUE(is_end_of_input(r.read(&pool)));
        PacketBuffer* again = r.fetch(&pool, 2);
        expect_frame(again, 1, ng);
        buffer_free(again);
        EXPECT_EQ(r.fetch(&pool, 4), nullptr);
        EXPECT_EQ(r.fetch(&pool, 0), nullptr);
        pool_destroy(&pool);
    }
    // editcap rewrites the blocks in this host's (little-endian) order: the
    // direction option is still found.
    std::string le = scratch("round_le.pcapng");
    if (std::system(("editcap -F pcapng " + scratch("round.pcapng") + " " + le + " 2>/dev/null").c_str()) == 0) {
        Pool pool;
        pool_init(&pool, 1518);
        LibpcapReader r;
        std::string why;
        ASSERT_EQ(r.open(le, &why), LibpcapReader::Open::ok);
        for (size_t i = 0; i < std::size(kFrames); ++i) {
            PacketBuffer* b = r.read(&pool);
            expect_frame(b, i, true);
            buffer_free(b);
        }
        pool_destroy(&pool);
    }
    std::vector<uint8_t> ng = get_file(scratch("round.pcapng"));
    std::string text(ng.begin(), ng.end());
    EXPECT_NE(text.find("veth-test0"), std::string::npos);  // the interface description names it
}

// A frame larger than the pool's buffers is skipped with a Warning and
// reading goes on; a file cut inside a record ends with a Warning; a file
// that is no capture at all is refused with libpcap's reason.
TEST(LibpcapFormat, DamagedAndOversizedInput) {
    std::string path = scratch("cut.pcap");
    write_frames(path);
    Pool small;
    pool_init(&small, 60);
    {
        LibpcapReader r;
        std::string why;
        ASSERT_EQ(r.open(path, &why), LibpcapReader::Open::ok);
        ReportCapture cap;
        PacketBuffer* first = r.read(&small);
        expect_frame(first, 0, false);
        buffer_free(first);
        EXPECT_EQ(r.read(&small), nullptr);
        EXPECT_TRUE(cap.contains("frame 2 of 75 bytes does not fit"));
        PacketBuffer* third = r.read(&small);
        expect_frame(third, 2, false);
        buffer_free(third);
    }
    std::vector<uint8_t> bytes = get_file(path);
    bytes.resize(bytes.size() - 5);
    put_file(path, bytes);
    {
        LibpcapReader r;
        std::string why;
        ASSERT_EQ(r.open(path, &why), LibpcapReader::Open::ok);
        ReportCapture cap;
        buffer_free(r.read(&small));
        EXPECT_EQ(r.read(&small), nullptr);  // the oversized frame
        EXPECT_TRUE(is_end_of_input(r.read(&small)));
        EXPECT_TRUE(cap.contains("reading stops"));
    }
    pool_destroy(&small);

    put_file(path, std::vector<uint8_t>(100, 0x5A));
    LibpcapReader r;
    std::string why;
    EXPECT_EQ(r.open(path, &why), LibpcapReader::Open::not_capture);
    EXPECT_FALSE(why.empty());
    int link = 0;
    EXPECT_FALSE(libpcap_probe_file(path, &link));
    EXPECT_EQ(LibpcapReader().open(scratch("missing/none.pcap"), &why), LibpcapReader::Open::open_failed);
}

}  // namespace
}  // namespace zm

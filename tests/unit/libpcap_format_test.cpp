// Standard capture files: written with the writer, read back through libpcap; damaged files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "media/libpcap_format.h"
#include "media/media.h"
#include "support.h"

namespace zm {
namespace {

std::string scratch(const std::string& name) { return zm_test::scratch("libpcap_" + name); }

struct Frame {
    uint32_t len, sec, usec, direction, trunc;
};
const Frame kFrames[] = {{60, 1700000000, 123456, DIR_RX, 0}, {75, 1700000001, 999999, DIR_TX, 1514},
                         {14, 4000000000u, 0, DIR_NA, 0}};

// Writes kFrames (bytes counting up from the frame's index) into `path`.
void write_frames(const std::string& path) {
    LibpcapWriter w;
    std::string why;
    ASSERT_TRUE(w.open(path, kLinkEthernet, "veth-test0", &why)) << why;
    for (size_t i = 0; i < std::size(kFrames); ++i) {
        PacketBuffer* b = buffer_alloc(2048);
        b->append(kFrames[i].len);
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

// Checks that `b` is frame i of kFrames, then releases it.
void expect_frame(PacketBuffer* b, size_t i, bool with_direction) {
    ASSERT_TRUE(b && !is_end_of_input(b)) << i;
    const Frame& f = kFrames[i];
    EXPECT_EQ(std::make_tuple(b->frame, b->length(), b->sec, b->usec, b->trunc_len, b->direction),
              std::make_tuple(uint32_t(i + 1), f.len, f.sec, f.usec, f.trunc, with_direction ? f.direction : DIR_NA));
    for (uint32_t k = 0; k < f.len; ++k) ASSERT_EQ(b->data()[k], static_cast<uint8_t>(i + k));
    buffer_free(b);
}

// Both formats round-trip every field the buffer holds; pcapng also keeps
// the direction, in either byte order (editcap rewrites the blocks in this
// host's little-endian order). Fetch re-reads any frame read so far.
class LibpcapFormat : public zm_test::ReaderTest {};

TEST_F(LibpcapFormat, WrittenFilesReadBack) {
    std::vector<std::string> paths = {scratch("round.pcap"), scratch("round.pcapng")};
    for (const std::string& path : paths) write_frames(path);
    if (std::system(("editcap -F pcapng " + paths[1] + " " + scratch("round_le.pcapng") + " 2>/dev/null").c_str()) == 0)
        paths.push_back(scratch("round_le.pcapng"));
    for (const std::string& path : paths) {
        bool ng = libpcap_wants_pcapng(path);
        LibpcapReader r;
        std::string why;
        ASSERT_EQ(r.open(path, &why), LibpcapReader::Open::ok) << why;
        EXPECT_EQ(r.link_type(), kLinkEthernet);
        EXPECT_EQ(r.is_pcapng(), ng);
        for (size_t i = 0; i < std::size(kFrames); ++i) expect_frame(r.read(&pool_), i, ng);
        EXPECT_TRUE(is_end_of_input(r.read(&pool_)));
        EXPECT_TRUE(is_end_of_input(r.read(&pool_)));
        expect_frame(r.fetch(&pool_, 2), 1, ng);
        EXPECT_EQ(r.fetch(&pool_, 4), nullptr);
        EXPECT_EQ(r.fetch(&pool_, 0), nullptr);
    }
}

// A frame larger than the pool's buffers is skipped with a Warning and
// reading goes on; a file cut inside a record ends with a Warning.
TEST_F(LibpcapFormat, OversizedFramesAndCutFiles) {
    std::string path = scratch("cut.pcap");
    write_frames(path);
    Pool small;
    pool_init(&small, 60);  // 64 bytes of room: frame 2 does not fit
    for (bool cut : {false, true}) {
        if (cut) {
            ASSERT_EQ(truncate(path.c_str(), 24 + 16 + 60 + 16 + 75 + 16 + 5), 0);
        }
        LibpcapReader r;
        std::string why;
        ASSERT_EQ(r.open(path, &why), LibpcapReader::Open::ok);
        ReportCapture cap;
        expect_frame(r.read(&small), 0, false);
        EXPECT_EQ(r.read(&small), nullptr);
        EXPECT_TRUE(cap.contains("frame 2 of 75 bytes does not fit"));
        if (cut) {
            EXPECT_TRUE(is_end_of_input(r.read(&small)));
            EXPECT_TRUE(cap.contains("reading stops"));
        } else {
            expect_frame(r.read(&small), 2, false);
        }
    }
    pool_destroy(&small);
}

}  // namespace
}  // namespace zm

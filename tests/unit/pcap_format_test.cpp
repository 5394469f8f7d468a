// Fixed-slot capture files: written here byte by byte or with the writer, then read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/bits.h"
#include "core/bytes.h"
#include "core/buffer.h"
#include "core/report.h"
#include "media/media.h"
#include "media/pcap.h"
#include "support.h"

namespace zm {
namespace {

using zm_test::get_file;
using zm_test::put_file;
using zm_test::TimeZone;
std::string scratch(const std::string& name) { return zm_test::scratch("pcap_" + name); }


// A small fixed-slot file writer: header fields, then records of `slot`
// payload bytes, each frame's bytes counting up from its index.
struct FileSpec {
    uint32_t magic = kPcapMagic, version = 1, link = 1, offset = kPcapTimeOffset;
    uint32_t rec_hdr = 16, slot = 64, count = 0;
};
struct Rec {
    uint32_t secs = 100000, fraction = 0, dir = 1;
    uint16_t wire = 0, cap = 0;  // wire 0: same as cap
};
std::vector<uint8_t> make_file(const FileSpec& f, const std::vector<Rec>& recs) {
    const uint32_t rec_size = f.rec_hdr + f.slot;
    std::vector<uint8_t> v(32 + recs.size() * rec_size, 0);
    ByteWriter w(v.data(), v.size());
    for (uint32_t x : {f.magic, f.version, f.link, f.offset, f.rec_hdr, rec_size, f.count, 0u}) w.u32(x);
    for (size_t i = 0; i < recs.size(); ++i) {
        const Rec& r = recs[i];
        ByteWriter rec(&v[32 + i * rec_size], rec_size);
        for (uint32_t x : {r.secs, r.fraction, r.dir}) rec.u32(x);
        rec.u16(r.wire ? r.wire : r.cap);
        rec.u16(r.cap);
        for (uint16_t k = 0; k < r.cap && k < f.slot; ++k) v[32 + i * rec_size + f.rec_hdr + k] = static_cast<uint8_t>(i + k);
    }
    return v;
}

class PcapFile : public zm_test::ReaderTest {
protected:
    PacketBuffer* packet(uint32_t len, uint32_t sec, uint32_t usec, uint32_t dir = DIR_RX, uint32_t trunc = 0) {
        PacketBuffer* b = pool_get(&pool_);
        for (uint32_t i = 0; i < len; ++i) b->data()[i] = static_cast<uint8_t>(i * 7 + len);
        b->append(len);
        b->sec = sec;
        b->usec = usec;
        b->direction = dir;
        b->trunc_len = trunc;
        return b;
    }
};

TEST_F(PcapFile, WriterLayout) {
    std::string path = scratch("layout");
    PcapWriter w;
    ASSERT_TRUE(w.open(path));
    w.add(packet(60, 1700000000, 250000, DIR_TX));
    w.add(packet(100, 1700000001, 0, DIR_NA, 1518));
    w.add(packet(64, 1700000002, 999992, DIR_RX));
    ASSERT_TRUE(w.finish(pcap_link_type_for("ENET_HDR")));

    std::vector<uint8_t> bytes = get_file(path);
    ASSERT_EQ(bytes.size(), 32u + 3 * 144);
    EXPECT_EQ(zm_test::each(std::vector<int>{0, 4, 8, 12, 16, 20, 24}, [&](int i) { return get_net32(&bytes[i]); }),
              (std::vector<uint32_t>{kPcapMagic, 1, 1, 43200, 16, 144, 3}));
    // Directions: TX stays 2, NA and RX become 1. The 60-byte frame is padded.
    EXPECT_EQ(get_net32(&bytes[32 + 8]), 2u);
    EXPECT_EQ(get_net32(&bytes[32 + 144 + 8]), 1u);
    EXPECT_EQ(get_net16(&bytes[32 + 144 + 12]), 1518u);
    EXPECT_EQ(get_net16(&bytes[32 + 144 + 14]), 100u);
    for (size_t i = 32 + 16 + 60; i < 32 + 144; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(PcapTime, RoundTripKeepsEveryDateInSeveralZones) {
    // Times chosen around the century and leap days; 2000 onwards must not
    // come back a hundred years early.
    const uint32_t stamps[] = {
        86400 * 365,  // 1971
        315532800,    // 1980-01-01
        946684799,    // 1999-12-31 23:59:59 UTC
        946684800,    // 2000-01-01
        951782400,    // 2000-02-29
        1078012800,   // 2004-02-29
        1719792000,   // 2024-07-01
        2082758399,   // 2035-12-31 23:59:59 UTC
    };
    // Microseconds beyond what the fraction holds clamp to its last step instead of wrapping.
    const std::pair<uint32_t, uint32_t> usecs[] = {{123456, 123456}, {999992, 999992}, {999993, 999992}, {5000000, 999992}};
    for (const char* tz : {"UTC", "Asia/Tokyo", "America/New_York", "Europe/Berlin"}) {
        TimeZone zone(tz);
        for (uint32_t t : stamps) {
            for (auto [u, want] : usecs) {
                uint32_t fs = 0, frac = 0, sec = 0, usec = 0;
                pcap_time_to_file(t, u, &fs, &frac);
                pcap_time_from_file(fs, frac, kPcapTimeOffset, &sec, &usec);
                EXPECT_EQ(std::make_tuple(sec, usec), std::make_tuple(t, want)) << tz << " " << t << " " << u;
            }
        }
    }
}

TEST_F(PcapFile, ReaderTimesAcrossDaylightSavingChanges) {
    // Records every 7 minutes through both 2024 changes in Berlin: the reader
    // (which converts local time once per hour) must agree with the exact
    // conversion, and times outside the repeated hour must round-trip.
    TimeZone zone("Europe/Berlin");
    std::string path = scratch("dst");
    PcapWriter w;
    ASSERT_TRUE(w.open(path));
    std::vector<uint32_t> stamps;
    for (uint32_t start : {1711843200u, 1729990800u})  // 2024-03-31 00:00 UTC, 2024-10-27 01:00 UTC
        for (uint32_t t = start - 3 * 3600; t < start + 4 * 3600; t += 420) stamps.push_back(t);
    for (uint32_t t : stamps) w.add(packet(20, t, 1));
    ASSERT_TRUE(w.finish(1));
    PcapReader r;
    ASSERT_EQ(r.open(path), PcapOpenResult::ok);
    auto got = read_all(r, 1000);
    ASSERT_EQ(got.size(), stamps.size());
    std::vector<uint8_t> bytes = get_file(path);
    for (size_t i = 0; i < got.size(); ++i) {
        const uint8_t* rec = &bytes[32 + i * (32 + 16)];
        uint32_t exact = 0, usec = 0;
        pcap_time_from_file(get_net32(rec), get_net32(rec + 4), kPcapTimeOffset, &exact, &usec);
        EXPECT_EQ(got[i]->sec, exact) << stamps[i];
        if (stamps[i] < 1729990800u - 3600 || stamps[i] >= 1729990800u + 3600) {  // outside the repeated hour
            EXPECT_EQ(got[i]->sec, stamps[i]);
        }
    }
}

TEST_F(PcapFile, WriterReleasesBuffersAsItGoes) {
    std::string path = scratch("flat");
    PcapWriter w;
    ASSERT_TRUE(w.open(path));
    buffer_free(pool_get(&pool_));  // the pool's first block
    uint64_t blocks = pool_blocks_allocated();
    for (uint32_t i = 0; i < 1000; ++i) w.add(packet(1 + i % 200, 1700000000 + i, i));
    EXPECT_EQ(pool_blocks_allocated(), blocks);  // every buffer went back to the pool
    ASSERT_TRUE(w.finish(1));
    PcapReader r;
    ASSERT_EQ(r.open(path), PcapOpenResult::ok);
    EXPECT_EQ(r.header().record_size, 224u + 16);  // longest 200, rounded up to 224
    auto got = read_all(r, 2000);
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(got[999]->length(), 1 + 999u % 200);
    EXPECT_EQ(got[999]->data()[3], static_cast<uint8_t>(3 * 7 + 1 + 999 % 200));
    EXPECT_EQ(got[999]->usec, 999u);
}

TEST_F(PcapFile, TimesOutsideTheFileOrABufferAreClampedWithAWarning) {
    TimeZone zone("UTC");
    ReportCapture cap;
    std::string path = scratch("late");
    PcapWriter w;
    ASSERT_TRUE(w.open(path));
    w.add(packet(20, 2114380800, 0));  // 2037-01-01: past the file's last second
    w.add(packet(20, 2082758399, 0));  // 2035-12-31 23:59:59: still held
    ASSERT_TRUE(w.finish(1));
    EXPECT_TRUE(cap.contains("packet 1 is stamped after the last time the file holds (2036)"));
    EXPECT_FALSE(cap.contains("packet 2"));
    std::vector<uint8_t> bytes = get_file(path);
    EXPECT_EQ(get_net32(&bytes[32]), 0xFFFFFFFFu);

    // Seconds that stand for 1950 and 1960: kept as the earliest time a
    // buffer holds, never replaced by the time of reading; one warning.
    put_file(path, make_file({.count = 2}, {{.secs = 1577880000, .cap = 10}, {.secs = 1893456000, .cap = 10}}));
    PcapReader r;
    ASSERT_EQ(r.open(path), PcapOpenResult::ok);
    auto got = read_all(r);
    EXPECT_EQ(zm_test::each(got, [](PacketBuffer* b) { return b->sec; }), (std::vector<uint32_t>{1, 1}));
    EXPECT_TRUE(cap.contains("record 1 is stamped outside the times a packet holds (1970 to 2106)"));
    EXPECT_FALSE(cap.contains("record 2 is stamped"));
}

// A short header, a bad magic and version 2 are refused with their messages in the script tests.
TEST_F(PcapFile, HeaderLayoutAndRecordCount) {
    std::vector<uint8_t> tiny_record = make_file({}, {});
    put_net32(&tiny_record[20], 12);  // record size below its header size
    const std::vector<Rec> five(5, Rec{.cap = 20});
    // A count below the records ends reading there; one beyond the file ends at its end.
    const std::tuple<const char*, std::vector<uint8_t>, PcapOpenResult, size_t> cases[] = {
        {"small_rec_hdr", make_file({.rec_hdr = 8}, {}), PcapOpenResult::bad_layout, 0},
        {"tiny_record", tiny_record, PcapOpenResult::bad_layout, 0},
        {"does_not_exist", {}, PcapOpenResult::open_failed, 0},
        {"count_below", make_file({.count = 3}, five), PcapOpenResult::ok, 3},
        {"count_beyond", make_file({.count = 1000000}, {five[0], five[1]}), PcapOpenResult::ok, 2},
    };
    for (const auto& [name, bytes, want, frames] : cases) {
        if (!bytes.empty()) put_file(scratch(name), bytes);
        PcapReader r;
        EXPECT_EQ(r.open(scratch(name)), want) << name;
        EXPECT_EQ(read_all(r).size(), frames) << name;
    }
}

TEST_F(PcapFile, MalformedRecordsAreSkippedOrEndInput) {
    ReportCapture cap;
    Pool small;
    pool_init(&small, 50);
    std::vector<uint8_t> bytes = make_file({.slot = 128, .count = 5}, {
        {.cap = 20},
        {.cap = 200},  // longer than its 128-byte slot
        {.cap = 100},  // longer than the buffers
        {.cap = 30},
        {.cap = 40},
    });
    bytes.resize(bytes.size() - 144 + 16 + 10);  // last record: header and 10 of its 40 bytes
    std::string path = scratch("malformed");
    put_file(path, bytes);
    PcapReader r;
    ASSERT_EQ(r.open(path), PcapOpenResult::ok);
    std::vector<PacketBuffer*> got;
    for (PacketBuffer* b; !is_end_of_input(b = r.read(&small));) got.push_back(b);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1], nullptr);
    EXPECT_EQ(got[2], nullptr);
    ASSERT_TRUE(got[0] && got[3]);
    EXPECT_EQ(got[3]->frame, 4u);  // skipped records keep their numbers
    EXPECT_EQ(got[3]->length(), 30u);
    EXPECT_EQ(r.fetch(&small, 3), nullptr);
    EXPECT_TRUE(cap.contains("record 2 holds 200 bytes in a slot of 128"));
    EXPECT_TRUE(cap.contains("bad maxmtu size")); EXPECT_TRUE(cap.contains("for frame size 100"));
    EXPECT_TRUE(cap.contains("record 5 is cut short"));
    buffer_free(got[0]);
    buffer_free(got[3]);
    pool_destroy(&small);
}

TEST_F(PcapFile, FetchRereadsWithoutMovingTheReader) {
    // A longer record header is allowed; its extra bytes are ignored.
    std::string path = scratch("fetch");
    put_file(path, make_file({.rec_hdr = 24, .count = 4}, std::vector<Rec>(4, Rec{200000, 4295 * 7, 1, 0, 30})));
    PcapReader r;
    ASSERT_EQ(r.open(path), PcapOpenResult::ok);
    auto two = read_all(r, 2);
    ASSERT_EQ(two.size(), 2u);
    PacketBuffer* second = two[1];
    EXPECT_EQ(r.fetch(&pool_, 0), nullptr);
    EXPECT_EQ(r.fetch(&pool_, 3), nullptr);  // not read yet
    PacketBuffer* again = r.fetch(&pool_, 2);
    ASSERT_NE(again, nullptr);
    held_.push_back(again);
    EXPECT_EQ(std::make_tuple(again->frame, again->usec, again->sec), std::make_tuple(2u, 7u, second->sec));
    ASSERT_EQ(again->length(), second->length());
    EXPECT_EQ(0, memcmp(again->data(), second->data(), again->length()));
    auto rest = read_all(r, 1);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0]->frame, 3u);
    EXPECT_EQ(rest[0]->data()[0], 2);
}

}  // namespace
}  // namespace zm

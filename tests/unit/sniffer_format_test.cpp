// Sniffer capture files: built record by record here or with the writer, then read back.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/report.h"
#include "media/capture_io.h"
#include "media/media.h"
#include "media/sniffer.h"
#include "support.h"

namespace zm {
namespace {

using zm_test::get_file;
using zm_test::put_file;
using zm_test::TimeZone;
std::string scratch(const std::string& name) { return zm_test::scratch("sniffer_" + name); }

// A Sniffer file under construction: the magic, then records appended in order.
struct SnifferBytes {
    std::vector<uint8_t> v{kSnifferMagic, kSnifferMagic + kSnifferMagicSize};
    // The words as little-endian bytes.
    static std::vector<uint8_t> le16(std::initializer_list<uint16_t> words) {
        std::vector<uint8_t> b;
        for (uint16_t w : words) b.insert(b.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
        return b;
    }
    SnifferBytes& record(uint16_t type, const std::vector<uint8_t>& body) {
        for (const auto& part : {le16({type, static_cast<uint16_t>(body.size()), 0}), body})
            v.insert(v.end(), part.begin(), part.end());
        return *this;
    }
    // Version 4.9 of 1995-06-15 08:00:00; then format 4, the network type, 1, the time unit, reserved words.
    SnifferBytes& version(uint8_t network, uint8_t unit) {
        return record(kSnifferVersionRecord,
                      le16({4, 9, sniffer_pack_time(8, 0, 0), sniffer_pack_date(1995, 6, 15),
                            static_cast<uint16_t>(network << 8 | 4), static_cast<uint16_t>(unit << 8 | 1), 0, 0, 0}));
    }
    // Ticks (low and high words), hours and days (signed bytes), length, status (flags 0), true size,
    // a reserved word, then `len` bytes of `fill`.
    SnifferBytes& frame(uint32_t ticks, int8_t hours, int8_t days, uint16_t len, uint8_t status = 0,
                        int16_t true_size = 0, uint8_t fill = 0xAB) {
        std::vector<uint8_t> b = le16({static_cast<uint16_t>(ticks), static_cast<uint16_t>(ticks >> 16),
                                       static_cast<uint16_t>(static_cast<uint8_t>(days) << 8 | static_cast<uint8_t>(hours)),
                                       len, status, static_cast<uint16_t>(true_size), 0});
        b.insert(b.end(), len, fill);
        return record(kSnifferFrameRecord, b);
    }
    SnifferBytes& eof() { return record(kSnifferEofRecord, {}); }
};

using zm_test::each;
using Buffers = std::vector<PacketBuffer*>;
auto secs(const Buffers& v) { return each(v, [](PacketBuffer* b) { return int64_t{b->sec}; }); }
auto dirs(const Buffers& v) { return each(v, [](PacketBuffer* b) { return b->direction; }); }

// A frame for the writer: its length, time and direction.
struct Out {
    uint32_t len, sec, usec = 0, dir = DIR_NA;
};

class SnifferFile : public zm_test::ReaderTest {
protected:
    // Opens the file; the reader must accept it.
    void open(SnifferReader& r, const std::string& path) { ASSERT_EQ(r.open(path), SnifferOpenResult::ok); }
    void open(SnifferReader& r, const SnifferBytes& bytes, const std::string& name) {
        put_file(scratch(name), bytes.v);
        open(r, scratch(name));
    }
    // Writes the frames (frame i filled with 0x40 + i) through the writer.
    void write(const std::string& path, const char* base, const std::vector<Out>& frames) {
        SnifferWriter w;
        ASSERT_TRUE(w.open(path));
        for (size_t i = 0; i < frames.size(); ++i) {
            PacketBuffer* b = pool_get(&pool_);
            b->append(frames[i].len);
            std::memset(b->data(), 0x40 + static_cast<int>(i), frames[i].len);
            std::tie(b->sec, b->usec, b->direction) = std::tie(frames[i].sec, frames[i].usec, frames[i].dir);
            EXPECT_TRUE(w.write(b, base));
            buffer_free(b);
        }
        ASSERT_TRUE(w.finish());
    }
};

TEST_F(SnifferFile, TickTimeAndVersionRecord) {
    TimeZone zone("UTC");
    ReportCapture cap;
    SnifferReader r;
    SnifferBytes f;
    f.version(1, 1).frame(1193180, 1, 0, 60).frame(0, 0, 2, 60).frame(0, -1, 0, 60).eof();
    open(r, f, "ticks");
    int64_t midnight = 803174400;  // 1995-06-15 00:00 UTC
    EXPECT_EQ(r.start_midnight(), midnight);
    EXPECT_EQ(r.start_time(), midnight + 8 * 3600);
    EXPECT_TRUE(cap.contains("Sniffer file: MajorVersion 4 MinorVersion 9"));
    EXPECT_TRUE(cap.contains("Network type is: 1 == ENET"));
    auto got = read_all(r);
    ASSERT_EQ(got.size(), 3u);
    // 1193180 ticks of 0.838 µs are one second; hours are signed.
    EXPECT_EQ(secs(got), (std::vector<int64_t>{midnight + 3601, midnight + 2 * 86400, midnight - 3600}));
    EXPECT_EQ(got[0]->usec, 0u);
    EXPECT_EQ(std::make_tuple(got[0]->length(), got[0]->data()[59]), std::make_tuple(60u, uint8_t{0xAB}));
}

TEST_F(SnifferFile, TimeUnits) {
    TimeZone zone("UTC");
    // Time unit and ticks; the seconds past midnight and microseconds they stand for; unknown unit.
    const std::tuple<uint8_t, uint32_t, uint32_t, uint32_t, bool> cases[] = {
        {2, 100000, 1, 500000, false},  // 15 µs ticks
        {3, 3000001, 1, 500000, false},  // 0.5 µs
        {4, 1000000, 2, 0, false},       // 2 µs
        {0, 2500000, 2, 500000, true},   // unspecified: 1 µs and a Fault
        {9, 2500000, 2, 500000, true},
    };
    for (auto [unit, ticks, sec_offset, usec, fault] : cases) {
        ReportCapture cap;
        SnifferReader r;
        SnifferBytes f;
        f.version(1, unit).frame(ticks, 0, 0, 20);
        open(r, f, "unit");
        EXPECT_EQ(cap.contains("sniffer file: UNSPEC/unknown timeunit"), fault) << int{unit};
        auto got = read_all(r);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0]->sec, r.start_midnight() + sec_offset) << int{unit};
        EXPECT_EQ(got[0]->usec, usec) << int{unit};
    }
}

TEST_F(SnifferFile, DirectionAndTrueSize) {
    SnifferReader sync, enet;
    SnifferBytes s;
    s.version(kSnifferSyncNetwork, 1).frame(0, 0, 0, 64, 0x80, 1518).frame(0, 0, 0, 64, 0x00, -1).frame(0, 0, 0, 64, 0x81, 64);
    open(sync, s, "sync");
    auto got = read_all(sync);
    EXPECT_EQ(dirs(got), (std::vector<uint32_t>{DIR_TX, DIR_RX, DIR_RX}));
    // A negative true size carries nothing, nor one equal to the length.
    EXPECT_EQ(each(got, [](PacketBuffer* b) { return b->trunc_len; }), (std::vector<uint32_t>{1518, 0, 0}));

    SnifferBytes e;
    e.version(1, 1).frame(0, 0, 0, 64, 0x80);
    open(enet, e, "enet");
    EXPECT_EQ(dirs(read_all(enet)), std::vector<uint32_t>{DIR_NA});
}

TEST_F(SnifferFile, CompressionMarker) {
    // A record type outside 0..4 after the marker means a compressed file: it opens but yields nothing.
    for (uint16_t follower : {uint16_t{0xFFFF}, uint16_t{5}, uint16_t{0x1234}, kSnifferFrameRecord}) {
        bool compressed = follower != kSnifferFrameRecord;
        ReportCapture cap;
        SnifferReader r;
        SnifferBytes f;
        f.version(1, 1).record(kSnifferMarkerRecord, {0, 0, 0, 0});
        if (compressed) f.record(follower, {9, 9});
        f.frame(0, 0, 0, 10).frame(0, 0, 0, 11).eof();
        open(r, f, "marker");
        EXPECT_EQ(r.compressed(), compressed) << follower;
        EXPECT_TRUE(cap.contains(compressed ? "Failed to open Compressed Sniffer file" : "UnCompressed"));
        EXPECT_EQ(read_all(r).size(), compressed ? 0u : 2u) << follower;
    }
}

TEST_F(SnifferFile, OpenRefusals) {
    std::vector<uint8_t> bad_magic = SnifferBytes().v;
    bad_magic[16] = 0x1B;
    // Name, bytes (none: the file does not exist), what the open says.
    const std::tuple<const char*, std::vector<uint8_t>, SnifferOpenResult> cases[] = {
        {"eof_first", SnifferBytes().eof().frame(0, 0, 0, 10).v, SnifferOpenResult::no_frames},
        {"short_version", SnifferBytes().record(kSnifferVersionRecord, std::vector<uint8_t>(10, 0)).frame(0, 0, 0, 10).v,
         SnifferOpenResult::bad_version_record},
        {"bad_magic", bad_magic, SnifferOpenResult::not_sniffer},
        {"short_magic", std::vector<uint8_t>(kSnifferMagic, kSnifferMagic + 10), SnifferOpenResult::not_sniffer},
        {"no_such_file", {}, SnifferOpenResult::open_failed},
        // Magic alone: nothing to read, but nothing wrong either.
        {"magic_only", SnifferBytes().v, SnifferOpenResult::ok},
    };
    ReportCapture cap;
    for (const auto& [name, bytes, want] : cases) {
        if (!bytes.empty()) put_file(scratch(name), bytes);
        SnifferReader r;
        EXPECT_EQ(r.open(scratch(name)), want) << name;
        EXPECT_EQ(read_all(r).size(), 0u) << name;
    }
}

TEST_F(SnifferFile, MalformedFramesAreSkippedOrEndInput) {
    ReportCapture cap;
    Pool small;
    pool_init(&small, 100);
    SnifferReader r;
    SnifferBytes f;
    f.version(1, 1)
        .record(kSnifferFrameRecord, {1, 2, 3})  // body shorter than a frame header
        .record(99, {1, 2, 3, 4})                // unknown record type
        .frame(0, 0, 0, 500)                     // too large for the buffers
        .frame(0, 0, 0, 40, 0, 0, 0x11)
        .frame(0, 0, 0, 40);
    f.v.resize(f.v.size() - 20);  // the last frame is cut short
    open(r, f, "malformed");
    PacketBuffer* b = r.read(&small);
    ASSERT_NE(b, nullptr);
    ASSERT_FALSE(is_end_of_input(b));
    EXPECT_EQ(std::make_tuple(b->frame, b->length(), b->data()[0]), std::make_tuple(1u, 40u, uint8_t{0x11}));
    EXPECT_TRUE(is_end_of_input(r.read(&small)));
    EXPECT_TRUE(cap.contains("shorter than a frame header"));
    EXPECT_TRUE(cap.contains("bad maxmtu size for frame size"));
    EXPECT_TRUE(cap.contains("frame 2 is cut short by the end of the file"));
    buffer_free(b);
    pool_destroy(&small);
}

TEST_F(SnifferFile, FetchByIndex) {
    SnifferReader r;
    SnifferBytes f;
    f.version(1, 1).frame(100, 0, 0, 20, 0, 0, 1).record(99, {0}).frame(200, 0, 0, 30, 0, 0, 2).frame(300, 0, 0, 40, 0, 0, 3);
    open(r, f, "fetch");
    auto got = read_all(r, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(r.fetch(&pool_, 0), nullptr);
    EXPECT_EQ(r.fetch(&pool_, 3), nullptr);
    PacketBuffer* again = r.fetch(&pool_, 2);
    ASSERT_NE(again, nullptr);
    held_.push_back(again);
    EXPECT_EQ(std::make_tuple(again->frame, again->length(), again->sec, again->usec),
              std::make_tuple(2u, 30u, got[1]->sec, got[1]->usec));
    // Fetching leaves the reader where it was.
    auto rest = read_all(r);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(std::make_tuple(rest[0]->frame, rest[0]->data()[0]), std::make_tuple(3u, uint8_t{3}));
}

TEST_F(SnifferFile, WriterLayoutAndRoundTrip) {
    for (const char* tz : {"UTC", "Europe/Berlin"}) {
        TimeZone zone(tz);
        // 10:30:15.250000 local time on a day before and one after 2000.
        for (int year : {1996, 2024}) {
            std::string path = scratch("written");
            auto t = static_cast<uint32_t>(local_epoch_seconds(year - 1900, 6, 3, 10, 30, 15));
            write(path, "ENET_HDR", {{60, t, 250000}, {61, t + 86400, 250000}});

            // The version record (ENET, PC ticks) and the first frame's record
            // header: 1815.25 s of ticks past the hour, hour 10, day 0.
            std::vector<uint8_t> v = get_file(path);
            ASSERT_EQ(v.size(), 17u + 24 + (20 + 60) + (20 + 61) + 6);
            EXPECT_EQ(0, memcmp(v.data(), kSnifferMagic, 17));
            const uint8_t* ver = &v[17];
            EXPECT_EQ(each(std::vector<int>{0, 2, 6, 8, 10, 12}, [&](int i) { return get_little16(ver + i); }),
                      (std::vector<uint16_t>{1, 18, 4, 9, sniffer_pack_time(10, 30, 15),
                                             sniffer_pack_date(year, 7, 3)}));
            EXPECT_EQ(ver[6 + 9] * 256 + ver[6 + 11], 0x101);
            const uint8_t* fr = &v[17 + 24];
            EXPECT_EQ(get_little16(fr) * 65536 + get_little16(fr + 2), 4 * 65536 + 74);
            uint32_t ticks = get_little16(fr + 6) | (uint32_t{get_little16(fr + 8)} << 16);
            EXPECT_EQ(ticks, (1815ull * 1000000 + 250000) * 1193180 / 1000000);
            EXPECT_EQ(std::make_tuple(fr[6 + 4], fr[6 + 5], fr[80 + 6 + 5]), std::make_tuple(10, 0, 1));
            EXPECT_EQ(get_little16(&v[v.size() - 6]), 3);

            SnifferReader r;
            open(r, path);
            EXPECT_EQ(r.start_time(), t - 1);  // the packed time keeps even seconds
            auto got = read_all(r);
            EXPECT_EQ(secs(got), (std::vector<int64_t>{t, t + 86400})) << tz << year;
            EXPECT_EQ(each(got, [](PacketBuffer* b) { return b->length(); }), (std::vector<uint32_t>{60, 61}));
            for (PacketBuffer* b : got) EXPECT_NEAR(b->usec, 250000.0, 1.0);
        }
    }
}

TEST_F(SnifferFile, WriterTimesAtTheEdgesOfTheFormat) {
    TimeZone zone("UTC");
    ReportCapture cap;
    // The last 0.41 s of an hour, where the tick count no longer fits: later
    // frames never read back earlier than the ones before them.
    const uint32_t late = 1719799199;  // 2024-07-01 01:59:59
    write(scratch("late"), "ENET_HDR", {{20, late, 0}, {20, late, 500000}, {20, late, 600000}, {20, late, 999999}});
    EXPECT_TRUE(cap.contains("frame 3 falls after the last tick of its hour; its time is clamped"));
    EXPECT_TRUE(cap.contains("frame 4 falls after the last tick of its hour"));
    EXPECT_FALSE(cap.contains("frame 2 falls"));
    SnifferReader r;
    open(r, scratch("late"));
    auto got = read_all(r);
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(got[i]->sec, late) << i;
        EXPECT_GE(got[i]->usec, got[i - 1]->usec) << i;
    }
    EXPECT_GE(got[3]->usec, 597000u);

    // A first frame from 1975, before the first year a start date holds.
    write(scratch("early"), "ENET_HDR", {{20, 163123200}});
    EXPECT_TRUE(cap.contains("the first frame is from 1975, outside the years the file holds (1980 to 2107)"));
    SnifferReader early;
    open(early, scratch("early"));
    EXPECT_EQ(early.start_time(), 315532800);  // 1980-01-01, the date the file says
    EXPECT_EQ(read_all(early).size(), 1u);
}

TEST_F(SnifferFile, WriterMarksTransmittedFramesOnSync) {
    // The last buffer is unstamped: it gets the time it was written at.
    write(scratch("sync_written"), "PPP_HDR",
          {{30, 1700000000, 0, DIR_TX}, {30, 1700000000, 0, DIR_RX}, {30, 1700000000, 0, DIR_NA}, {30, 0}});
    SnifferReader r;
    open(r, scratch("sync_written"));
    EXPECT_EQ(r.network_type(), kSnifferSyncNetwork);
    auto got = read_all(r);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(dirs(got), (std::vector<uint32_t>{DIR_TX, DIR_RX, DIR_RX, DIR_RX}));
    EXPECT_GT(got[3]->sec, 1700000000u);
}

}  // namespace
}  // namespace zm

// The fixed-slot capture format: header checks, record reading and fetching, writing, probing.
#include "media/pcap.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/report.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/pcap";

// Cumulative days at the start of each month of a four-year cycle that begins
// with a leap year; the last entry closes the cycle.
constexpr std::array<int, 49> kCycleDays = [] {
    constexpr int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::array<int, 49> c{};
    int total = 0;
    for (int i = 0; i < 48; ++i) {
        c[static_cast<size_t>(i)] = total;
        int days = month_days[i % 12];
        if (i == 1) days = 29;  // February of the cycle's first year
        total += days;
    }
    c[48] = total;
    return c;
}();
static_assert(kCycleDays[1] == 31 && kCycleDays[2] == 60 && kCycleDays[47] == 1430 && kCycleDays[48] == 1461);

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

struct LinkRow {
    uint32_t type;
    std::vector<std::string> candidates;
};
const std::vector<LinkRow>& link_table() {
    static const std::vector<LinkRow> rows = {
        {1, {"ENET_HDR"}},
        {2, {"TRING_HDR"}},
        {3, {"FDDI_HDR"}},
        {6, {"PPP_HDR"}},
        {9, {"ATM30_PCAP_HDR", "ATM31_PCAP_HDR"}},
        {10, {"FR_NLPID_ROUTED_HDR", "FR_FDDI_HDR", "FR_LLC2_HDR"}},
    };
    return rows;
}

}  // namespace

uint32_t pcap_link_type_for(const std::string& base_node) {
    if (base_node == "ENET_HDR") return 1;
    if (base_node == "TRING_HDR") return 2;
    if (base_node == "FDDI_HDR") return 3;
    if (base_node == "SYNC_HDR" || base_node == "PPP_HDR") return 6;
    if (base_node.rfind("ATM", 0) == 0) return 9;
    if (base_node.rfind("FR", 0) == 0) return 10;
    return 0;
}

std::vector<std::string> pcap_link_candidates(uint32_t link_type) {
    for (const LinkRow& row : link_table())
        if (row.type == link_type) return row.candidates;
    return {};
}

namespace {

// Seconds since the epoch of a local civil time given as seconds since
// 1900-01-01 00:00 in four-year-cycle arithmetic.
int64_t civil_to_epoch(int64_t t) {
    int64_t d = floor_div(t, 86400);
    int64_t r = t - d * 86400;
    int64_t cycle = floor_div(d, 1461);
    int c = static_cast<int>(d - cycle * 1461);
    // i = entries of the table <= c (1 .. 48, since c < 1461).
    int i = static_cast<int>(std::upper_bound(kCycleDays.begin(), kCycleDays.end(), c) - kCycleDays.begin());
    int64_t year = 4 * cycle + (i - 1) / 12;
    int month = (i - 1) % 12 + 1;
    int day = c - kCycleDays[static_cast<size_t>(i - 1)] + 1;
    int hour = static_cast<int>(r / 3600), minute = static_cast<int>((r % 3600) / 60), second = static_cast<int>(r % 60);
    return local_epoch_seconds(static_cast<int>(year), month - 1, day, hour, minute, second);
}

}  // namespace

bool pcap_time_from_file(uint32_t file_secs, uint32_t fraction, uint32_t time_offset, uint32_t* sec,
                         uint32_t* usec) {
    bool clamped = false;
    *sec = buffer_seconds(civil_to_epoch(int64_t{file_secs} - int64_t{time_offset}), &clamped);
    *usec = fraction / kPcapFractionPerUsec;
    return !clamped;
}

uint32_t PcapReader::HourCache::seconds(uint32_t file_secs, uint32_t time_offset, bool* clamped) {
    int64_t t = int64_t{file_secs} - int64_t{time_offset};
    int64_t h = floor_div(t, 3600);
    if (h != hour) {
        // Local time changes (daylight saving) fall on whole hours, so one
        // conversion per hour of capture serves every record in it.
        hour = h;
        epoch = civil_to_epoch(h * 3600);
    }
    return buffer_seconds(epoch + (t - h * 3600), clamped);
}

bool pcap_time_to_file(uint32_t sec, uint32_t usec, uint32_t* file_secs, uint32_t* fraction) {
    std::tm tmv = local_civil_time(sec);
    int64_t y = tmv.tm_year;
    int64_t ymod = ((y % 4) + 4) % 4;
    int64_t s = tmv.tm_sec + 60 * int64_t{tmv.tm_min} + 3600 * int64_t{tmv.tm_hour} + 86400 * int64_t{tmv.tm_mday} +
                86400 * int64_t{kCycleDays[static_cast<size_t>(tmv.tm_mon + 12 * ymod)]} + 31557600 * (y - ymod) -
                int64_t{kPcapTimeOffset};
    *file_secs = clamp_seconds(s);
    uint64_t f = uint64_t{std::min<uint32_t>(usec, 999999)} * kPcapFractionPerUsec;
    *fraction = static_cast<uint32_t>(std::min<uint64_t>(f, UINT32_MAX));
    return *file_secs == s;
}

uint32_t pcap_slot_size(uint32_t longest) { return (longest + 31) / 32 * 32; }

// ---- reading

PcapOpenResult PcapReader::open(const std::string& path) {
    path_ = path;
    clock_ = HourCache{};
    clamp_reported_ = false;
    records_read_ = 0;
    remaining_ = 0;
    header_ = PcapHeader{};
    if (!file_.open_read(path)) return PcapOpenResult::open_failed;
    uint8_t raw[kPcapHeaderSize];
    if (file_.read(raw, sizeof raw) != sizeof raw) return PcapOpenResult::short_header;
    uint32_t* fields[] = {&header_.magic,       &header_.version,           &header_.link_type,
                          &header_.time_offset, &header_.record_header_size, &header_.record_size,
                          &header_.record_count, &header_.reserved};
    for (size_t i = 0; i < 8; ++i) *fields[i] = get_net32(raw + 4 * i);
    if (header_.magic != kPcapMagic) return PcapOpenResult::bad_magic;
    if (header_.version != kPcapVersion) return PcapOpenResult::bad_version;
    // A record header must hold the 16 bytes of fields and fit in its record.
    if (header_.record_header_size < kPcapRecordHeaderSize || header_.record_size < header_.record_header_size)
        return PcapOpenResult::bad_layout;
    remaining_ = header_.record_count;
    return PcapOpenResult::ok;
}

PcapReader::RecordHeader PcapReader::parse_record_header(const uint8_t* p) {
    return {get_net32(p), get_net32(p + 4), get_net32(p + 8), get_net16(p + 12), get_net16(p + 14)};
}

uint64_t PcapReader::record_offset(uint32_t index) const {
    return uint64_t{kPcapHeaderSize} + uint64_t{index} * header_.record_size;
}

void PcapReader::fill_buffer(PacketBuffer* b, const RecordHeader& h, uint32_t frame) {
    bool clamped = false;
    b->sec = clock_.seconds(h.secs, header_.time_offset, &clamped);
    if (clamped && !clamp_reported_) {
        // Once per file: a capture from before 1970 would repeat it for every record.
        clamp_reported_ = true;
        report(interp_, kModule, __LINE__, LOG_WARNING,
               "PCAP file %s: record %u is stamped outside the times a packet holds (1970 to 2106); its time is "
               "clamped",
               path_.c_str(), frame);
    }
    b->usec = h.fraction / kPcapFractionPerUsec;
    b->frame = frame;
    b->direction = h.direction <= DIR_TX ? h.direction : DIR_RX;
    // Only a wire length beyond the captured bytes means the frame was cut.
    b->trunc_len = h.wire_len > h.cap_len ? h.wire_len : 0;
}

PacketBuffer* PcapReader::read(Pool* pool) {
    if (!file_.is_open() || remaining_ == 0) return media_end_of_input();
    PacketBuffer* b = pool_get(pool);
    if (!b) return nullptr;
    --remaining_;
    uint64_t start = record_offset(records_read_);
    uint8_t raw[kPcapRecordHeaderSize];
    file_.seek(start);
    if (file_.read(raw, sizeof raw) != sizeof raw) {
        buffer_free(b);
        remaining_ = 0;
        return media_end_of_input();
    }
    RecordHeader h = parse_record_header(raw);
    uint32_t frame = ++records_read_;
    uint32_t slot = header_.record_size - header_.record_header_size;
    if (h.cap_len > slot) {
        report(interp_, kModule, __LINE__, LOG_WARNING,
               "PCAP file %s: record %u holds %u bytes in a slot of %u; record skipped", path_.c_str(), frame,
               unsigned{h.cap_len}, slot);
        buffer_free(b);
        return nullptr;
    }
    uint32_t room = b->tailroom();
    uint16_t at = b->tail;
    if (!b->append(h.cap_len)) {
        report(interp_, kModule, __LINE__, LOG_WARNING, "PCAP file %s: bad maxmtu size %lu for frame size %u",
               path_.c_str(), static_cast<unsigned long>(room), unsigned{h.cap_len});
        buffer_free(b);
        return nullptr;
    }
    fill_buffer(b, h, frame);
    file_.seek(start + header_.record_header_size);
    if (file_.read(b->record() + at, h.cap_len) != h.cap_len) {
        report(interp_, kModule, __LINE__, LOG_WARNING, "PCAP file %s: record %u is cut short by the end of the file",
               path_.c_str(), frame);
        buffer_free(b);
        remaining_ = 0;
        return media_end_of_input();
    }
    return b;
}

PacketBuffer* PcapReader::fetch(Pool* pool, uint32_t frame) {
    if (frame == 0 || frame > records_read_ || !file_.is_open()) return nullptr;
    uint64_t start = record_offset(frame - 1);
    uint8_t raw[kPcapRecordHeaderSize];
    if (file_.read_at(start, raw, sizeof raw) != sizeof raw) return nullptr;
    RecordHeader h = parse_record_header(raw);
    if (h.cap_len > header_.record_size - header_.record_header_size) return nullptr;
    PacketBuffer* b = pool_get(pool);
    if (!b) return nullptr;
    uint16_t at = b->tail;
    if (!b->append(h.cap_len) ||
        file_.read_at(start + header_.record_header_size, b->record() + at, h.cap_len) != h.cap_len) {
        buffer_free(b);
        return nullptr;
    }
    fill_buffer(b, h, frame);
    return b;
}

// ---- writing

bool PcapWriter::open(const std::string& path) { return file_.open_write(path) && spill_.open_temporary(); }

void PcapWriter::add(PacketBuffer* buffer) {
    uint8_t rec[kPcapRecordHeaderSize];
    uint32_t secs = 0, fraction = 0;
    if (!pcap_time_to_file(buffer->sec, buffer->usec, &secs, &fraction)) {
        report(interp_, kModule, __LINE__, LOG_WARNING,
               "PCAP file: packet %u is stamped after the last time the file holds (2036); its time is clamped",
               count_ + 1);
    }
    uint32_t len = buffer->length();
    uint32_t wire = buffer->trunc_len ? std::min<uint32_t>(buffer->trunc_len, 0xFFFF) : len;
    put_net32(rec, secs);
    put_net32(rec + 4, fraction);
    put_net32(rec + 8, buffer->direction == DIR_TX ? 2 : 1);
    put_net16(rec + 12, static_cast<uint16_t>(wire));
    put_net16(rec + 14, static_cast<uint16_t>(len));
    spill_ok_ = spill_.write(rec, sizeof rec) && spill_.write(buffer->data(), len) && spill_ok_;
    ++count_;
    longest_ = std::max(longest_, len);
    buffer_free(buffer);
}

bool PcapWriter::finish(uint32_t link_type) {
    if (!file_.is_open()) return false;
    bool ok = spill_ok_ && spill_.flush();
    uint32_t slot = pcap_slot_size(longest_);
    uint8_t head[kPcapHeaderSize];
    const uint32_t fields[8] = {kPcapMagic, kPcapVersion, link_type, kPcapTimeOffset, kPcapRecordHeaderSize,
                                slot + kPcapRecordHeaderSize, count_, 0};
    for (size_t i = 0; i < 8; ++i) put_net32(head + 4 * i, fields[i]);
    ok = file_.write(head, sizeof head) && ok;
    std::vector<uint8_t> data(0xFFFF);
    spill_.seek(0);
    for (uint32_t n = 0; n < count_ && ok; ++n) {
        uint8_t rec[kPcapRecordHeaderSize];
        uint32_t len = 0;
        ok = spill_.read(rec, sizeof rec) == sizeof rec && (len = get_net16(rec + 14)) <= slot &&
             spill_.read(data.data(), len) == len;
        ok = ok && file_.write(rec, sizeof rec) && file_.write(data.data(), len) && file_.write_zeros(slot - len);
    }
    ok = file_.flush() && ok;
    file_.close();
    spill_.close();
    return ok;
}

// ---- probing

bool pcap_probe_file(const std::string& path, std::vector<std::string>* candidates) {
    CaptureFile f;
    if (!f.open_read(path)) return false;
    uint8_t raw[kPcapHeaderSize];
    if (f.read_at(0, raw, sizeof raw) != sizeof raw || get_net32(raw) != kPcapMagic) return false;
    if (candidates) *candidates = pcap_link_candidates(get_net32(raw + 8));
    return true;
}

}  // namespace zm

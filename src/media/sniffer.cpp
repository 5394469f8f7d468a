// The Sniffer capture format: pre-scan, frame reading and fetching, per-packet writing, probing.
#include "media/sniffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/report.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/sniffer";

struct NetworkRow {
    const char* name;
    const char* base_node;  // offered by the probe, "" when none
};
constexpr NetworkRow kNetworks[] = {
    {"TRING", "TRING_HDR"}, {"ENET", "ENET_HDR"}, {"ARCNET", ""}, {"STARLAN", ""},  {"PCNW", ""},
    {"LOCALTALK", ""},      {"ZNET", ""},         {"SYNC", ""},   {"UNKNOWN", ""}, {"FDDI", "FDDI_HDR"},
};
constexpr size_t kNetworkCount = sizeof kNetworks / sizeof kNetworks[0];

struct TimeUnitRow {
    const char* name;
    double tick_usec;
};
constexpr TimeUnitRow kTimeUnits[] = {
    {"Unspecified", 1.0}, {"PC = 0.0838096", 0.8380965151946899}, {"3COM = 15.0", 15.0},
    {"Micom = 0.5", 0.5}, {"Sytek = 2.0", 2.0},
};
constexpr size_t kTimeUnitCount = sizeof kTimeUnits / sizeof kTimeUnits[0];

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

const char* sniffer_network_name(uint32_t type) { return type < kNetworkCount ? kNetworks[type].name : "UNKNOWN"; }

const char* sniffer_network_base_node(uint32_t type) { return type < kNetworkCount ? kNetworks[type].base_node : ""; }

uint8_t sniffer_network_type_for(const std::string& base_node) {
    if (base_node == "TRING_HDR") return 0;
    if (base_node == "ENET_HDR") return 1;
    if (base_node == "FDDI_HDR") return 9;
    return kSnifferSyncNetwork;
}

const char* sniffer_time_unit_name(uint32_t unit) { return unit < kTimeUnitCount ? kTimeUnits[unit].name : "UNKNOWN"; }

double sniffer_tick_usec(uint32_t unit, bool* known) {
    *known = unit >= 1 && unit < kTimeUnitCount;
    return *known ? kTimeUnits[unit].tick_usec : 1.0;
}

uint16_t sniffer_pack_time(int hour, int minute, int second) {
    return static_cast<uint16_t>(hour * 2048 + minute * 32 + second / 2);
}

uint16_t sniffer_pack_date(int year, int month, int day) {
    // The format holds the years 1980 to 2107.
    int y = std::clamp(year - 1980, 0, 127);
    return static_cast<uint16_t>(y * 512 + month * 32 + day);
}

// ---- reading

SnifferOpenResult SnifferReader::open(const std::string& path) {
    path_ = path;
    index_.clear();
    compressed_ = false;
    clamp_reported_ = false;
    if (!file_.open_read(path)) return SnifferOpenResult::open_failed;
    char magic[kSnifferMagicSize];
    if (file_.read(magic, sizeof magic) != sizeof magic || std::memcmp(magic, kSnifferMagic, sizeof magic) != 0) {
        file_.close();
        return SnifferOpenResult::not_sniffer;
    }
    SnifferOpenResult result = SnifferOpenResult::ok;
    // Walk the records up to the first frame, reading by position so that
    // the sequential position stays after the magic (or after a marker).
    uint64_t pos = kSnifferMagicSize;
    for (;;) {
        uint8_t h[kSnifferRecordHeaderSize];
        if (file_.read_at(pos, h, sizeof h) != sizeof h) break;
        uint16_t type = get_little16(h);
        uint16_t len = get_little16(h + 2);
        uint64_t next = pos + kSnifferRecordHeaderSize + len;
        if (type == kSnifferVersionRecord) {
            uint8_t v[kSnifferVersionSize];
            if (len < sizeof v || file_.read_at(pos + kSnifferRecordHeaderSize, v, sizeof v) != sizeof v) {
                report(interp_, kModule, __LINE__, LOG_FAULT, "Sniffer file \"%s\" has a short version record",
                       path.c_str());
                result = SnifferOpenResult::bad_version_record;
                break;
            }
            major_ = get_little16(v);
            minor_ = get_little16(v + 2);
            report(interp_, kModule, __LINE__, LOG_INFO, "Sniffer file: MajorVersion %u MinorVersion %u",
                   unsigned{major_}, unsigned{minor_});
            network_ = v[9];
            report(interp_, kModule, __LINE__, LOG_INFO, "Network type is: %d == %s", int{network_},
                   sniffer_network_name(network_));
            uint16_t t = get_little16(v + 4), d = get_little16(v + 6);
            int year = (d >> 9) + 80, month0 = ((d >> 5) & 15) - 1, day = d & 31;
            start_time_ = local_epoch_seconds(year, month0, day, t >> 11, (t >> 5) & 63, 2 * (t & 31));
            start_midnight_ = local_epoch_seconds(year, month0, day, 0, 0, 0);
            time_unit_ = v[11];
            bool known = false;
            tick_ = sniffer_tick_usec(time_unit_, &known);
            if (!known) report(interp_, kModule, __LINE__, LOG_FAULT, "sniffer file: UNSPEC/unknown timeunit");
        } else if (type == kSnifferEofRecord) {
            report(interp_, kModule, __LINE__, LOG_FAULT, "Sniffer file \"%s\" holds no frames", path.c_str());
            result = SnifferOpenResult::no_frames;
            break;
        } else if (type == kSnifferFrameRecord) {
            break;
        } else if (type == kSnifferMarkerRecord) {
            // The record type after the marker tells a compressed file apart.
            uint8_t after[2];
            if (file_.read_at(next, after, sizeof after) == sizeof after) {
                file_.seek(next);
                auto follower = static_cast<int16_t>(get_little16(after));
                if (follower < 0 || follower > 4) {
                    compressed_ = true;
                    report(interp_, kModule, __LINE__, LOG_FAULT, "Failed to open Compressed Sniffer file \"%s\"",
                           path.c_str());
                    break;
                }
                report(interp_, kModule, __LINE__, LOG_INFO, "UnCompressed");
            }
        }
        pos = next;
    }
    if (result != SnifferOpenResult::ok) file_.close();
    return result;
}

bool SnifferReader::load_frame(PacketBuffer* b, uint64_t body, uint32_t body_len, bool sequential, bool* eof) {
    *eof = false;
    uint32_t data_len = body_len - kSnifferFrameHeaderSize;
    uint16_t at = b->tail;
    if (!b->append(data_len)) return false;
    uint8_t fh[kSnifferFrameHeaderSize];
    bool complete;
    if (sequential) {
        file_.seek(body);
        complete = file_.read(fh, sizeof fh) == sizeof fh && file_.read(b->record() + at, data_len) == data_len;
    } else {
        complete = file_.read_at(body, fh, sizeof fh) == sizeof fh &&
                   file_.read_at(body + sizeof fh, b->record() + at, data_len) == data_len;
    }
    if (!complete) {
        b->tail = at;
        *eof = true;
        return false;
    }
    uint64_t ticks = get_little16(fh) | (uint64_t{get_little16(fh + 2)} << 16);
    auto hours = static_cast<int8_t>(fh[4]);
    auto days = static_cast<int8_t>(fh[5]);
    uint8_t status = fh[8];
    auto true_size = static_cast<int16_t>(get_little16(fh + 10));
    double t = static_cast<double>(ticks) * tick_;
    double whole = std::floor(t / 1e6);
    int64_t secs = start_midnight_ + 86400 * int64_t{days} + 3600 * int64_t{hours} + static_cast<int64_t>(whole);
    bool clamped = false;
    b->sec = buffer_seconds(secs, &clamped);
    if (clamped && !clamp_reported_) {
        // Once per file: every frame after it would repeat it.
        clamp_reported_ = true;
        report(interp_, kModule, __LINE__, LOG_WARNING,
               "Sniffer file %s: a frame is stamped outside the times a packet holds (1970 to 2106); its time is "
               "clamped",
               path_.c_str());
    }
    b->usec = std::min<uint32_t>(static_cast<uint32_t>(t - whole * 1e6), 999999);
    if (network_ == kSnifferSyncNetwork)
        b->direction = status == kSnifferTxStatus ? DIR_TX : DIR_RX;
    else
        b->direction = DIR_NA;
    // A true size beyond the stored bytes means the frame was cut; a negative
    // or smaller one carries no information.
    b->trunc_len = true_size > 0 && static_cast<uint32_t>(true_size) > data_len ? static_cast<uint32_t>(true_size) : 0;
    return true;
}

PacketBuffer* SnifferReader::read(Pool* pool) {
    if (compressed_ || !file_.is_open()) return media_end_of_input();
    PacketBuffer* b = pool_get(pool);
    if (!b) return nullptr;
    for (;;) {
        uint64_t rec = file_.tell();
        uint8_t h[kSnifferRecordHeaderSize];
        if (file_.read(h, sizeof h) != sizeof h) break;
        uint16_t type = get_little16(h);
        uint16_t len = get_little16(h + 2);
        uint64_t body = rec + kSnifferRecordHeaderSize;
        if (type == kSnifferEofRecord) break;
        if (type == kSnifferFrameRecord) {
            if (len < kSnifferFrameHeaderSize) {
                report(interp_, kModule, __LINE__, LOG_WARNING,
                       "Sniffer file %s: frame record at offset %llu is shorter than a frame header", path_.c_str(),
                       static_cast<unsigned long long>(rec));
            } else {
                bool eof = false;
                if (load_frame(b, body, len, true, &eof)) {
                    index_.push_back(rec);
                    b->frame = static_cast<uint32_t>(index_.size());
                    return b;
                }
                if (eof) {
                    report(interp_, kModule, __LINE__, LOG_WARNING,
                           "Sniffer file %s: frame %u is cut short by the end of the file", path_.c_str(),
                           frames_read() + 1);
                    break;
                }
                report(interp_, kModule, __LINE__, LOG_WARNING, "Sniffer file %s: bad maxmtu size for frame size",
                       path_.c_str());
            }
        }
        file_.seek(body + len);
    }
    buffer_free(b);
    return media_end_of_input();
}

PacketBuffer* SnifferReader::fetch(Pool* pool, uint32_t frame) {
    if (frame == 0 || frame > index_.size() || !file_.is_open()) return nullptr;
    uint64_t rec = index_[frame - 1];
    uint8_t h[kSnifferRecordHeaderSize];
    if (file_.read_at(rec, h, sizeof h) != sizeof h) return nullptr;
    uint16_t len = get_little16(h + 2);
    if (get_little16(h) != kSnifferFrameRecord || len < kSnifferFrameHeaderSize) return nullptr;
    PacketBuffer* b = pool_get(pool);
    if (!b) return nullptr;
    bool eof = false;
    if (!load_frame(b, rec + kSnifferRecordHeaderSize, len, false, &eof)) {
        buffer_free(b);
        return nullptr;
    }
    b->frame = frame;
    return b;
}

// ---- writing

bool SnifferWriter::open(const std::string& path) {
    if (!file_.open_write(path)) return false;
    return file_.write(kSnifferMagic, kSnifferMagicSize) && file_.flush();
}

bool SnifferWriter::write(const PacketBuffer* buffer, const std::string& base_node) {
    uint32_t len = buffer->length();
    if (len > 0xFFFFu - kSnifferFrameHeaderSize) {
        report(interp_, kModule, __LINE__, LOG_WARNING, "Sniffer file: a %u-byte frame does not fit a record; not written",
               len);
        return false;
    }
    int64_t secs = buffer->sec;
    uint32_t usec = std::min<uint32_t>(buffer->usec, 999999);
    if (secs == 0) time_now(&secs, &usec);  // an unstamped buffer is written with the time it is written at
    bool ok = true;
    if (!version_written_) {
        version_written_ = true;
        std::tm tmv = local_civil_time(secs);
        int year = tmv.tm_year + 1900;
        if (year < kSnifferFirstYear || year > kSnifferLastYear) {
            // The start date cannot be written: start at the nearest day the
            // format holds, so frame days count from the date the file says.
            report(interp_, kModule, __LINE__, LOG_WARNING,
                   "Sniffer file: the first frame is from %d, outside the years the file holds (%d to %d); the "
                   "start date is clamped",
                   year, kSnifferFirstYear, kSnifferLastYear);
            bool early = year < kSnifferFirstYear;
            tmv.tm_year = (early ? kSnifferFirstYear : kSnifferLastYear) - 1900;
            tmv.tm_mon = early ? 0 : 11;
            tmv.tm_mday = early ? 1 : 31;
            tmv.tm_hour = tmv.tm_min = tmv.tm_sec = 0;
        }
        start_time_ = secs;
        start_midnight_ = local_epoch_seconds(tmv.tm_year, tmv.tm_mon, tmv.tm_mday, 0, 0, 0);
        network_ = sniffer_network_type_for(base_node);
        uint8_t v[kSnifferRecordHeaderSize + kSnifferVersionSize] = {};
        put_little16(v, kSnifferVersionRecord);
        put_little16(v + 2, kSnifferVersionSize);
        uint8_t* body = v + kSnifferRecordHeaderSize;
        put_little16(body, 4);
        put_little16(body + 2, 9);
        put_little16(body + 4, sniffer_pack_time(tmv.tm_hour, tmv.tm_min, tmv.tm_sec));
        put_little16(body + 6, sniffer_pack_date(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday));
        body[8] = 4;
        body[9] = network_;
        body[10] = 1;
        body[11] = 1;
        ok = file_.write(v, sizeof v);
    }
    ++frames_;
    int64_t d = secs - start_midnight_;
    int64_t days = floor_div(d, 86400);
    int64_t rem = d - days * 86400;
    if (days < INT8_MIN || days > INT8_MAX) {
        report(interp_, kModule, __LINE__, LOG_WARNING,
               "Sniffer file: frame %u is %lld days from the first frame; its day is clamped", frames_,
               static_cast<long long>(days));
        days = std::clamp<int64_t>(days, INT8_MIN, INT8_MAX);
    }
    uint64_t ticks = (static_cast<uint64_t>(rem % 3600) * 1000000 + usec) * kSnifferPcTicksPerSecond / 1000000;
    if (ticks > UINT32_MAX) {
        // The last 0.41 s of an hour do not fit the 32-bit tick count.
        report(interp_, kModule, __LINE__, LOG_WARNING,
               "Sniffer file: frame %u falls after the last tick of its hour; its time is clamped", frames_);
        ticks = UINT32_MAX;
    }
    uint8_t h[kSnifferRecordHeaderSize + kSnifferFrameHeaderSize] = {};
    put_little16(h, kSnifferFrameRecord);
    put_little16(h + 2, static_cast<uint16_t>(len + kSnifferFrameHeaderSize));
    uint8_t* fh = h + kSnifferRecordHeaderSize;
    put_little16(fh, static_cast<uint16_t>(ticks & 0xFFFF));
    put_little16(fh + 2, static_cast<uint16_t>(ticks >> 16));
    fh[4] = static_cast<uint8_t>(rem / 3600);
    fh[5] = static_cast<uint8_t>(static_cast<int8_t>(days));
    put_little16(fh + 6, static_cast<uint16_t>(len));
    fh[8] = (network_ == kSnifferSyncNetwork && buffer->direction == DIR_TX) ? kSnifferTxStatus : 0;
    ok = file_.write(h, sizeof h) && ok;
    ok = file_.write(buffer->data(), len) && ok;
    return file_.flush() && ok;
}

bool SnifferWriter::finish() {
    if (!file_.is_open()) return false;
    uint8_t h[kSnifferRecordHeaderSize] = {};
    put_little16(h, kSnifferEofRecord);
    bool ok = file_.write(h, sizeof h) && file_.flush();
    file_.close();
    return ok;
}

// ---- probing

bool sniffer_probe_file(const std::string& path, std::vector<std::string>* candidates) {
    CaptureFile f;
    if (!f.open_read(path)) return false;
    char magic[kSnifferMagicSize];
    if (f.read_at(0, magic, sizeof magic) != sizeof magic || std::memcmp(magic, kSnifferMagic, sizeof magic) != 0)
        return false;
    if (candidates) candidates->clear();
    uint8_t h[kSnifferRecordHeaderSize];
    if (f.read_at(kSnifferMagicSize, h, sizeof h) == sizeof h && get_little16(h) == kSnifferVersionRecord) {
        uint8_t v[kSnifferVersionSize];
        if (f.read_at(kSnifferMagicSize + sizeof h, v, sizeof v) != sizeof v) return false;
        const char* node = sniffer_network_base_node(v[9]);
        if (candidates && *node) candidates->push_back(node);
    }
    return true;
}

}  // namespace zm

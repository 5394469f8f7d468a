// The Sniffer capture format (little-endian records after a 17-byte magic): reader, writer, probe.
//
// Layout: the magic "TRSNIFF data    \x1a", then records of a 6-byte header
// (type, body length, reserved) and a body. Type 1 is the version record
// (versions, packed start date and time, network type, time unit), type 4 a
// frame (14-byte frame header: ticks, hours, days, size, status, flags, true
// size, reserved; then the bytes), type 3 the end of file and type 6 a marker
// whose following record type tells whether the file is compressed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "media/capture_io.h"
#include "media/capture_media.h"

struct Tcl_Interp;

namespace zm {

struct PacketBuffer;
struct Pool;

constexpr char kSnifferMagic[] = "TRSNIFF data    \x1a";
constexpr size_t kSnifferMagicSize = 17;
constexpr size_t kSnifferRecordHeaderSize = 6;
constexpr size_t kSnifferVersionSize = 18;
constexpr size_t kSnifferFrameHeaderSize = 14;
constexpr uint16_t kSnifferVersionRecord = 1;
constexpr uint16_t kSnifferEofRecord = 3;
constexpr uint16_t kSnifferFrameRecord = 4;
constexpr uint16_t kSnifferMarkerRecord = 6;
constexpr uint8_t kSnifferSyncNetwork = 7;
constexpr uint8_t kSnifferTxStatus = 0x80;
// Ticks per second of the written time unit (1, "PC").
constexpr uint64_t kSnifferPcTicksPerSecond = 1193180;
// The years the version record's packed date holds.
constexpr int kSnifferFirstYear = 1980;
constexpr int kSnifferLastYear = 2107;

// Name of a network type ("UNKNOWN" for 10 and above) and the base node the
// probe offers for it (empty when none).
const char* sniffer_network_name(uint32_t type);
const char* sniffer_network_base_node(uint32_t type);
// Network type written for a base node: 0 TRING_HDR, 1 ENET_HDR, 9 FDDI_HDR, else 7.
uint8_t sniffer_network_type_for(const std::string& base_node);
// Name and tick length (microseconds) of a time unit; `known` tells whether
// the unit is one of 1..4.
const char* sniffer_time_unit_name(uint32_t unit);
double sniffer_tick_usec(uint32_t unit, bool* known);

// Packed version-record date and time.
uint16_t sniffer_pack_time(int hour, int minute, int second);
uint16_t sniffer_pack_date(int year, int month, int day);  // full year, month 1..12

enum class SnifferOpenResult { ok, open_failed, not_sniffer, no_frames, bad_version_record };

// Reads a Sniffer file frame by frame into pooled buffers. Reports go through
// the reporter with module "MEDIA/sniffer" and `interp` (may be null).
class SnifferReader : public CaptureReader {
public:
    explicit SnifferReader(Tcl_Interp* interp = nullptr) : interp_(interp) {}

    // Opens the file, checks the magic and pre-scans the records up to the
    // first frame (version record, compression marker).
    SnifferOpenResult open(const std::string& path);
    int descriptor() const override { return file_.fd(); }

    // The next frame: a buffer (frame number, time, direction and truncated
    // length set), nullptr when no buffer was free, or media_end_of_input()
    // at the end-of-file record, the end of the file, or always for a
    // compressed file. Frames that do not fit a buffer are skipped.
    PacketBuffer* read(Pool* pool) override;
    // Frame `frame` (1 .. frames read so far) read again, or nullptr; the
    // sequential position is unchanged.
    PacketBuffer* fetch(Pool* pool, uint32_t frame) override;
    uint32_t frames_read() const { return static_cast<uint32_t>(index_.size()); }

    uint16_t major() const { return major_; }
    uint16_t minor() const { return minor_; }
    uint8_t network_type() const { return network_; }
    uint8_t time_unit() const { return time_unit_; }
    int64_t start_time() const { return start_time_; }
    int64_t start_midnight() const { return start_midnight_; }
    bool compressed() const { return compressed_; }

private:
    bool prescan();
    // Fills `b` from a frame record body at `body` of `body_len` bytes;
    // false when it does not fit or the file ends early (`*eof` set).
    bool load_frame(PacketBuffer* b, uint64_t body, uint32_t body_len, bool sequential, bool* eof);

    Tcl_Interp* interp_;
    std::string path_;
    CaptureFile file_;
    std::vector<uint64_t> index_;  // file offset of every frame record delivered
    uint16_t major_ = 0, minor_ = 0;
    uint8_t network_ = 0, time_unit_ = 0;
    double tick_ = 1.0;
    int64_t start_time_ = 0;
    int64_t start_midnight_ = 0;
    bool compressed_ = false;
    bool clamp_reported_ = false;
};

// Writes a Sniffer file packet by packet: the magic at open, the version
// record before the first frame, one frame record per packet, the end-of-file
// record at finish.
class SnifferWriter {
public:
    explicit SnifferWriter(Tcl_Interp* interp = nullptr) : interp_(interp) {}
    bool open(const std::string& path);
    // Writes one frame (does not take the buffer); false on a write error.
    bool write(const PacketBuffer* buffer, const std::string& base_node);
    bool finish();
    int descriptor() const { return file_.fd(); }
    uint32_t frames() const { return frames_; }
    bool version_written() const { return version_written_; }
    uint8_t network_type() const { return network_; }
    int64_t start_time() const { return start_time_; }

private:
    Tcl_Interp* interp_;
    CaptureFile file_;
    bool version_written_ = false;
    uint8_t network_ = 0;
    int64_t start_time_ = 0;
    int64_t start_midnight_ = 0;
    uint32_t frames_ = 0;
};

// Recognises a file by its magic; the base node of its version record's
// network type, if any, goes to `candidates`. Unreadable files are not this
// format.
bool sniffer_probe_file(const std::string& path, std::vector<std::string>* candidates);

}  // namespace zm

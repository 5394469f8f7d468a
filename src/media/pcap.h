// The fixed-slot capture format (magic 0xFABCDEFF, big-endian): reader, writer, probe, time conversion.
//
// Layout: a 32-byte header (magic, version 1, link type, time offset, record
// header size, record size, record count, reserved), then `record count`
// records, each `record size` bytes from the start of one to the next: a
// record header (seconds, fraction in 1/4295 µs, direction, wire length,
// captured length; at least 16 bytes) followed by the captured bytes and
// zero padding. Seconds count local civil time from 1900-01-01 in four-year
// cycles, shifted by the time offset.
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

constexpr uint32_t kPcapMagic = 0xFABCDEFF;
constexpr uint32_t kPcapVersion = 1;
constexpr uint32_t kPcapHeaderSize = 32;
constexpr uint32_t kPcapRecordHeaderSize = 16;
constexpr uint32_t kPcapTimeOffset = 43200;
constexpr uint32_t kPcapFractionPerUsec = 4295;

struct PcapHeader {
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t link_type = 0;
    uint32_t time_offset = 0;
    uint32_t record_header_size = 0;
    uint32_t record_size = 0;
    uint32_t record_count = 0;
    uint32_t reserved = 0;
};

// Link type written for a base node: 1 ENET_HDR, 2 TRING_HDR, 3 FDDI_HDR,
// 6 SYNC_HDR/PPP_HDR, 9 names beginning "ATM", 10 names beginning "FR", else 0.
uint32_t pcap_link_type_for(const std::string& base_node);
// The base nodes a link type offers (empty for types without candidates).
std::vector<std::string> pcap_link_candidates(uint32_t link_type);

// Time conversion between the file's seconds/fraction and seconds and
// microseconds since the epoch. Full years are kept both ways, so a file
// written here reads back with its own time stamps for every date. Fractions
// are clamped to 32 bits (microseconds above 999,992 do not fit). Each
// returns false when the time had to be clamped: the file's seconds hold
// 1900 to early 2036, a buffer's 1970 to 2106 (see buffer_seconds).
bool pcap_time_from_file(uint32_t file_secs, uint32_t fraction, uint32_t time_offset, uint32_t* sec,
                         uint32_t* usec);
bool pcap_time_to_file(uint32_t sec, uint32_t usec, uint32_t* file_secs, uint32_t* fraction);

// Slot size of a written file: the longest captured length rounded up to 32.
uint32_t pcap_slot_size(uint32_t longest);

enum class PcapOpenResult { ok, open_failed, short_header, bad_magic, bad_version, bad_layout };

// Reads a capture file record by record into pooled buffers. Reports go
// through the reporter with module "MEDIA/pcap" and `interp` (may be null).
class PcapReader : public CaptureReader {
public:
    explicit PcapReader(Tcl_Interp* interp = nullptr) : interp_(interp) {}

    // Opens the file and checks the header; errno tells why open_failed.
    PcapOpenResult open(const std::string& path);
    const PcapHeader& header() const { return header_; }
    int descriptor() const override { return file_.fd(); }

    // The next record: a buffer (frame number, time, direction and truncated
    // length set), nullptr when the record was skipped or no buffer was free
    // (reading continues with the next call), or media_end_of_input() after
    // the last counted record or at the end of the file.
    PacketBuffer* read(Pool* pool) override;
    // Record `frame` (1 .. records read so far) read again into a fresh pool
    // buffer, or nullptr. The sequential position is unchanged.
    PacketBuffer* fetch(Pool* pool, uint32_t frame) override;
    uint32_t records_read() const { return records_read_; }

private:
    struct RecordHeader {
        uint32_t secs, fraction, direction;
        uint16_t wire_len, cap_len;
    };
    static RecordHeader parse_record_header(const uint8_t* p);
    uint64_t record_offset(uint32_t index) const;
    void fill_buffer(PacketBuffer* b, const RecordHeader& h, uint32_t frame);

    // The file-to-buffer time conversion, converting local time once per hour.
    struct HourCache {
        int64_t hour = INT64_MIN;
        int64_t epoch = 0;
        uint32_t seconds(uint32_t file_secs, uint32_t time_offset, bool* clamped);
    };

    Tcl_Interp* interp_;
    std::string path_;
    CaptureFile file_;
    PcapHeader header_;
    HourCache clock_;
    uint32_t remaining_ = 0;
    uint32_t records_read_ = 0;
    bool clamp_reported_ = false;
};

// Writes a capture file whose slot size is known only at the end. Each added
// packet's record goes at once to an unlinked temporary file and the buffer
// is released, so memory stays flat however many packets are written; finish
// copies the records into the capture file with the final slot size. The
// capture file is created (empty) by open.
class PcapWriter {
public:
    explicit PcapWriter(Tcl_Interp* interp = nullptr) : interp_(interp) {}
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates the capture file and the temporary file; false (errno set) when
    // either cannot be created.
    bool open(const std::string& path);
    // Records the packet and releases the buffer.
    void add(PacketBuffer* buffer);
    uint32_t pending() const { return count_; }
    // Writes header and records and closes the file; false on an I/O error.
    bool finish(uint32_t link_type);

private:
    Tcl_Interp* interp_;
    CaptureFile file_;
    CaptureFile spill_;
    bool spill_ok_ = true;
    uint32_t count_ = 0;
    uint32_t longest_ = 0;
};

// Recognises a file by its magic (the version is not checked). A file that
// cannot be opened or is too short is not this format.
bool pcap_probe_file(const std::string& path, std::vector<std::string>* candidates);

}  // namespace zm

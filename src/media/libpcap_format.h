// Standard capture files: pcap (either byte order, micro- or nanosecond time
// stamps) and pcapng, read through the system's libpcap; pcap written through
// libpcap and pcapng written here (libpcap cannot write it).
//
// A written pcapng file holds one section header, one interface description
// (the interface's name and link type, microsecond time stamps) and one
// enhanced packet block per packet, whose flags option carries the direction
// (inbound for received packets, outbound for sent ones). Blocks are written
// big-endian; the byte-order mark tells readers so.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct Tcl_Interp;
struct pcap;
struct pcap_dumper;

namespace zm {

struct PacketBuffer;
struct Pool;

// Link type numbers of the base nodes that have a standard one; base nodes
// without one are written as the first user link type.
constexpr int kLinkEthernet = 1;
constexpr int kLinkUser0 = 147;
constexpr int kLinkUser15 = 162;

// The standard link type written for a base node (kLinkUser0 when it has none).
int libpcap_link_type_for(const std::string& base_node);
// The base nodes a file of this link type may be replayed on (empty when the
// link type has no base node of its own).
std::vector<std::string> libpcap_link_candidates(int link_type);
// Whether a file of `link_type` may be read on `base_node`: the link type
// must be the base node's own, or a user link type for a base node that has
// no standard one.
bool libpcap_link_matches(int link_type, const std::string& base_node);

// Reads a pcap or pcapng file record by record into pooled buffers. Reports
// (Warnings for damaged records) go through the reporter with module
// "MEDIA/libpcap" and `interp` (may be null).
class LibpcapReader {
public:
    explicit LibpcapReader(Tcl_Interp* interp = nullptr) : interp_(interp) {}
    ~LibpcapReader();
    LibpcapReader(const LibpcapReader&) = delete;
    LibpcapReader& operator=(const LibpcapReader&) = delete;

    enum class Open { ok, open_failed, not_capture };
    // Opens the file; on open_failed errno tells why, on not_capture `why`
    // holds libpcap's reason.
    Open open(const std::string& path, std::string* why);
    int link_type() const { return link_type_; }
    bool is_pcapng() const { return pcapng_; }
    int descriptor() const;

    // The next record: a buffer (frame number, time, direction and truncated
    // length set), nullptr when the record was too big for the pool's
    // buffers and was skipped or no buffer was free (reading continues with
    // the next call), or media_end_of_input() at the end of the file or
    // after a damaged record (reported as a Warning).
    PacketBuffer* read(Pool* pool);
    // Record `frame` (1 .. records read so far) read again into a fresh pool
    // buffer, or nullptr. The sequential position is unchanged.
    PacketBuffer* fetch(Pool* pool, uint32_t frame);
    uint32_t records_read() const { return static_cast<uint32_t>(offsets_.size()); }

private:
    PacketBuffer* next_into(pcap* handle, Pool* pool, uint32_t frame, uint64_t offset, bool warn);
    uint32_t direction_at(uint64_t offset, uint32_t cap_len);

    Tcl_Interp* interp_;
    std::string path_;
    pcap* handle_ = nullptr;
    pcap* fetch_handle_ = nullptr;  // a second handle for fetch, opened on first use
    int link_type_ = 0;
    bool pcapng_ = false;
    bool big_endian_ng_ = false;    // byte order of the pcapng section
    std::vector<uint64_t> offsets_;  // file offset of each record read, in order
    // In a pcap file with 16-byte record headers the next record's offset
    // follows from the last one's length (asking the stream costs a system
    // call per record); 0 for other layouts, whose offsets are asked for.
    uint32_t record_header_ = 0;
    uint64_t next_offset_ = 0;
    bool ended_ = false;
};

// Writes packets as they come: a pcap file through libpcap, or a pcapng
// file when the name ends in ".pcapng".
class LibpcapWriter {
public:
    LibpcapWriter() = default;
    ~LibpcapWriter();
    LibpcapWriter(const LibpcapWriter&) = delete;
    LibpcapWriter& operator=(const LibpcapWriter&) = delete;

    // Creates the file and writes its headers. False with the reason in
    // `why` when it cannot.
    bool open(const std::string& path, int link_type, const std::string& interface_name, std::string* why);
    bool is_pcapng() const { return pcapng_; }
    // Writes one record; false on a write error (the first one is kept).
    bool add(const PacketBuffer* buffer);
    uint32_t written() const { return count_; }
    // Flushes and closes; false when any write failed.
    bool finish();

private:
    bool write_block(const std::vector<uint8_t>& block);

    bool pcapng_ = false;
    pcap* dead_ = nullptr;
    pcap_dumper* dumper_ = nullptr;
    std::FILE* file_ = nullptr;  // pcapng output
    bool ok_ = true;
    uint32_t count_ = 0;
};

// True when the name asks for pcapng output.
bool libpcap_wants_pcapng(const std::string& path);

// Recognises a pcap or pcapng file (what libpcap opens). A file that cannot
// be opened is not this format.
bool libpcap_probe_file(const std::string& path, int* link_type);

}  // namespace zm

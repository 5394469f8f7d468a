// Standard pcap and pcapng files: reading through libpcap, writing pcap through libpcap and pcapng by hand.
#include "media/libpcap_format.h"

#include <pcap/pcap.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/buffer.h"
#include "core/bytes.h"
#include "core/report.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/libpcap";

struct LinkName {
    int link_type;
    const char* base_node;
};
// Base nodes with a standard link type of their own.
constexpr LinkName kLinks[] = {
    {kLinkEthernet, "ENET_HDR"}, {6, "TRING_HDR"}, {10, "FDDI_HDR"}, {9, "PPP_HDR"}, {9, "SYNC_HDR"},
};

// pcapng block types and options used here.
constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptEnd = 0, kOptIfName = 2, kOptEpbFlags = 2, kOptIfTsresol = 9;
// The longest record a reader accepts and a written file announces.
constexpr uint32_t kSnapLen = 262144;

void put_option(ByteWriter& w, uint16_t code, const void* value, size_t n) {
    w.u16(code);
    w.u16(static_cast<uint16_t>(n));
    w.bytes(value, n);
    w.fill(0, (4 - n % 4) % 4);
}

// Finishes a block whose type and length words were written first: the
// length goes into both length words.
std::vector<uint8_t> close_block(std::vector<uint8_t> block, ByteWriter& w) {
    uint32_t total = static_cast<uint32_t>(w.offset() + 4);
    w.u32(total);
    put_net32(block.data() + 4, total);
    block.resize(total);
    return block;
}

pcap* open_handle(const std::string& path, std::string* why) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap* p = pcap_fopen_offline_with_tstamp_precision(f, PCAP_TSTAMP_PRECISION_MICRO, err);
    if (!p) {
        std::fclose(f);
        if (why) *why = err;
        errno = 0;
    }
    return p;
}

}  // namespace

int libpcap_link_type_for(const std::string& base_node) {
    for (const LinkName& l : kLinks)
        if (base_node == l.base_node) return l.link_type;
    return kLinkUser0;
}

std::vector<std::string> libpcap_link_candidates(int link_type) {
    std::vector<std::string> out;
    for (const LinkName& l : kLinks)
        if (l.link_type == link_type) out.emplace_back(l.base_node);
    return out;
}

bool libpcap_link_matches(int link_type, const std::string& base_node) {
    int own = libpcap_link_type_for(base_node);
    if (own == kLinkUser0) return link_type >= kLinkUser0 && link_type <= kLinkUser15;
    return own == link_type;
}

bool libpcap_wants_pcapng(const std::string& path) {
    static const std::string ext = ".pcapng";
    return path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0;
}

// ---------------------------------------------------------------- reading

LibpcapReader::~LibpcapReader() {
    if (handle_) pcap_close(handle_);
    if (fetch_handle_) pcap_close(fetch_handle_);
}

LibpcapReader::Open LibpcapReader::open(const std::string& path, std::string* why) {
    path_ = path;
    errno = 0;
    handle_ = open_handle(path, why);
    if (!handle_) return errno ? Open::open_failed : Open::not_capture;
    link_type_ = pcap_datalink(handle_);
    // The section header's first word is the same in either byte order; the
    // byte-order mark after the length says which order the blocks use.
    uint8_t head[12];
    if (pread(descriptor(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head)) {
        uint32_t magic = get_net32(head);
        if (magic == kSectionHeader) {
            pcapng_ = true;
            big_endian_ng_ = get_net32(head + 8) == kByteOrderMagic;
        } else if (magic == 0xA1B2C3D4 || magic == 0xD4C3B2A1 || magic == 0xA1B23C4D || magic == 0x4D3CB2A1) {
            record_header_ = 16;  // micro- or nanosecond pcap, either byte order
            next_offset_ = 24;
        }
    }
    return Open::ok;
}

int LibpcapReader::descriptor() const { return handle_ ? fileno(pcap_file(handle_)) : -1; }

// Reads the flags option of the enhanced packet block at `offset`: its
// direction bits say inbound (RX) or outbound (TX). Anything else, or a block
// that cannot be read whole, gives no direction.
uint32_t LibpcapReader::direction_at(uint64_t offset, uint32_t cap_len) {
    if (!pcapng_) return DIR_NA;
    auto word = [&](uint32_t v) { return big_endian_ng_ ? v : __builtin_bswap32(v); };
    auto half = [&](uint16_t v) { return big_endian_ng_ ? v : static_cast<uint16_t>(__builtin_bswap16(v)); };
    uint8_t head[8];
    if (pread(descriptor(), head, sizeof head, static_cast<off_t>(offset)) != 8) return DIR_NA;
    uint32_t type = word(get_net32(head)), total = word(get_net32(head + 4));
    uint64_t fixed = 28 + ((static_cast<uint64_t>(cap_len) + 3) & ~uint64_t{3});
    if (type != kEnhancedPacket || total > kSnapLen + 4096 || total < fixed + 4) return DIR_NA;
    std::vector<uint8_t> options(total - fixed - 4);
    if (options.empty()) return DIR_NA;
    if (pread(descriptor(), options.data(), options.size(), static_cast<off_t>(offset + fixed)) !=
        static_cast<ssize_t>(options.size()))
        return DIR_NA;
    ByteReader r(options.data(), options.size());
    while (r.can_read(4)) {
        uint16_t code = half(r.u16()), len = half(r.u16());
        if (code == kOptEnd) break;
        ByteReader value = r.sub(len);
        r.skip((4 - len % 4) % 4);
        if (code == kOptEpbFlags && len == 4) {
            uint32_t bits = word(value.u32()) & 3;
            return bits == 1 ? DIR_RX : bits == 2 ? DIR_TX : DIR_NA;
        }
    }
    return DIR_NA;
}

PacketBuffer* LibpcapReader::next_into(pcap* handle, Pool* pool, uint32_t frame, uint64_t offset, bool warn) {
    PacketBuffer* b = pool_get(pool);
    if (!b) return nullptr;
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    int rc = pcap_next_ex(handle, &h, &data);
    if (rc != 1) {
        buffer_free(b);
        if (rc == PCAP_ERROR && warn)
            report(interp_, kModule, __LINE__, LOG_WARNING, "libpcap file %s: %s - reading stops", path_.c_str(),
                   pcap_geterr(handle));
        return rc == PCAP_ERROR_BREAK || rc == PCAP_ERROR ? media_end_of_input() : nullptr;
    }
    if (warn) {
        offsets_.push_back(offset);
        if (record_header_) next_offset_ = offset + record_header_ + h->caplen;
    }
    if (h->caplen > b->tailroom()) {
        if (warn)
            report(interp_, kModule, __LINE__, LOG_WARNING,
                   "libpcap file %s: frame %u of %u bytes does not fit the interface's %u-byte buffers - skipped",
                   path_.c_str(), frame, h->caplen, b->tailroom());
        buffer_free(b);
        return nullptr;
    }
    std::memcpy(b->record() + b->tail, data, h->caplen);
    b->append(h->caplen);
    b->frame = frame;
    b->sec = static_cast<uint32_t>(h->ts.tv_sec);
    b->usec = static_cast<uint32_t>(h->ts.tv_usec);
    b->trunc_len = h->len != h->caplen ? h->len : 0;
    b->direction = direction_at(offset, h->caplen);
    return b;
}

PacketBuffer* LibpcapReader::read(Pool* pool) {
    if (!handle_ || ended_) return media_end_of_input();
    uint64_t offset = next_offset_;
    if (!record_header_) {
        long pos = std::ftell(pcap_file(handle_));
        offset = pos < 0 ? 0 : static_cast<uint64_t>(pos);
    }
    PacketBuffer* b = next_into(handle_, pool, records_read() + 1, offset, true);
    if (is_end_of_input(b)) ended_ = true;
    return b;
}

PacketBuffer* LibpcapReader::fetch(Pool* pool, uint32_t frame) {
    if (frame == 0 || frame > records_read()) return nullptr;
    if (!fetch_handle_ && !(fetch_handle_ = open_handle(path_, nullptr))) return nullptr;
    uint64_t offset = offsets_[frame - 1];
    if (std::fseek(pcap_file(fetch_handle_), static_cast<long>(offset), SEEK_SET) != 0) return nullptr;
    PacketBuffer* b = next_into(fetch_handle_, pool, frame, offset, false);
    return is_end_of_input(b) ? nullptr : b;
}

bool libpcap_probe_file(const std::string& path, int* link_type) {
    pcap* p = open_handle(path, nullptr);
    if (!p) return false;
    *link_type = pcap_datalink(p);
    pcap_close(p);
    return true;
}

// ---------------------------------------------------------------- writing

LibpcapWriter::~LibpcapWriter() { finish(); }

bool LibpcapWriter::open(const std::string& path, int link_type, const std::string& interface_name,
                         std::string* why) {
    pcapng_ = libpcap_wants_pcapng(path);
    if (!pcapng_) {
        dead_ = pcap_open_dead(link_type, kSnapLen);
        if (!dead_) {
            *why = "no memory";
            return false;
        }
        errno = 0;
        dumper_ = pcap_dump_open(dead_, path.c_str());
        if (!dumper_) {
            *why = errno ? std::strerror(errno) : pcap_geterr(dead_);
            return false;
        }
        return true;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        *why = std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> shb(64);
    ByteWriter w(shb.data(), shb.size());
    w.u32(kSectionHeader);
    w.u32(0);
    w.u32(kByteOrderMagic);
    w.u16(1);  // version 1.0
    w.u16(0);
    w.u32(0xFFFFFFFF);  // section length not given
    w.u32(0xFFFFFFFF);
    w.u32(0);  // no options
    shb = close_block(std::move(shb), w);

    std::string name = interface_name.substr(0, 1024);
    std::vector<uint8_t> idb(64 + name.size());
    ByteWriter v(idb.data(), idb.size());
    v.u32(kInterfaceDescription);
    v.u32(0);
    v.u16(static_cast<uint16_t>(link_type));
    v.u16(0);
    v.u32(kSnapLen);
    if (!name.empty()) put_option(v, kOptIfName, name.data(), name.size());
    uint8_t micro = 6;
    put_option(v, kOptIfTsresol, &micro, 1);
    put_option(v, kOptEnd, nullptr, 0);
    idb = close_block(std::move(idb), v);
    if (!write_block(shb) || !write_block(idb)) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

bool LibpcapWriter::write_block(const std::vector<uint8_t>& block) {
    if (ok_ && std::fwrite(block.data(), 1, block.size(), file_) != block.size()) ok_ = false;
    return ok_;
}

bool LibpcapWriter::add(const PacketBuffer* buffer) {
    uint32_t cap = buffer->length();
    uint32_t wire = buffer->trunc_len ? buffer->trunc_len : cap;
    ++count_;
    if (dumper_) {
        pcap_pkthdr h{};
        h.ts.tv_sec = buffer->sec;
        h.ts.tv_usec = buffer->usec;
        h.caplen = cap;
        h.len = wire;
        pcap_dump(reinterpret_cast<u_char*>(dumper_), &h, buffer->data());
        return ok_;
    }
    if (!file_) return false;
    std::vector<uint8_t> epb(48 + cap + 4);
    ByteWriter w(epb.data(), epb.size());
    uint64_t stamp = static_cast<uint64_t>(buffer->sec) * 1000000 + buffer->usec;
    w.u32(kEnhancedPacket);
    w.u32(0);
    w.u32(0);  // the one interface
    w.u32(static_cast<uint32_t>(stamp >> 32));
    w.u32(static_cast<uint32_t>(stamp));
    w.u32(cap);
    w.u32(wire);
    w.bytes(buffer->data(), cap);
    w.fill(0, (4 - cap % 4) % 4);
    if (buffer->direction == DIR_RX || buffer->direction == DIR_TX) {
        uint8_t flags[4];
        put_net32(flags, buffer->direction == DIR_RX ? 1 : 2);
        put_option(w, kOptEpbFlags, flags, 4);
        put_option(w, kOptEnd, nullptr, 0);
    }
    return write_block(close_block(std::move(epb), w));
}

bool LibpcapWriter::finish() {
    if (dumper_) {
        if (pcap_dump_flush(dumper_) != 0) ok_ = false;
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
    }
    if (dead_) {
        pcap_close(dead_);
        dead_ = nullptr;
    }
    if (file_) {
        if (std::fclose(file_) != 0) ok_ = false;
        file_ = nullptr;
    }
    return ok_;
}

}  // namespace zm

// The libpcap media class: an interface over a standard pcap or pcapng file, read with flow control or written as packets are sent.
#include <tcl.h>

#include <cerrno>

#include "core/buffer.h"
#include "core/report.h"
#include "media/libpcap_format.h"
#include "media/capture_media.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/libpcap";

class Reader : public CaptureReader {
public:
    explicit Reader(Tcl_Interp* interp) : reader(interp) {}
    int descriptor() const override { return reader.descriptor(); }
    PacketBuffer* read(Pool* pool) override { return reader.read(pool); }
    PacketBuffer* fetch(Pool* pool, uint32_t frame) override { return reader.fetch(pool, frame); }
    LibpcapReader reader;
};

// Records are written as they come; a write error is reported once, since
// the file is incomplete from there on.
class Writer : public CaptureWriter {
public:
    Writer(Tcl_Interp* interp, std::string path) : interp_(interp), path_(std::move(path)) {}
    bool write(PacketBuffer* buffer, const std::string&) override {
        bool ok = writer.add(buffer);
        buffer_free(buffer);
        if (!ok) failed();
        return ok;
    }
    bool finish(const std::string&) override {
        bool ok = writer.finish();
        if (!ok) failed();
        return ok;
    }
    LibpcapWriter writer;

private:
    void failed() {
        if (reported_) return;
        reported_ = true;
        report_os_error(interp_, kModule, __LINE__, "Failed to write file \"%s\"", path_.c_str());
    }
    Tcl_Interp* interp_;
    std::string path_;
    bool reported_ = false;
};

std::unique_ptr<CaptureReader> open_reader(const MediaPort& port, const std::string& path) {
    auto r = std::make_unique<Reader>(port.interp);
    std::string why;
    const char* file = path.c_str();
    switch (r->reader.open(path, &why)) {
    case LibpcapReader::Open::ok:
        break;
    case LibpcapReader::Open::open_failed:
        report_open_failure(port.interp, kModule, path);
        return nullptr;
    case LibpcapReader::Open::not_capture:
        report(port.interp, kModule, __LINE__, LOG_FAULT, "%s is not a pcap or pcapng file: %s", file, why.c_str());
        return nullptr;
    }
    int link = r->reader.link_type();
    if (!libpcap_link_matches(link, port.base_node)) {
        report(port.interp, kModule, __LINE__, LOG_FAULT,
               "File \"%s\" has link type %d, but base node %s needs link type %d", file, link, port.base_node,
               libpcap_link_type_for(port.base_node));
        return nullptr;
    }
    return r;
}

std::unique_ptr<CaptureWriter> open_writer(const MediaPort& port, const std::string& path) {
    auto w = std::make_unique<Writer>(port.interp, path);
    std::string why;
    if (!w->writer.open(path, libpcap_link_type_for(port.base_node), port.name, &why)) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "Failed to open file \"%s\": %s", path.c_str(), why.c_str());
        return nullptr;
    }
    return w;
}

void info(const CaptureReader* reader, const CaptureWriter* writer, Tcl_Interp* interp) {
    bool ng = writer ? static_cast<const Writer*>(writer)->writer.is_pcapng()
                     : reader && static_cast<const Reader*>(reader)->reader.is_pcapng();
    media_append_info(interp, "if_file_format", ng ? "pcapng" : "pcap");
}

bool probe(const std::string& path, std::vector<std::string>* candidates) {
    int link = 0;
    if (!libpcap_probe_file(path, &link)) return false;
    *candidates = libpcap_link_candidates(link);
    return true;
}

const CaptureFormat kFormat = {
    kModule, "libpcap", "Libpcap", "libpcap", nullptr, open_reader, open_writer, info, probe,
};

}  // namespace

void register_libpcap_media() {
    register_capture_media<kFormat>("libpcap", "Standard pcap/pcapng capture file");
}

}  // namespace zm

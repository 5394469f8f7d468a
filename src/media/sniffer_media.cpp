// The sniffer media class: the Sniffer format as a capture-file class (read with flow control, written per packet).
#include <tcl.h>

#include <ctime>

#include "core/buffer.h"
#include "core/report.h"
#include "media/capture_media.h"
#include "media/sniffer.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/sniffer";

std::unique_ptr<CaptureReader> open_reader(const MediaPort& port, const std::string& path) {
    Tcl_Interp* interp = port.interp;
    auto reader = std::make_unique<SnifferReader>(interp);
    switch (reader->open(path)) {
    case SnifferOpenResult::ok:
        return reader;
    case SnifferOpenResult::open_failed:
        report_open_failure(interp, kModule, path);
        break;
    case SnifferOpenResult::not_sniffer:
        report(interp, kModule, __LINE__, LOG_FAULT, "File \"%s\" is not a sniffer formatted file.", path.c_str());
        break;
    case SnifferOpenResult::no_frames:
    case SnifferOpenResult::bad_version_record:
        break;  // the reader has said why
    }
    return nullptr;
}

// Each packet is written as it comes; the end-of-file record at close.
class Writer : public CaptureWriter {
public:
    explicit Writer(Tcl_Interp* interp) : writer_(interp) {}
    bool open(const std::string& path) { return writer_.open(path); }
    bool write(PacketBuffer* buffer, const std::string& base_node) override {
        bool ok = writer_.write(buffer, base_node);
        buffer_free(buffer);
        return ok;
    }
    bool finish(const std::string&) override { return writer_.finish(); }
    const SnifferWriter& writer() const { return writer_; }

private:
    SnifferWriter writer_;
};

std::unique_ptr<CaptureWriter> open_writer(const MediaPort& port, const std::string& path) {
    return open_capture_writer<Writer>(port.interp, kModule, path);
}

std::string ctime_text(int64_t secs) {
    std::time_t t = static_cast<std::time_t>(secs);
    char text[64];
    if (!ctime_r(&t, text)) return {};
    std::string out = text;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void info(const CaptureReader* reader, const CaptureWriter* writer, Tcl_Interp* interp) {
    unsigned major = 0, minor = 0, network = 0, unit = 0;
    int64_t start = 0;
    bool compressed = false;
    if (writer) {
        const SnifferWriter& w = static_cast<const Writer*>(writer)->writer();
        if (w.version_written()) {
            major = 4, minor = 9, unit = 1;
            network = w.network_type();
            start = w.start_time();
        }
    } else if (reader) {
        const auto* r = static_cast<const SnifferReader*>(reader);
        major = r->major(), minor = r->minor();
        network = r->network_type(), unit = r->time_unit();
        start = r->start_time();
        compressed = r->compressed();
    }
    media_append_info(interp, "sniffer_version", std::to_string(major) + "." + std::to_string(minor));
    media_append_info(interp, "creation_date", ctime_text(start));
    media_append_info(interp, "is_compressed", compressed ? "TRUE" : "FALSE");
    media_append_info(interp, "network_type", sniffer_network_name(network));
    media_append_info(interp, "time_type", sniffer_time_unit_name(unit));
}

const CaptureFormat kFormat = {
    kModule, "sniffer", "Sniffer", "sniffer", "sniffer file is open for writing",
    open_reader, open_writer, info, sniffer_probe_file,
};

}  // namespace

void register_sniffer_media() { register_capture_media<kFormat>("sniffer", "Network General Sniffer File"); }

}  // namespace zm

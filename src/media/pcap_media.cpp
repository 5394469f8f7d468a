// The pcap media class: the fixed-slot capture format as a capture-file class (read with flow control, written at close).
#include <cerrno>

#include "core/buffer.h"
#include "core/report.h"
#include "media/capture_media.h"
#include "media/pcap.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/pcap";

std::unique_ptr<CaptureReader> open_reader(const MediaPort& port, const std::string& path) {
    Tcl_Interp* interp = port.interp;
    auto reader = std::make_unique<PcapReader>(interp);
    const char* file = path.c_str();
    switch (reader->open(path)) {
    case PcapOpenResult::ok:
        return reader;
    case PcapOpenResult::open_failed:
        report_open_failure(interp, kModule, path);
        break;
    case PcapOpenResult::short_header:
    case PcapOpenResult::bad_layout:
        report(interp, kModule, __LINE__, LOG_FAULT, "Bad pcap header in file \"%s\"", file);
        break;
    case PcapOpenResult::bad_magic:
        report(interp, kModule, __LINE__, LOG_FAULT, "%s is not a recognized capture file\n", file);
        break;
    case PcapOpenResult::bad_version:
        report(interp, kModule, __LINE__, LOG_FAULT, "Version %d is not supported by this program\n",
               static_cast<int>(reader->header().version));
        break;
    }
    return nullptr;
}

// Records go to the writer's spill file as they come; the file is laid out at close.
class Writer : public CaptureWriter {
public:
    explicit Writer(Tcl_Interp* interp) : writer_(interp) {}
    bool open(const std::string& path) { return writer_.open(path); }
    bool write(PacketBuffer* buffer, const std::string&) override {
        writer_.add(buffer);
        return true;
    }
    bool finish(const std::string& base_node) override { return writer_.finish(pcap_link_type_for(base_node)); }

private:
    PcapWriter writer_;
};

std::unique_ptr<CaptureWriter> open_writer(const MediaPort& port, const std::string& path) {
    return open_capture_writer<Writer>(port.interp, kModule, path);
}

const CaptureFormat kFormat = {
    kModule, "file", "Pcap", "pcap", nullptr, open_reader, open_writer, nullptr, pcap_probe_file,
};

}  // namespace

void register_pcap_media() { register_capture_media<kFormat>("pcap", "PCAP (Packet Capture File)"); }

}  // namespace zm

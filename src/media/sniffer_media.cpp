// The sniffer media class: an interface over a Sniffer capture file, read with flow control or written per packet.
#include <tcl.h>

#include <cstring>
#include <ctime>

#include "core/buffer.h"
#include "core/options.h"
#include "core/report.h"
#include "media/media.h"
#include "media/sniffer.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/sniffer";

struct SnifferState : MediaState {
    explicit SnifferState(Tcl_Interp* interp) : reader(interp), writer(interp) {}
    bool writing = false;
    std::string file;
    SnifferReader reader;
    SnifferWriter writer;
};

SnifferState* state_of(MediaPort& port) { return static_cast<SnifferState*>(port.state.get()); }

int sniffer_open(MediaPort& port, int argc, const char** argv) {
    CaptureOpenArgs args;
    if (!parse_capture_open(port, kModule, "sniffer", "Sniffer", argc, argv, &args)) return 1;
    const char* file = args.file;
    auto state = std::make_unique<SnifferState>(port.interp);
    state->file = file;
    state->writing = args.save;
    if (state->writing) {
        if (!state->writer.open(file)) {
            report_os_error(port.interp, kModule, __LINE__, "Failed to open file \"%s\"", file);
            return 1;
        }
        port.descriptor = -1;  // nothing to read
        port.mode = "w";
    } else {
        switch (state->reader.open(file)) {
        case SnifferOpenResult::ok:
            break;
        case SnifferOpenResult::open_failed:
            report_os_error(port.interp, kModule, __LINE__, "Failed to open file \"%s\"", file);
            return 1;
        case SnifferOpenResult::not_sniffer:
            report(port.interp, kModule, __LINE__, LOG_FAULT, "File \"%s\" is not a sniffer formatted file.", file);
            return 1;
        case SnifferOpenResult::no_frames:
        case SnifferOpenResult::bad_version_record:
            return 1;  // the reader has said why
        }
        port.descriptor = state->reader.descriptor();
        port.mode = "r";
    }
    port.generic_events = true;
    port.state = std::move(state);
    return 0;
}

void sniffer_close(MediaPort& port) {
    SnifferState* s = state_of(port);
    if (!s) return;
    if (s->writing) s->writer.finish();
    port.state.reset();
    port.descriptor = -1;
}

PacketBuffer* sniffer_read(MediaPort& port) {
    SnifferState* s = state_of(port);
    if (!s) return media_end_of_input();
    if (s->writing) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "sniffer file is open for writing");
        return nullptr;
    }
    return s->reader.read(port.pool);
}

int sniffer_write(MediaPort& port, PacketBuffer* buffer) {
    if (!buffer) return 0;
    SnifferState* s = state_of(port);
    if (!s || !s->writing) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "sniffer file is open for reading");
    } else {
        // Write errors are not reported: the file is a record, not a peer.
        s->writer.write(buffer, port.base_node);
    }
    buffer_free(buffer);
    return 0;
}

PacketBuffer* sniffer_fetch(MediaPort& port, uint32_t frame) {
    SnifferState* s = state_of(port);
    if (!s || s->writing) return nullptr;
    return s->reader.fetch(port.pool, frame);
}

std::string ctime_text(int64_t secs) {
    std::time_t t = static_cast<std::time_t>(secs);
    char text[64];
    if (!ctime_r(&t, text)) return {};
    std::string out = text;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

int sniffer_info(MediaPort& port, Tcl_Interp* interp) {
    SnifferState* s = state_of(port);
    if (!s) return TCL_OK;
    unsigned major = 0, minor = 0, network = 0, unit = 0;
    int64_t start = 0;
    bool compressed = false;
    if (s->writing) {
        if (s->writer.version_written()) {
            major = 4, minor = 9, unit = 1;
            network = s->writer.network_type();
            start = s->writer.start_time();
        }
    } else {
        major = s->reader.major(), minor = s->reader.minor();
        network = s->reader.network_type(), unit = s->reader.time_unit();
        start = s->reader.start_time();
        compressed = s->reader.compressed();
    }
    media_append_info(interp, "if_file_name", s->file);
    media_append_info(interp, "sniffer_version", std::to_string(major) + "." + std::to_string(minor));
    media_append_info(interp, "creation_date", ctime_text(start));
    media_append_info(interp, "is_compressed", compressed ? "TRUE" : "FALSE");
    media_append_info(interp, "network_type", sniffer_network_name(network));
    media_append_info(interp, "time_type", sniffer_time_unit_name(unit));
    return TCL_OK;
}

int sniffer_probe(Tcl_Interp*, const char* file, std::string* details) {
    std::vector<std::string> candidates;
    if (!sniffer_probe_file(file, &candidates)) return PROBE_NOT_THIS_CLASS;
    details->clear();
    for (const std::string& c : candidates) {
        if (!details->empty()) *details += ' ';
        *details += c;  // base-node names are plain words
    }
    return PROBE_RECOGNISED;
}

}  // namespace

void register_sniffer_media() {
    MediaClass cls;
    cls.name = "sniffer";
    cls.label = "Network General Sniffer File";
    cls.kind = "f";
    cls.flag = 0;
    cls.open = sniffer_open;
    cls.close = sniffer_close;
    cls.read = sniffer_read;
    cls.write = sniffer_write;
    cls.overflow = media_flow_control;
    cls.fetch = sniffer_fetch;
    cls.info = sniffer_info;
    cls.probe = sniffer_probe;
    register_media_class(cls);
}

}  // namespace zm

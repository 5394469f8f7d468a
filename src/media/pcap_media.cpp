// The pcap media class: an interface over a fixed-slot capture file, read with flow control or written at close.
#include <tcl.h>

#include <cerrno>

#include "core/buffer.h"
#include "core/options.h"
#include "core/report.h"
#include "media/media.h"
#include "media/pcap.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/pcap";

struct PcapState : MediaState {
    explicit PcapState(Tcl_Interp* interp) : reader(interp), writer(interp) {}
    bool writing = false;
    std::string file;
    PcapReader reader;
    PcapWriter writer;
};

PcapState* state_of(MediaPort& port) { return static_cast<PcapState*>(port.state.get()); }

int pcap_open(MediaPort& port, int argc, const char** argv) {
    CaptureOpenArgs args;
    if (!parse_capture_open(port, kModule, "file", "Pcap", argc, argv, &args)) return 1;
    const char* file = args.file;
    auto state = std::make_unique<PcapState>(port.interp);
    state->file = file;
    state->writing = args.save;
    if (state->writing) {
        if (!state->writer.open(file)) {
            report_os_error(port.interp, kModule, __LINE__, "Failed to open file \"%s\"", file);
            return 1;
        }
        port.descriptor = -1;  // nothing to read: written at close
        port.mode = "w";
    } else {
        switch (state->reader.open(file)) {
        case PcapOpenResult::ok:
            break;
        case PcapOpenResult::open_failed:
            report_os_error(port.interp, kModule, __LINE__, "Failed to open file \"%s\"", file);
            return 1;
        case PcapOpenResult::short_header:
        case PcapOpenResult::bad_layout:
            report(port.interp, kModule, __LINE__, LOG_FAULT, "Bad pcap header in file \"%s\"", file);
            return 1;
        case PcapOpenResult::bad_magic:
            report(port.interp, kModule, __LINE__, LOG_FAULT, "%s is not a recognized capture file\n", file);
            return 1;
        case PcapOpenResult::bad_version:
            report(port.interp, kModule, __LINE__, LOG_FAULT, "Version %d is not supported by this program\n",
                   static_cast<int>(state->reader.header().version));
            return 1;
        }
        port.descriptor = state->reader.descriptor();
        port.mode = "r";
    }
    port.generic_events = true;
    port.state = std::move(state);
    return 0;
}

void pcap_close(MediaPort& port) {
    PcapState* s = state_of(port);
    if (!s) return;
    // Write errors at close have no one to go to: the interface is going away.
    if (s->writing) s->writer.finish(pcap_link_type_for(port.base_node));
    port.state.reset();
    port.descriptor = -1;
}

PacketBuffer* pcap_read(MediaPort& port) {
    PcapState* s = state_of(port);
    if (!s) return media_end_of_input();
    if (s->writing) return nullptr;
    return s->reader.read(port.pool);
}

int pcap_write(MediaPort& port, PacketBuffer* buffer) {
    if (!buffer) return 0;
    PcapState* s = state_of(port);
    if (!s || !s->writing) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "pcap file is open for reading");
        buffer_free(buffer);
        return 0;
    }
    s->writer.add(buffer);
    return 0;
}

PacketBuffer* pcap_fetch(MediaPort& port, uint32_t frame) {
    PcapState* s = state_of(port);
    if (!s || s->writing) return nullptr;
    return s->reader.fetch(port.pool, frame);
}

int pcap_info(MediaPort& port, Tcl_Interp* interp) {
    PcapState* s = state_of(port);
    media_append_info(interp, "if_file_name", s ? s->file : std::string());
    return TCL_OK;
}

int pcap_probe(Tcl_Interp*, const char* file, std::string* details) {
    std::vector<std::string> candidates;
    if (!pcap_probe_file(file, &candidates)) return PROBE_NOT_THIS_CLASS;
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const std::string& c : candidates)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(c.c_str(), static_cast<int>(c.size())));
    Tcl_IncrRefCount(list);
    details->assign(Tcl_GetString(list));
    Tcl_DecrRefCount(list);
    return PROBE_RECOGNISED;
}

}  // namespace

void register_pcap_media() {
    MediaClass cls;
    cls.name = "pcap";
    cls.label = "PCAP (Packet Capture File)";
    cls.kind = "f";
    cls.flag = 0;
    cls.open = pcap_open;
    cls.close = pcap_close;
    cls.read = pcap_read;
    cls.write = pcap_write;
    cls.overflow = media_flow_control;
    cls.fetch = pcap_fetch;
    cls.info = pcap_info;
    cls.probe = pcap_probe;
    register_media_class(cls);
}

}  // namespace zm

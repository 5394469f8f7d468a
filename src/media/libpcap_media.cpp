// The libpcap media class: an interface over a standard pcap or pcapng file, read with flow control or written as packets are sent.
#include <tcl.h>

#include <cerrno>

#include "core/buffer.h"
#include "core/report.h"
#include "media/libpcap_format.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/libpcap";

struct LibpcapState : MediaState {
    explicit LibpcapState(Tcl_Interp* interp) : reader(interp) {}
    bool writing = false;
    bool write_failed = false;
    std::string file;
    LibpcapReader reader;
    LibpcapWriter writer;
};

LibpcapState* state_of(MediaPort& port) { return static_cast<LibpcapState*>(port.state.get()); }

int libpcap_open(MediaPort& port, int argc, const char** argv) {
    CaptureOpenArgs args;
    if (!parse_capture_open(port, kModule, "libpcap", "Libpcap", argc, argv, &args)) return 1;
    const char* file = args.file;
    auto state = std::make_unique<LibpcapState>(port.interp);
    state->file = file;
    state->writing = args.save;
    std::string why;
    if (state->writing) {
        if (!state->writer.open(file, libpcap_link_type_for(port.base_node), port.name, &why)) {
            report(port.interp, kModule, __LINE__, LOG_FAULT, "Failed to open file \"%s\": %s", file, why.c_str());
            return 1;
        }
        port.descriptor = -1;  // nothing to read
        port.mode = "w";
    } else {
        switch (state->reader.open(file, &why)) {
        case LibpcapReader::Open::ok:
            break;
        case LibpcapReader::Open::open_failed:
            report_os_error(port.interp, kModule, __LINE__, "Failed to open file \"%s\"", file);
            return 1;
        case LibpcapReader::Open::not_capture:
            report(port.interp, kModule, __LINE__, LOG_FAULT, "%s is not a pcap or pcapng file: %s", file,
                   why.c_str());
            return 1;
        }
        int link = state->reader.link_type();
        if (!libpcap_link_matches(link, port.base_node)) {
            report(port.interp, kModule, __LINE__, LOG_FAULT,
                   "File \"%s\" has link type %d, but base node %s needs link type %d", file, link, port.base_node,
                   libpcap_link_type_for(port.base_node));
            return 1;
        }
        port.descriptor = state->reader.descriptor();
        port.mode = "r";
    }
    port.generic_events = true;
    port.state = std::move(state);
    return 0;
}

void libpcap_close(MediaPort& port) {
    LibpcapState* s = state_of(port);
    if (s && s->writing && !s->writer.finish() && !s->write_failed)
        report(port.interp, kModule, __LINE__, LOG_FAULT, "Failed to write file \"%s\"", s->file.c_str());
    port.state.reset();
    port.descriptor = -1;
}

PacketBuffer* libpcap_read(MediaPort& port) {
    LibpcapState* s = state_of(port);
    if (!s) return media_end_of_input();
    if (s->writing) return nullptr;
    return s->reader.read(port.pool);
}

int libpcap_write(MediaPort& port, PacketBuffer* buffer) {
    if (!buffer) return 0;
    LibpcapState* s = state_of(port);
    if (!s || !s->writing) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "libpcap file is open for reading");
    } else if (!s->writer.add(buffer) && !s->write_failed) {
        // Reported once: the file is incomplete from here on.
        s->write_failed = true;
        report_os_error(port.interp, kModule, __LINE__, "Failed to write file \"%s\"", s->file.c_str());
    }
    buffer_free(buffer);
    return 0;
}

PacketBuffer* libpcap_fetch(MediaPort& port, uint32_t frame) {
    LibpcapState* s = state_of(port);
    if (!s || s->writing) return nullptr;
    return s->reader.fetch(port.pool, frame);
}

int libpcap_info(MediaPort& port, Tcl_Interp* interp) {
    LibpcapState* s = state_of(port);
    media_append_info(interp, "if_file_name", s ? s->file : std::string());
    if (s) {
        bool ng = s->writing ? s->writer.is_pcapng() : s->reader.is_pcapng();
        media_append_info(interp, "if_file_format", ng ? "pcapng" : "pcap");
    }
    return TCL_OK;
}

int libpcap_probe(Tcl_Interp*, const char* file, std::string* details) {
    int link = 0;
    if (!libpcap_probe_file(file, &link)) return PROBE_NOT_THIS_CLASS;
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const std::string& c : libpcap_link_candidates(link))
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(c.c_str(), static_cast<int>(c.size())));
    Tcl_IncrRefCount(list);
    details->assign(Tcl_GetString(list));
    Tcl_DecrRefCount(list);
    return PROBE_RECOGNISED;
}

}  // namespace

void register_libpcap_media() {
    MediaClass cls;
    cls.name = "libpcap";
    cls.label = "Standard pcap/pcapng capture file";
    cls.kind = "f";
    cls.flag = 0;
    cls.open = libpcap_open;
    cls.close = libpcap_close;
    cls.read = libpcap_read;
    cls.write = libpcap_write;
    cls.overflow = media_flow_control;
    cls.fetch = libpcap_fetch;
    cls.info = libpcap_info;
    cls.probe = libpcap_probe;
    register_media_class(cls);
}

}  // namespace zm

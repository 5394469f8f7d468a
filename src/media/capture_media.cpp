// The operations every capture-file media class shares; the format record supplies the rest.
#include "media/capture_media.h"

#include <sys/stat.h>
#include <tcl.h>

#include <cerrno>

#include "core/buffer.h"
#include "core/options.h"
#include "core/report.h"

namespace zm {
namespace {

struct CaptureState : MediaState {
    const CaptureFormat* format = nullptr;
    std::string file;
    std::unique_ptr<CaptureReader> reader;  // set when reading
    std::unique_ptr<CaptureWriter> writer;  // set when writing
};

CaptureState* state_of(MediaPort& port) { return static_cast<CaptureState*>(port.state.get()); }

}  // namespace

int capture_open(const CaptureFormat& F, MediaPort& port, int argc, const char** argv) {
    const char* file = nullptr;
    int save = 0;
    const OptSpec table[] = {
        {"-file", OPT_STRING, 0, &file, "Filename for media to open"},
        {"-save", OPT_CONSTANT, 1, &save, "Whether to save it or not"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    auto words = parse_media_options(port.interp, table, argc, argv);
    if (!words) return bad_open_arguments(port, F.module, F.word);
    if (!file) {
        report(port.interp, F.module, __LINE__, LOG_FAULT, "%s media requires a -file option", F.title);
        return 1;
    }
    warn_unused_open_words(port.interp, *words);
    auto state = std::make_unique<CaptureState>();
    state->format = &F;
    state->file = file;
    if (save) {
        state->writer = F.open_writer(port, state->file);
        if (!state->writer) return 1;
        port.descriptor = -1;  // nothing to read
        port.mode = "w";
    } else {
        struct stat st {};
        if (::stat(file, &st) == 0 && !S_ISREG(st.st_mode)) {
            report(port.interp, F.module, __LINE__, LOG_FAULT, "File \"%s\" is not a regular file", file);
            return 1;
        }
        state->reader = F.open_reader(port, state->file);
        if (!state->reader) return 1;
        port.descriptor = state->reader->descriptor();
        port.mode = "r";
    }
    port.generic_events = true;
    port.state = std::move(state);
    return 0;
}

namespace {

void capture_close(MediaPort& port) {
    CaptureState* s = state_of(port);
    if (!s) return;
    // Write errors at close have no one to go to: the interface is going away.
    if (s->writer) s->writer->finish(port.base_node);
    port.state.reset();
    port.descriptor = -1;
}

PacketBuffer* capture_read(MediaPort& port) {
    CaptureState* s = state_of(port);
    if (!s) return media_end_of_input();
    if (!s->reader) {
        if (s->format->read_while_writing)
            report(port.interp, s->format->module, __LINE__, LOG_FAULT, "%s", s->format->read_while_writing);
        return nullptr;
    }
    return s->reader->read(port.pool);
}

int capture_write(MediaPort& port, PacketBuffer* buffer) {
    if (!buffer) return 0;
    CaptureState* s = state_of(port);
    if (!s || !s->writer) {
        if (s) report(port.interp, s->format->module, __LINE__, LOG_FAULT, "%s file is open for reading", s->format->kind);
        buffer_free(buffer);
        errno = EBADF;
        return 1;
    }
    // Write errors are not reported: the file is a record, not a peer.
    s->writer->write(buffer, port.base_node);
    return 0;
}

PacketBuffer* capture_fetch(MediaPort& port, uint32_t frame) {
    CaptureState* s = state_of(port);
    if (!s || !s->reader) return nullptr;
    return s->reader->fetch(port.pool, frame);
}

int capture_info(MediaPort& port, Tcl_Interp* interp) {
    CaptureState* s = state_of(port);
    if (!s) return TCL_OK;
    media_append_info(interp, "if_file_name", s->file);
    if (s->format->info) s->format->info(s->reader.get(), s->writer.get(), interp);
    return TCL_OK;
}

}  // namespace

int capture_probe(const CaptureFormat& F, const char* file, std::string* details) {
    std::vector<std::string> candidates;
    if (!is_regular_file(file) || !F.probe(file, &candidates)) return PROBE_NOT_THIS_CLASS;
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(list);
    for (const std::string& c : candidates)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(c.c_str(), static_cast<int>(c.size())));
    details->assign(Tcl_GetString(list));
    Tcl_DecrRefCount(list);
    return PROBE_RECOGNISED;
}

void report_open_failure(Tcl_Interp* interp, const char* module, const std::string& path) {
    report_os_error(interp, module, __LINE__, "Failed to open file \"%s\"", path.c_str());
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void register_capture_class(const char* name, const char* label,
                            int (*open)(MediaPort& port, int argc, const char** argv),
                            int (*probe)(Tcl_Interp* interp, const char* file, std::string* details)) {
    register_media_class({.name = name, .label = label, .kind = "f", .flag = 0, .open = open, .close = capture_close,
                          .read = capture_read, .write = capture_write, .overflow = media_flow_control,
                          .fetch = capture_fetch, .info = capture_info, .probe = probe});
}

}  // namespace zm

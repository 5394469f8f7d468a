// Capture-file media classes: one shape for every file format, parametrised by the format's reader and writer.
//
// A format supplies a reader (sequential read and re-read by frame number
// into pool buffers), a writer (one packet at a time, finished at close) and
// a CaptureFormat record: its texts, how to open each side (reporting why
// not), its info pairs and its probe. `register_capture_media` turns that
// record into a media class whose open, close, read, write, fetch, info and
// probe operations are the same for every format:
//   - "-file name" is required and "-save" opens the file for writing;
//   - only a regular file is read (a FIFO or device would block the
//     interpreter), anything else is refused at open and not recognised by
//     the probe;
//   - a write to a file opened for reading is refused ("<kind> file is open
//     for reading"), so the send fails and the drop is counted;
//   - reading is paced by the netif's flow control.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/media.h"

struct Tcl_Interp;

namespace zm {

struct PacketBuffer;
struct Pool;

class CaptureReader {
public:
    virtual ~CaptureReader() = default;
    virtual int descriptor() const = 0;
    // The next frame, nullptr (nothing now) or media_end_of_input().
    virtual PacketBuffer* read(Pool* pool) = 0;
    // Frame `frame` read again, or nullptr.
    virtual PacketBuffer* fetch(Pool* pool, uint32_t frame) = 0;
};

class CaptureWriter {
public:
    virtual ~CaptureWriter() = default;
    // Takes the buffer in every case; false on a write error.
    virtual bool write(PacketBuffer* buffer, const std::string& base_node) = 0;
    // Completes the file at close; false on a write error.
    virtual bool finish(const std::string& base_node) = 0;
};

struct CaptureFormat {
    const char* module;   // report module, e.g. "MEDIA/pcap"
    const char* word;     // in "Bogus arguments to <word> open"
    const char* title;    // in "<title> media requires a -file option"
    const char* kind;     // in "<kind> file is open for reading"
    // Reported when reading is asked of a file opened for writing; null for silence.
    const char* read_while_writing;
    // Each reports why it failed and returns null. The port gives the
    // interface's name and base node (a format may check or record its link
    // type at open).
    std::unique_ptr<CaptureReader> (*open_reader)(const MediaPort& port, const std::string& path);
    std::unique_ptr<CaptureWriter> (*open_writer)(const MediaPort& port, const std::string& path);
    // Appends the class's info pairs after "if_file_name".
    void (*info)(const CaptureReader* reader, const CaptureWriter* writer, Tcl_Interp* interp);
    // Recognises a file by its contents; fills the candidate base nodes.
    bool (*probe)(const std::string& path, std::vector<std::string>* candidates);
};

// The two operations that run before an interface has state of its own,
// given the format they are for.
int capture_open(const CaptureFormat& format, MediaPort& port, int argc, const char** argv);
int capture_probe(const CaptureFormat& format, const char* file, std::string* details);
// Registers the class with the shared operations and the two above.
void register_capture_class(const char* name, const char* label,
                            int (*open)(MediaPort& port, int argc, const char** argv),
                            int (*probe)(Tcl_Interp* interp, const char* file, std::string* details));

// Registers a media class for the format record F (a variable with static
// storage duration).
template <const CaptureFormat& F>
void register_capture_media(const char* name, const char* label) {
    register_capture_class(
        name, label, [](MediaPort& port, int argc, const char** argv) { return capture_open(F, port, argc, argv); },
        [](Tcl_Interp*, const char* file, std::string* details) { return capture_probe(F, file, details); });
}

// Reports "Failed to open file" with the system's reason under `module`.
void report_open_failure(Tcl_Interp* interp, const char* module, const std::string& path);

// Creates a writer W(interp) and opens `path` with W::open; null after the
// report when the file cannot be created.
template <typename W>
std::unique_ptr<CaptureWriter> open_capture_writer(Tcl_Interp* interp, const char* module, const std::string& path) {
    auto writer = std::make_unique<W>(interp);
    if (writer->open(path)) return writer;
    report_open_failure(interp, module, path);
    return nullptr;
}

// True when `path` names a regular file (following links).
bool is_regular_file(const std::string& path);

}  // namespace zm

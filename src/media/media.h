// Media classes: the table of operations behind every interface, and the process-wide registry.
//
// A media class is a kind of packet source and sink (a UDP socket, a capture
// file). The interface (netif) owns one MediaPort and calls the class's
// operations with it at fixed moments. The port is the whole of what a media
// class sees of its interface, so the classes build and test without the
// netif code: unit tests drive them with a port and a pool of their own.
//
// What the netif side provides and calls
// --------------------------------------
// Before `open`, the netif fills the "netif" fields of its port: `netif`,
// `interp`, `name`, `base_node`, `pool` (initialised with the base node's
// maxmtu as room) and `flow_control` (its pause/resume operation). It keeps
// the strings alive as long as the port. Interface names longer than
// kMediaNameMax characters are refused by `netif` before any media is opened.
//
// `open(port, argc, argv)` gets the whole `netif` word vector (argv[argc] ==
// nullptr); the class parses its own options from it without changing the
// caller's vector. On success it has set `mode`, `state` and, when the netif
// is to watch a descriptor with the generic event procedure, `descriptor` and
// `generic_events`. On failure it has reported why and left `state` empty.
//
// While readable events are enabled the netif calls `read(port)` repeatedly:
//   - a buffer: one packet, owned by the netif from now on (frame number set
//     by file classes, 0 otherwise; receive time 0 when not stamped);
//   - nullptr: nothing more right now (the next readable event continues);
//   - media_end_of_input(): the source is exhausted; the netif stops watching
//     it for good.
// A read queue that is full calls `overflow(port, buffer)`; 0 means the buffer
// is queued anyway (file classes pause reading through `port.flow_control`).
// When the queue drains to its low-water mark it calls `overflow(port, nullptr)`.
//
// `write(port, buffer)` takes ownership of the buffer in every case; it
// returns 0, or non-zero with errno set (EWOULDBLOCK makes the netif wait for
// writability and call `write(port, nullptr)` when it comes).
// `fetch(port, frame)` re-reads a frame no longer held (nullptr when it can't);
// `info(port, interp)` appends the class's name/value pairs to the result.
// `close(port)` releases the class's state and file or socket; the netif calls
// it exactly once, before it returns the buffers it holds and destroys the pool.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Tcl_Interp;

namespace zm {

struct Netif;  // the interface record, owned by the netif module
struct PacketBuffer;
struct Pool;
struct OptSpec;

// The longest interface, class or label name a record holds.
constexpr size_t kMediaNameMax = 51;

// Private per-interface state of a media class; destroyed by `close` (or with
// the port, whichever comes first).
struct MediaState {
    virtual ~MediaState() = default;
};

struct MediaPort {
    // Filled by the netif before `open`; valid until after `close`.
    Netif* netif = nullptr;
    Tcl_Interp* interp = nullptr;      // the creating interpreter (reports, option errors)
    const char* name = "";             // interface name
    const char* base_node = "";        // name of the base node (link type of written files)
    Pool* pool = nullptr;              // buffers for reads; room = the base node's maxmtu
    // The netif's pause/resume: with a buffer it turns readable events off and
    // returns 0 (the buffer is queued); with nullptr it turns them back on.
    int (*flow_control)(Netif* netif, PacketBuffer* buffer) = nullptr;

    // Set by the media's `open`.
    // Descriptor to watch for readable events, owned by the media; -1 when
    // there is nothing to read (a capture file opened for writing), in which
    // case the netif registers no event source. A capture file being read is
    // a regular file, so it is always readable: pacing is by flow control.
    int descriptor = -1;
    bool generic_events = false;       // the netif should run its generic event procedure
    const char* mode = nullptr;        // "r", "w" or "rw" (static text)
    std::unique_ptr<MediaState> state;
};

// Returned by `read` at end of input: a pointer with all bits set.
inline PacketBuffer* media_end_of_input() { return reinterpret_cast<PacketBuffer*>(~uintptr_t{0}); }
inline bool is_end_of_input(const PacketBuffer* b) { return b == media_end_of_input(); }

// Outcomes of a probe.
enum ProbeResult { PROBE_ERROR = 0, PROBE_NOT_THIS_CLASS = 1, PROBE_RECOGNISED = 2 };

struct MediaClass {
    std::string name;   // the second word of `netif`
    std::string label;  // human-readable title
    std::string kind;   // "f" for file classes, empty for the socket class
    int flag = 0;       // 1 for the socket class

    // Any operation may be null; the netif skips absent ones.
    int (*open)(MediaPort& port, int argc, const char** argv) = nullptr;  // 0 success
    void (*close)(MediaPort& port) = nullptr;
    PacketBuffer* (*read)(MediaPort& port) = nullptr;
    int (*write)(MediaPort& port, PacketBuffer* buffer) = nullptr;      // owns buffer
    int (*control)(MediaPort& port, int argc, const char** argv) = nullptr;  // Tcl code
    int (*overflow)(MediaPort& port, PacketBuffer* buffer) = nullptr;
    PacketBuffer* (*fetch)(MediaPort& port, uint32_t frame) = nullptr;
    int (*info)(MediaPort& port, Tcl_Interp* interp) = nullptr;         // Tcl code
    // Recognises a capture file; on PROBE_RECOGNISED `details` holds the
    // candidate base-node names as a Tcl list. A file that cannot be opened
    // is not this class; on PROBE_ERROR the message is in the interp result.
    int (*probe)(Tcl_Interp* interp, const char* file, std::string* details) = nullptr;
};

// Adds a class in front of the registry (so the newest is found first) and
// returns the registry's own record. Names are copied.
MediaClass* register_media_class(const MediaClass& cls);
// The first class whose name equals `name` exactly, or null.
MediaClass* find_media_class(const char* name);
// Calls fn(cls, a, b) for every class, newest registration first.
void for_each_media_class(void (*fn)(MediaClass* cls, void* a, void* b), void* a, void* b);
// Every class, newest registration first.
std::vector<MediaClass*> media_classes();

// Registers the built-in classes (sniffer, udp, pcap, libpcap, ether, in that
// order) once per process; later calls do nothing.
void register_builtin_media();

// Registration of each built-in class (one file each).
void register_sniffer_media();
void register_udp_media();
void register_pcap_media();
void register_libpcap_media();
void register_ether_media();

// The overflow operation of the file classes: hands the request to the
// netif's flow control; returns 1 (drop) when the netif provides none.
int media_flow_control(MediaPort& port, PacketBuffer* buffer);

// Appends name/value pairs to the interpreter result (for `info` operations).
void media_append_info(Tcl_Interp* interp, const char* name, const std::string& value);

// Parses a class's open options from the whole `netif` word vector into the
// table's targets, leaving the caller's vector as it is. Returns the words no
// option took (`netif`, the interface name, class and base node first), or nothing
// when the options do not parse (the interpreter result says why).
std::optional<std::vector<const char*>> parse_media_options(Tcl_Interp* interp, const OptSpec* table, int argc,
                                                            const char** argv);
// Warns of the words no open option took beyond the four that name the
// interface.
void warn_unused_open_words(Tcl_Interp* interp, const std::vector<const char*>& words);
// Reports "Bogus arguments to <what> open" under `module`; returns 1, the
// result of a failed open.
int bad_open_arguments(const MediaPort& port, const char* module, const char* what);

}  // namespace zm

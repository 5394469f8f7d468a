// The renderer framework: the class registry, the renderer record every class builds on, and buffer preparation.
//
// A renderer class is a name and a create function, registered once per
// process. A renderer is a Tcl command made by `<netif> renderer <class>`;
// its client data is a record derived from Renderer, released through
// Tcl_EventuallyFree so that deleting a renderer while it runs is safe.
//
// A renderer keeps the name of its interface as well as the record: every
// call resolves the name again, and a renderer whose interface is gone fails
// with a report rather than touching the freed record (renderer_netif).
#pragma once

#include <tcl.h>

#include <memory>
#include <string>

#include "decode/decode.h"

namespace zm {

struct Netif;
struct DecodeContext;
struct PacketBuffer;

// create(renderer name, netif, interp, argc, argv): argv[0] the interface
// name, argv[1] "renderer", argv[2] the class name, then the class's words
// (the framework's -name removed; argv[argc] null). Returns 0 after creating
// the renderer's command, 1 after reporting why not.
using RendererCreate = int (*)(const char* name, Netif* netif, Tcl_Interp* interp, int argc, const char** argv);

struct RendererClass {
    std::string name;
    RendererCreate create = nullptr;
};

// Enters (or replaces) a class; the record lives for the process.
void register_renderer_class(const char* name, RendererCreate create);
RendererClass* find_renderer_class(const char* name);
// Class names in registration order.
std::vector<std::string> renderer_class_names();

// The part of a renderer record every class shares.
struct Renderer {
    std::string name_;
    std::string module_;      // reporting module, "RENDER/<class>"
    Netif* netif_ = nullptr;
    std::string netif_name_;
    DecodeContext* ctx_ = nullptr;  // own decode context (classes that decode), released with the record

    Renderer(const char* name, const char* module, Netif* netif, bool with_context);
    virtual ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;
};

// The renderer's interface, or null after reporting that it is closed.
Netif* renderer_netif(Tcl_Interp* interp, Renderer* r);

constexpr const char* kHandlesUsage = "Usage: {renderer} {list of buffer handles}";

// The interface for a call of the renderer with `objc` words, or null after a
// report: `usage` when there are fewer than `min_words`, or the closed interface.
Netif* renderer_call_netif(Tcl_Interp* interp, Renderer* r, int objc, int min_words = 2,
                           const char* usage = kHandlesUsage);

// The renderer-command procedure of a class: (record, interp, objc, objv).
using RendererProc = int (*)(Renderer* r, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

// Creates the Tcl command of a renderer record (owned by the command from
// here on) whose procedure is `proc`.
void create_renderer_command(Tcl_Interp* interp, std::unique_ptr<Renderer> r, RendererProc proc);

// Lends a class's decode scratch to a buffer that has no decode tree, and
// decodes a buffer whose tree is empty; the scratch is detached again when
// the object goes out of scope. tree() is null when nothing could be decoded.
class PreparedBuffer {
public:
    PreparedBuffer(PacketBuffer* buffer, DecodeBlock& scratch, Node* base, DecodeContext* ctx);
    ~PreparedBuffer();
    PreparedBuffer(const PreparedBuffer&) = delete;
    PreparedBuffer& operator=(const PreparedBuffer&) = delete;
    const DecodeBlock* tree() const;
    bool lent() const { return lent_; }

private:
    PacketBuffer* buffer_;
    DecodeBlock& scratch_;
    bool lent_ = false;
};

// "<frame> truncated to w": the display truncation, w-3 characters and "...".
void append_truncated(std::string& out, std::string_view text, size_t width);
// As append_truncated, then blanks up to `width`.
void append_column(std::string& out, std::string_view text, size_t width);

// Local-time text of a receive time by strftime format. The last few texts
// are cached by (format, second): frames of one second convert once.
const std::string& local_time_text(uint32_t sec, const char* format);

// Appends `n` in decimal, right-aligned in `width` characters, padded with
// `pad` (printf's "%*lu", or "%0*lu" with '0').
void append_uint(std::string& out, unsigned long n, size_t width = 0, char pad = ' ');

}  // namespace zm

namespace zm {

// Holds one reference to a Tcl object for a scope.
class ObjRef {
public:
    explicit ObjRef(Tcl_Obj* obj) : obj_(obj) { Tcl_IncrRefCount(obj_); }
    ~ObjRef() { Tcl_DecrRefCount(obj_); }
    ObjRef(const ObjRef&) = delete;
    ObjRef& operator=(const ObjRef&) = delete;
    Tcl_Obj* get() const { return obj_; }

private:
    Tcl_Obj* obj_;
};

}  // namespace zm

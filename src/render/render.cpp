// The renderer framework: class registry, the `renderer` interface sub-command, `renderers`, and buffer preparation.
#include "render/render.h"

#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "netif/engine_link.h"
#include "netif/netif.h"

namespace zm {
namespace {

constexpr const char* kModule = "render";

// Classes by name, plus the registration order for listing.
struct ClassRegistry {
    std::unordered_map<std::string, std::unique_ptr<RendererClass>> by_name;
    std::vector<RendererClass*> order;
};

ClassRegistry& classes() {
    static ClassRegistry registry;
    return registry;
}

// Default renderer names: "<netif>.renderer-<n>", one counter for every interface.
int& name_counter() {
    static int counter = 0;
    return counter;
}

struct CommandData {
    std::unique_ptr<Renderer> renderer;
    RendererProc proc;
};

void free_command_data(char* data) { delete reinterpret_cast<CommandData*>(data); }

// The record is released with Tcl_EventuallyFree: a renderer deleted while
// one of its calls is running (a logging script, a handler) is freed when
// that call returns.
void renderer_deleted(ClientData data) { Tcl_EventuallyFree(data, free_command_data); }

int renderer_command(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) noexcept {
    auto* cd = static_cast<CommandData*>(data);
    Tcl_Preserve(data);
    int code = guard(interp, cd->renderer->module_.c_str(), cd->renderer->name_.c_str(),
                     [&]() { return cd->proc(cd->renderer.get(), interp, objc, objv); });
    Tcl_Release(data);
    return code;
}

int renderer_subcommand(Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 3) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Usage: {netif} renderer {renderer_class} ?options?");
        return TCL_ERROR;
    }
    RendererClass* cls = find_renderer_class(argv[2]);
    if (!cls) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Unknown renderer class \"%s\"", argv[2]);
        return TCL_ERROR;
    }
    const char* name = nullptr;
    const OptSpec table[] = {
        {"-name", OPT_STRING, 0, &name, "Internal name of packet handler routine"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    int count = argc;
    if (parse_options(interp, &count, argv, table, 0) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to renderer command");
        return TCL_ERROR;
    }
    std::string chosen;
    if (name) {
        chosen = name;
    } else {
        chosen = netif->name_ + ".renderer-" + std::to_string(++name_counter());
    }
    int code = cls->create(chosen.c_str(), netif, interp, count, argv);
    if (code == 0) Tcl_SetObjResult(interp, Tcl_NewStringObj(chosen.c_str(), -1));
    return code == 0 ? TCL_OK : TCL_ERROR;
}

int cmd_renderers(ClientData, Tcl_Interp* interp, Words&) {
    set_text_list_result(interp, renderer_class_names());
    return TCL_OK;
}

}  // namespace

void register_renderer_class(const char* name, RendererCreate create) {
    ClassRegistry& reg = classes();
    auto& slot = reg.by_name[name];
    if (!slot) {
        slot = std::make_unique<RendererClass>();
        slot->name = name;
        reg.order.push_back(slot.get());
    }
    slot->create = create;
}

RendererClass* find_renderer_class(const char* name) {
    auto& map = classes().by_name;
    auto it = map.find(name ? name : "");
    return it == map.end() ? nullptr : it->second.get();
}

std::vector<std::string> renderer_class_names() {
    std::vector<std::string> names;
    for (RendererClass* c : classes().order) names.push_back(c->name);
    return names;
}

Renderer::Renderer(const char* name, const char* module, Netif* netif, bool with_context)
    : name_(name), module_(module), netif_(netif), netif_name_(netif->name_) {
    if (with_context) ctx_ = engine_create_context();
}

Renderer::~Renderer() {
    if (ctx_) engine_release_context(ctx_);
}

Netif* renderer_netif(Tcl_Interp* interp, Renderer* r) {
    Netif* n = find_netif(r->netif_name_.c_str());
    if (n != r->netif_ || (n && n->hidden_)) {
        report(interp, r->module_.c_str(), __LINE__, LOG_FAULT, "Renderer \"%s\": netif \"%s\" has been closed",
               r->name_.c_str(), r->netif_name_.c_str());
        return nullptr;
    }
    return n;
}

Netif* renderer_call_netif(Tcl_Interp* interp, Renderer* r, int objc, int min_words, const char* usage) {
    if (objc < min_words) {
        report(interp, r->module_.c_str(), __LINE__, LOG_FAULT, "%s", usage);
        return nullptr;
    }
    return renderer_netif(interp, r);
}

void create_renderer_command(Tcl_Interp* interp, std::unique_ptr<Renderer> r, RendererProc proc) {
    auto* cd = new CommandData{std::move(r), proc};
    Tcl_CreateObjCommand(interp, cd->renderer->name_.c_str(), renderer_command, cd, renderer_deleted);
}

PreparedBuffer::PreparedBuffer(PacketBuffer* buffer, DecodeBlock& scratch, Node* base, DecodeContext* ctx)
    : buffer_(buffer), scratch_(scratch) {
    if (!buffer_->decode) {
        scratch_.clear();
        buffer_->decode = &scratch_;
        lent_ = true;
    }
    if (!engine_has_tree(buffer_)) engine_decode(buffer_, base, ctx);
}

PreparedBuffer::~PreparedBuffer() {
    if (buffer_->decode == &scratch_) buffer_->decode = nullptr;
}

const DecodeBlock* PreparedBuffer::tree() const { return decode_tree(buffer_); }

void append_truncated(std::string& out, std::string_view text, size_t width) {
    if (text.size() <= width) {
        out += text;
    } else if (width >= 3) {
        out.append(text.data(), width - 3);
        out += "...";
    } else {
        out.append(text.data(), width);
    }
}

void append_column(std::string& out, std::string_view text, size_t width) {
    size_t at = out.size();
    append_truncated(out, text, width);
    size_t used = out.size() - at;
    if (used < width) out.append(width - used, ' ');
}

const std::string& local_time_text(uint32_t sec, const char* format) {
    struct Entry {
        const char* format = nullptr;
        uint32_t sec = 0;
        std::string text;
    };
    static Entry cache[4];
    static unsigned next = 0;
    for (Entry& e : cache)
        if (e.format == format && e.sec == sec) return e.text;
    Entry& e = cache[next++ % 4];
    time_t t = static_cast<time_t>(sec);
    struct tm local {};
    localtime_r(&t, &local);
    char text[64];
    size_t n = std::strftime(text, sizeof text, format, &local);
    e.format = format;
    e.sec = sec;
    e.text.assign(text, n);
    return e.text;
}

void append_uint(std::string& out, unsigned long n, size_t width, char pad) {
    char digits[24];
    size_t k = sizeof digits;
    do {
        digits[--k] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n);
    size_t len = sizeof digits - k;
    if (len < width) out.append(width - len, pad);
    out.append(digits + k, len);
}

// Enters the `renderer` interface sub-command and the `renderers` command.
void register_renderer_framework(Tcl_Interp* interp) {
    register_netif_subcommand("renderer", renderer_subcommand);
    create_command<cmd_renderers>(interp, "renderers");
}

}  // namespace zm

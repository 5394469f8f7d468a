// The tap_summary renderer: one line per matching packet in script-defined columns.
#include <tcl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "core/report.h"
#include "core/timeutil.h"
#include "decode/format.h"
#include "netif/engine_link.h"
#include "netif/netif.h"
#include "pdl/protodb.h"
#include "render/names.h"
#include "render/render.h"
#include "render/render_classes.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/tap_summary";
constexpr size_t kHeaderWidth = 256;
constexpr size_t kTitleMax = 51;

enum ItemKind : int {
    KIND_FIELD = 0,
    KIND_FRAME = 1,
    KIND_DATE = 2,
    KIND_TIME = 3,
    KIND_LENGTH = 4,
    KIND_TRUNC_LENGTH = 5,
    KIND_DELTA = 6,
    KIND_DIRECTION = 7,
    KIND_DST_NAME = kKindDstName,
    KIND_SRC_NAME = kKindSrcName,
    KIND_UNRESOLVED = 10,
};

struct Keyword {
    const char* word;
    int kind;
};
constexpr Keyword kKeywords[] = {
    {"FIELD", KIND_FIELD},         {"FRAME", KIND_FRAME},           {"DATE", KIND_DATE},
    {"TIME", KIND_TIME},           {"LENGTH", KIND_LENGTH},         {"TRUNC_LENGTH", KIND_TRUNC_LENGTH},
    {"DELTA", KIND_DELTA},         {"DIRECTION", KIND_DIRECTION},   {"IP_DST_NAME", KIND_DST_NAME},
    {"IP_SRC_NAME", KIND_SRC_NAME}, {"?", KIND_UNRESOLVED},
};

struct Summary;

struct ColumnItem {
    Summary* owner;
    std::string title;
    size_t offset;
    size_t width;
    std::string word;
    int kind;
};

// Fields and nodes bound to column items, process-wide: the last renderer to
// bind one wins. A renderer's bindings are removed when it is deleted.
std::unordered_map<const void*, ColumnItem*>& bindings() {
    static std::unordered_map<const void*, ColumnItem*> map;
    return map;
}

void bind(const void* object, ColumnItem* item) {
    bindings()[object] = item;
    if (item->kind == KIND_DST_NAME || item->kind == KIND_SRC_NAME)
        set_field_name_kind(static_cast<const Field*>(object), item->kind);
}

struct Summary : Renderer {
    using Renderer::Renderer;
    std::string header;
    std::string columns_text;
    std::string line;
    std::vector<std::unique_ptr<ColumnItem>> items;
    size_t total = 0;
    std::vector<Filter*> filters;
    int owner_cell = 0;
    TimeVal previous{};
    uint32_t previous_frame = 0;

    ~Summary() override {
        for (Filter* f : filters) engine_remove(f);
        auto& map = bindings();
        for (auto it = map.begin(); it != map.end();) {
            if (it->second->owner == this)
                it = map.erase(it);
            else
                ++it;
        }
    }

    void write(const ColumnItem& item, std::string_view text) {
        line.replace(item.offset, item.width, item.width, ' ');
        size_t n = std::min(text.size(), item.width - 1);
        line.replace(item.offset, n, text.data(), n);
    }
};

struct TagVisit {
    ColumnItem* item;
    bool nodes;
    int bound;
};

void visit_tagged(int kind, void* object, void* ctx) {
    auto* v = static_cast<TagVisit*>(ctx);
    if ((kind == 0) != v->nodes) return;
    bind(object, v->item);
    ++v->bound;
}

void resolve_item(Tcl_Interp* interp, Summary* s, ColumnItem* item) {
    for (const Keyword& k : kKeywords) {
        if (item->word != k.word) continue;
        item->kind = k.kind;
        if (k.kind == KIND_DST_NAME || k.kind == KIND_SRC_NAME) {
            const char* name = k.kind == KIND_DST_NAME ? "IP_HDR.ip_dest_address" : "IP_HDR.ip_src_address";
            if (Field* f = find_field(nullptr, name)) bind(f, item);
        }
        return;
    }
    if (Field* f = find_field(nullptr, item->word)) {
        item->kind = KIND_FIELD;
        bind(f, item);
        return;
    }
    if (const char* tag = find_tag(item->word)) {
        // "Network Layer" names the nodes that carry it; any other tag the
        // fields that carry it, or its nodes when no field does.
        item->kind = KIND_FIELD;
        TagVisit visit{item, item->word == "Network Layer", 0};
        for_each_tagged(tag, visit_tagged, &visit);
        if (!visit.nodes && visit.bound == 0) {
            visit.nodes = true;
            for_each_tagged(tag, visit_tagged, &visit);
        }
        return;
    }
    item->kind = KIND_UNRESOLVED;
    report(interp, kModule, __LINE__, LOG_CODE, "couldn't recognize column item type \"%s\" in \"%s\"",
           item->word.c_str(), s->name_.c_str());
}

// Appends ".mmm", the milliseconds of a microsecond count.
void append_millis(std::string& out, uint32_t usec) {
    out += '.';
    append_uint(out, usec / 1000, 3, '0');
}

// The words of a Tcl list, released with the object.
struct SplitList {
    int count = 0;
    const char** words = nullptr;
    bool ok = false;
    explicit SplitList(const char* text) { ok = Tcl_SplitList(nullptr, text, &count, &words) == TCL_OK; }
    ~SplitList() {
        if (words) Tcl_Free(reinterpret_cast<char*>(words));
    }
    SplitList(const SplitList&) = delete;
    SplitList& operator=(const SplitList&) = delete;
};

DecodeBlock& scratch() {
    static DecodeBlock block;
    return block;
}

void write_line(Summary* s, PacketBuffer* b, const DecodeBlock& tree) {
    s->line.assign(s->total, ' ');
    const uint8_t* data = b->data();
    uint32_t length = b->length();
    std::string text;
    for (const DecodeElement& e : tree) {
        if (e.type == DECODE_HDR) {
            if (b->frame <= s->previous_frame) s->previous = TimeVal{};
            TimeVal now{static_cast<int32_t>(b->sec), static_cast<int32_t>(b->usec)};
            TimeVal delta;
            time_delta(&s->previous, now, &delta);
            s->previous_frame = b->frame;
            for (auto& item : s->items) {
                text.clear();
                switch (item->kind) {
                case KIND_FRAME: append_uint(text, b->frame); break;
                case KIND_DATE: text = local_time_text(b->sec, "%d-%b-%y"); break;
                case KIND_TIME:
                    text = local_time_text(b->sec, "%H:%M:%S");
                    append_millis(text, b->usec);
                    break;
                case KIND_LENGTH: append_uint(text, b->trunc_len ? b->trunc_len : length); break;
                case KIND_TRUNC_LENGTH: append_uint(text, length); break;
                case KIND_DELTA:
                    append_uint(text, static_cast<unsigned long>(delta.sec));
                    append_millis(text, static_cast<uint32_t>(delta.usec));
                    break;
                case KIND_DIRECTION: text = b->direction == 1 ? "Rx" : b->direction == 2 ? "Tx" : "NA"; break;
                case KIND_UNRESOLVED:
                    if (Field* f = find_field(nullptr, item->word)) {
                        item->kind = KIND_FIELD;
                        bind(f, item.get());
                    }
                    continue;
                default: continue;
                }
                s->write(*item, text);
            }
            continue;
        }
        if (e.type != DECODE_NODE && e.type != DECODE_FLD) continue;
        auto& map = bindings();
        if (map.empty()) break;
        auto it = map.find(e.object);
        if (it == map.end() || it->second->owner != s) continue;
        ColumnItem* item = it->second;
        if (e.type == DECODE_NODE) {
            s->write(*item, e.node()->name_);
            continue;
        }
        if ((item->kind == KIND_DST_NAME || item->kind == KIND_SRC_NAME) && e.width <= 32) {
            if (const std::string* host = host_name(e.value)) {
                s->write(*item, *host);
                continue;
            }
        }
        format_field(e, data, length, text, 256);
        s->write(*item, text);
    }
}

// Summarises one packet into `out`; nothing when the renderer's filters do not match it.
void summarise(Summary* s, Netif* netif, PacketBuffer* b, Tcl_Obj* out) {
    // A packet decoded before (by its interface, during dispatch) is decoded
    // again with this renderer's own filters, so that they see it too; its
    // own decode tree is put back afterwards.
    struct Restore {
        PacketBuffer* buffer;
        void* tree;
        ~Restore() {
            if (tree) buffer->decode = tree;
        }
    } restore{b, nullptr};
    if (!s->filters.empty() && engine_has_tree(b)) {
        restore.tree = b->decode;
        b->decode = nullptr;
    }
    PreparedBuffer prepared(b, scratch(), netif->base_node_, s->ctx_);
    const DecodeBlock* tree = prepared.tree();
    if (!s->filters.empty()) {
        if (!s->owner_cell) return;
        s->owner_cell = 0;
    }
    if (!tree) return;
    write_line(s, b, *tree);
    std::string text;
    Tcl_Obj* words[8];
    words[0] = Tcl_NewStringObj(s->line.data(), static_cast<int>(s->total ? s->total - 1 : 0));
    text = local_time_text(b->sec, "%d-%b-%y");
    words[1] = Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
    text = local_time_text(b->sec, "%H:%M:%S");
    append_millis(text, b->usec);
    words[2] = Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
    words[3] = Tcl_NewWideIntObj(b->frame);
    words[4] = Tcl_NewWideIntObj(b->length());
    words[5] = Tcl_NewStringObj(netif->name_.data(), static_cast<int>(netif->name_.size()));
    words[6] = Tcl_NewWideIntObj(b->direction);
    words[7] = Tcl_NewWideIntObj(b->trunc_len);
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewListObj(8, words));
}

int summary_proc(Renderer* base, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    auto* s = static_cast<Summary*>(base);
    if (objc < 2) {
        Tcl_Obj* words[2] = {Tcl_NewStringObj(s->header.data(), static_cast<int>(s->header.size())),
                             Tcl_NewStringObj(s->columns_text.data(), static_cast<int>(s->columns_text.size()))};
        Tcl_SetObjResult(interp, Tcl_NewListObj(2, words));
        return TCL_OK;
    }
    Netif* netif = renderer_netif(interp, s);
    if (!netif) return TCL_ERROR;
    ObjRef list(Tcl_NewListObj(0, nullptr));
    for (int i = 1; i < objc; ++i) {
        PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[i]));
        if (b) summarise(s, netif, b, list.get());
    }
    Tcl_SetObjResult(interp, list.get());
    return TCL_OK;
}

// Parses the column list into items and the header; false after a report.
bool parse_columns(Tcl_Interp* interp, Summary* s, const char* command, const char* text) {
    SplitList column_words(text);
    if (!column_words.ok) {
        report(interp, kModule, __LINE__, LOG_FAULT, "bad list passed to \"%s\"", command);
        return false;
    }
    s->header.assign(kHeaderWidth, ' ');
    size_t offset = 0;
    for (int c = 0; c < column_words.count; ++c) {
        SplitList column(column_words.words[c]);
        if (!column.ok) {
            report(interp, kModule, __LINE__, LOG_FAULT, "bad sub list \"%s\" passed to \"%s\"", column_words.words[c],
                   command);
            return false;
        }
        char* end = nullptr;
        long width = column.count >= 2 ? std::strtol(column.words[0], &end, 0) : 0;
        if (column.count < 2 || !end || *end != '\0' || width < 1) {
            report(interp, kModule, __LINE__, LOG_FAULT,
                   "bad column \"%s\" passed to \"%s\": a width of at least 1 and a title expected",
                   column_words.words[c], command);
            return false;
        }
        if (offset + static_cast<size_t>(width) > kHeaderWidth) {
            report(interp, kModule, __LINE__, LOG_FAULT, "columns passed to \"%s\" are wider than %d characters",
                   command, static_cast<int>(kHeaderWidth));
            return false;
        }
        size_t w = static_cast<size_t>(width);
        std::string_view title = column.words[1];
        size_t shown = std::min(title.size(), w);
        s->header.replace(offset, shown, title.data(), shown);
        for (int k = 2; k < column.count; ++k) {
            auto item = std::make_unique<ColumnItem>(
                ColumnItem{s, std::string(title.substr(0, kTitleMax)), offset, w, column.words[k], KIND_UNRESOLVED});
            resolve_item(interp, s, item.get());
            s->items.push_back(std::move(item));
        }
        offset += w;
    }
    s->total = offset;
    s->header.resize(offset ? offset - 1 : 0);
    s->line.assign(offset, ' ');
    return true;
}

// Compiles the filter list into the renderer's decode context. A list wrapped
// in one pair of braces is unwrapped first.
void attach_filters(Tcl_Interp* interp, Summary* s, Netif* netif, const char* command, const char* text) {
    std::string unwrapped;
    size_t len = std::strlen(text);
    if (len > 2 && text[0] == '{' && text[len - 1] == '}') {
        SplitList outer(text);
        if (outer.ok && outer.count == 1) {
            unwrapped = outer.words[0];
            text = unwrapped.c_str();
        }
    }
    SplitList filters(text);
    if (!filters.ok) {
        report(interp, kModule, __LINE__, LOG_FAULT, "bad filter list passed to \"%s\"", command);
        return;
    }
    for (int i = 0; i < filters.count; ++i) {
        Filter* f = engine_compile(interp, filters.words[i], netif->base_node_);
        if (!f) continue;
        if (!engine_insert(interp, s->ctx_, s->name_.c_str(), &s->owner_cell, f)) {
            engine_remove(f);
            continue;
        }
        s->filters.push_back(f);
    }
}

int create_summary(const char* name, Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 5) {
        report(interp, kModule, __LINE__, LOG_FAULT,
               "Usage: {netif} renderer tap_summary {filter list} {column list} ?-name name?");
        return 1;
    }
    auto s = std::make_unique<Summary>(name, kModule, netif, true);
    s->columns_text = argv[4];
    if (!parse_columns(interp, s.get(), name, argv[4])) return 1;
    attach_filters(interp, s.get(), netif, name, argv[3]);
    create_renderer_command(interp, std::move(s), summary_proc);
    return 0;
}

}  // namespace

void register_summary_class() { register_renderer_class("tap_summary", create_summary); }

}  // namespace zm

// Filter compilation: the builder the grammar calls, the compile entry points and the filter dump.
#include "filter/filter.h"

#include <algorithm>
#include <cstring>

#include "core/debug_flags.h"
#include "core/report.h"
#include "filter/filter_parse.h"
#include "pdl/protodb.h"

namespace zm {

namespace {

constexpr const char* kModule = "pktfilt";

// Debug reports are formatted only when someone can see them.
bool debug_on() {
    const LogSettings& s = log_settings();
    return s.level != 5 && (s.level <= 1 || s.enabled);
}

uint32_t g_filter_counter = 0;
uint32_t g_empty_counter = 0;

const char* rop_name(int op) {
    switch (op) {
    case ROP_EQ: return "ROP_EQ";
    case ROP_NE: return "ROP_NE";
    case ROP_GT: return "ROP_GT";
    case ROP_GE: return "ROP_GE";
    case ROP_LT: return "ROP_LT";
    case ROP_LE: return "ROP_LE";
    default: return "<unknown_rop>";
    }
}

bool blank(const char* text) {
    if (!text) return true;
    for (const char* p = text; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Filter storage

Filter::Filter() : arena_(inline_, sizeof inline_) {}
Filter::~Filter() = default;

void* Filter::allocate(size_t bytes, size_t align) { return arena_.allocate(bytes ? bytes : 1, align); }

// ---------------------------------------------------------------------------
// Values

const char* FilterCompile::keep_text(std::string_view text) {
    char* p = static_cast<char*>(arena->allocate(text.size() + 1, 1));
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
}

FilterValue* FilterCompile::make_value(int type, const void* bytes, uint32_t length, std::string_view text,
                                       uint32_t capacity) {
    auto* v = static_cast<FilterValue*>(arena->allocate(sizeof(FilterValue), alignof(FilterValue)));
    new (v) FilterValue();
    size_t cap = std::max<size_t>({length, capacity, 4}) + 1;
    v->bytes = static_cast<uint8_t*>(arena->allocate(cap, 4));
    std::memset(v->bytes, 0, cap);
    if (length) std::memcpy(v->bytes, bytes, length);
    v->length = length;
    v->text = keep_text(text);
    v->type = type;
    return v;
}

FilterValue* FilterCompile::make_int(uint32_t number, std::string_view text, uint32_t capacity) {
    FilterValue* v = make_value(PT_INT, &number, 4, text, capacity);
    return v;
}

// ---------------------------------------------------------------------------
// Builder

FilterNode* FilterCompile::add_node(Node* node) {
    FilterNode* n = filter->make<FilterNode>();
    n->node_ = node;
    n->filter_ = filter;
    ++filter->match_points_;
    if (debug_on()) report(nullptr, kModule, __LINE__, LOG_DEBUG, "adding to filter %u node %s", filter->number_,
                           node ? node->name_.c_str() : "RAWDATA");
    return n;
}

FilterNode* FilterCompile::add_raw(const FilterValue* raw) {
    FilterNode* n = filter->make<FilterNode>();
    n->filter_ = filter;
    n->raw_ = static_cast<uint8_t*>(filter->allocate(raw->length ? raw->length : 1, 1));
    if (raw->length) std::memcpy(n->raw_, raw->bytes, raw->length);
    n->raw_bits_ = raw->length * 8u;
    return n;
}

Condition* FilterCompile::add_condition(Field* field, int op, FilterValue* values) {
    // The grammar collects the list newest first.
    FilterValue* ordered = nullptr;
    uint32_t count = 0;
    while (values) {
        FilterValue* next = values->next;
        values->next = ordered;
        ordered = values;
        values = next;
        ++count;
    }
    if (!ordered) return nullptr;
    const FilterValue* last = ordered;
    bool mixed = false;
    for (const FilterValue* v = ordered; v; v = v->next) {
        if (v->length != ordered->length) mixed = true;
        if (v->length == 0 && debug_on())
            report(nullptr, kModule, __LINE__, LOG_DEBUG, "string is zero length for field \"%s\"...\n",
                   field->name_.c_str());
        last = v;
    }
    if (mixed && debug_on()) report(nullptr, kModule, __LINE__, LOG_DEBUG, "elements of list must be same type");

    uint32_t size = last->length;
    size_t total = static_cast<size_t>(count) * size;
    if (total > kSendValueMax && send) {
        // The send value would be cut short and the packet built from a part of it.
        report(nullptr, kModule, __LINE__, LOG_FAULT,
               "values for field \"%s\" take %zu bytes, more than the %zu bytes a condition of a send filter holds",
               field->name_.c_str(), total, kSendValueMax);
        failed = true;
        return nullptr;
    }

    Condition* c = filter->make<Condition>();
    c->filter_ = filter;
    c->field_ = field;
    c->op_ = op;
    c->value_count_ = count;
    c->value_size_ = size;
    c->values_ = static_cast<uint8_t*>(filter->allocate(total ? total : 1, 4));
    c->keys_ = static_cast<uint32_t*>(filter->allocate(sizeof(uint32_t) * count, alignof(uint32_t)));
    uint32_t i = 0;
    for (const FilterValue* v = ordered; v; v = v->next, ++i) {
        // A shorter value is zero-padded to the slot, a longer one cut to it.
        uint8_t* slot = c->values_ + static_cast<size_t>(i) * size;
        std::memset(slot, 0, size);
        std::memcpy(slot, v->bytes, std::min(v->length, size));
        uint32_t key = 0;
        std::memcpy(&key, v->bytes, std::min<uint32_t>(v->length, 4));
        c->keys_[i] = key;
    }
    size_t copy = std::min(total, kSendValueMax);
    if (total) std::memcpy(c->send_value_, c->values_, copy);
    c->send_value_len_ = static_cast<uint32_t>(copy);
    size_t tl = std::min(std::strlen(ordered->text), kValueTextMax);
    std::memcpy(c->value_text_, ordered->text, tl);
    c->value_text_[tl] = '\0';
    ++filter->match_points_;
    ++filter->conditions_;
    return c;
}

void FilterCompile::attach(FilterNode* node, const FilterFieldList& fields, FilterNodeList* out) {
    node->conditions_ = fields.cond_head;
    for (Condition* c = fields.cond_head; c; c = c->next_) c->filter_ = filter;
    out->head = node;
    out->tail = node;
    if (fields.nest_head) {
        node->prev_ = fields.nest_head;
        fields.nest_head->next_ = node;
        out->tail = fields.nest_tail;
        for (FilterNode* n = fields.nest_head; n; n = n == fields.nest_tail ? nullptr : n->prev_)
            if (!n->enclosing_) n->enclosing_ = node;
    }
}

void FilterCompile::finish(const FilterNodeList& list) {
    list.head->next_ = nullptr;
    list.tail->prev_ = nullptr;
    filter->last_ = list.head;
    filter->first_ = list.tail;
}

void FilterCompile::warn_rop(int op) {
    if (op != ROP_EQ && debug_flags().rop_warn)
        std::printf("%s(%d): unsupported relational operator \"%s\", continuing...\n", "filt", __LINE__,
                    rop_name(op));
}

void FilterCompile::nest_open(int line) {
    if (depth >= kNestDepth) {
        std::printf("%s(%d) lex_node_stack blown!\n", "filt", line);
        ++nest_overflow;
        return;
    }
    nest_stack[depth++] = cur_node;
    cur_node = nullptr;
    cur_field = nullptr;
}

void FilterCompile::nest_close(int line) {
    if (nest_overflow > 0) {
        --nest_overflow;
        return;
    }
    if (depth <= 0) {
        std::printf("%s(%d) lex_node_stack_blown!\n", "filt", line);
        return;
    }
    cur_node = nest_stack[--depth];
    cur_field = nullptr;
}

// ---------------------------------------------------------------------------
// Entry points

std::unique_ptr<Filter> compile_filter(ProtoDb& db, const char* text, Node* base, bool send) {
    auto filter = std::make_unique<Filter>();
    filter->send_ = send;
    if (blank(text)) {
        filter->empty_ = true;
        filter->number_ = ++g_empty_counter;
        if (text) filter->text_ = text;
    } else {
        filter->number_ = ++g_filter_counter;
        filter->text_ = text;
        // Values die with the compilation; a typical filter needs no heap for them.
        alignas(std::max_align_t) std::byte scratch[4096];
        std::pmr::monotonic_buffer_resource arena(scratch, sizeof scratch);
        FilterCompile fc;
        fc.db = &db;
        fc.filter = filter.get();
        fc.base = base;
        fc.send = send;
        fc.input = filter->text_.data();
        fc.input_len = filter->text_.size();
        fc.arena = &arena;
        int rc = 1;
        try {
            filter_scan_begin(&fc);
            rc = filter_run_parser(&fc);
        } catch (const FilterScanError& e) {
            report(nullptr, "filt", __LINE__, LOG_FAULT, "filter scanner failed: %s", e.what());
        } catch (const std::bad_alloc&) {
            report(nullptr, "filt", __LINE__, LOG_FAULT, "filter scanner failed: out of memory");
        }
        if (rc != 0 || fc.failed || !filter->last_) {
            std::printf("%s(%d): Error...\n", kModule, __LINE__);
            std::fflush(stdout);
            return nullptr;
        }
    }
    if (debug_flags().display_filter_tree) dump_filter(filter.get(), stdout);
    std::fflush(stdout);
    return filter;
}

Filter* compile_receive_filter(Tcl_Interp*, const char* text, Node* base) {
    return compile_filter(protodb(), text, base, false).release();
}

Filter* compile_send_filter(Tcl_Interp*, const char* text, Node* base) {
    return compile_filter(protodb(), text, base, true).release();
}

DecodeContext* create_context() { return std::make_unique<DecodeContext>().release(); }

// ---------------------------------------------------------------------------
// Dump

namespace {

void dump_bytes(std::FILE* out, const uint8_t* bytes, uint32_t count, uint32_t size) {
    for (uint32_t i = 0; i < count; ++i) {
        std::fputc(' ', out);
        for (uint32_t j = 0; j < size; ++j) std::fprintf(out, j ? ".%u" : "%u", bytes[static_cast<size_t>(i) * size + j]);
    }
    std::fputc('\n', out);
}

}  // namespace

void dump_filter(const Filter* filter, std::FILE* out) {
    std::fprintf(out, "==================================================\n(start of dump)\n");
    std::fprintf(out, "%s(%d): filter dump:\n%s\n", kModule, __LINE__, filter ? filter->text_.c_str() : "");
    if (!filter || !filter->last_) {
        std::fprintf(out, "no filter...\n");
    } else {
        for (const FilterNode* n = filter->last_; n; n = n->prev_) {
            std::fprintf(out, "  prev...\n");
            if (!n->node_) std::fprintf(out, "  fnode->node is RAWDATA\n");
            else std::fprintf(out, "  fnode->node->name = \"%s\"\n", n->node_->name_.c_str());
            if (n->enclosing_ && n->enclosing_->node_)
                std::fprintf(out, "    subnode = \"%s\"\n", n->enclosing_->node_->name_.c_str());
            std::fprintf(out, "    next...\n");
            for (const Condition* c = n->conditions_; c; c = c->next_) {
                std::fprintf(out, "    ffld->fld->name = \"%s\"\n", c->field_->name_.c_str());
                std::fprintf(out, "      num_values = %ld, val_size = %ld, value_bin = %d\n",
                             static_cast<long>(c->value_count_), static_cast<long>(c->value_size_),
                             c->send_value_flag_ ? 1 : 0);
                std::fprintf(out, "      val_list = ");
                dump_bytes(out, c->values_, c->value_count_, c->value_size_);
                std::fprintf(out, "      val_bin  = ");
                uint32_t fit = c->value_size_ ? c->send_value_len_ / c->value_size_ : 0;
                dump_bytes(out, c->send_value_, fit, c->value_size_);
            }
        }
    }
    std::fprintf(out, "(end of dump)\n--------------------------------------------------\n");
    std::fflush(out);
}

}  // namespace zm

// Packet encoder: node layout, field values, selector fields, and the length and checksum fix-ups.
#include "encode/encoder.h"

#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "core/bits.h"
#include "core/report.h"
#include "decode/expr.h"
#include "encode/checksum/checksum.h"
#include "filter/filter.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "sendpkt";
constexpr uint32_t kScratchBits = 4096;
constexpr uint32_t kScratchBytes = kScratchBits / 8;
// Embedded nodes and field references nest at most this deep (a description
// that refers to itself stops here instead of exhausting the stack).
constexpr int kMaxDepth = 64;

// Where a field of a filter node was put.
struct FieldPlace {
    const FilterNode* fnode;
    const Field* field;
    uint32_t offset;
    uint32_t width;
    bool given;  // the filter gave the value
};

// Start and end bit of a filter node.
struct NodeSpan {
    const FilterNode* fnode;
    uint32_t start;
    uint32_t end;
    bool ended;
};

// A field's value, ready to be written.
struct Value {
    bool deferred = false;
    bool numeric = false;     // `number` holds it (fields of 1..32 bits that are not strings)
    uint32_t number = 0;
    const uint8_t* bytes = nullptr;  // otherwise: left-justified value bytes
    uint32_t nbytes = 0;
    bool given = false;
};

// State of the build in progress (the encoder globals). Vectors keep their
// capacity between builds, so steady-state builds do not allocate here.
struct EncoderState {
    PacketBuffer* buffer = nullptr;
    uint8_t* data = nullptr;
    uint32_t room = 0;             // bytes that may be written
    uint32_t reported_room = 0;    // the room named in overrun reports
    uint32_t length = 0;           // packet bytes, once laid out
    uint32_t dirty = 0;            // bytes from the start the build may have written
    uint32_t ip_offset = 0;
    const Fixup* fixup = nullptr;  // the fix-up being evaluated
    Filter* filter = nullptr;
    std::vector<Fixup> fixups;     // creation order; evaluated newest first
    std::vector<FieldPlace> places;
    std::vector<NodeSpan> spans;
    std::array<uint8_t, kScratchBytes> scratch{};
};

EncoderState& state() {
    static EncoderState s;
    return s;
}

bool is_str(const Field* f) { return f->display_format_ == DISP_STR; }

const Condition* condition_on(const FilterNode* n, const Field* f) {
    for (const Condition* c = n->conditions_; c; c = c->next_)
        if (c->field_ == f) return c;
    return nullptr;
}

NodeSpan* span_of(const FilterNode* n) {
    for (NodeSpan& s : state().spans)
        if (s.fnode == n) return &s;
    return nullptr;
}

FieldPlace* place_of(const FilterNode* n, const Field* f) {
    for (FieldPlace& p : state().places)
        if (p.field == f && (!n || p.fnode == n)) return &p;
    return nullptr;
}

bool nested_in(const FilterNode* n, const FilterNode* e) {
    for (const FilterNode* x = n->enclosing_; x; x = x->enclosing_)
        if (x == e) return true;
    return false;
}

bool overrun(uint64_t end_bit) {
    EncoderState& s = state();
    if ((end_bit + 7) / 8 <= s.room) {
        s.dirty = std::max(s.dirty, static_cast<uint32_t>((end_bit + 7) / 8));
        return false;
    }
    report(nullptr, kModule, __LINE__, LOG_FAULT, "Overran %d-byte buffer", static_cast<int>(s.reported_room));
    return true;
}

// Writes the value's bits at `offset` (`width` bits). The caller checked the room.
void write_value(const Value& v, uint32_t offset, uint32_t width) {
    uint8_t* p = state().data + offset / 8;
    int bit = static_cast<int>(offset % 8);
    if (width == 0) return;
    if (v.numeric) {
        put_bits_value(v.number, p, bit, static_cast<int>(width));
        return;
    }
    zero_bits(p, bit, static_cast<int>(width));
    uint64_t have = static_cast<uint64_t>(v.nbytes) * 8;
    long count = static_cast<long>(std::min<uint64_t>(have, width));
    if (count <= 0) return;
    if (bit == 0 && count % 8 == 0)
        std::memcpy(p, v.bytes, static_cast<size_t>(count / 8));
    else
        bitcopy(v.bytes, 0, p, bit, count);
}

uint32_t reverse_bits(uint32_t v, uint32_t width) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < width; ++i) r = (r << 1) | ((v >> i) & 1u);
    return r;
}

// Bit- and byte-swapped fields are stored reversed; the value is given in natural order.
void apply_swaps(const Field* f, uint32_t width, Value& v) {
    if (!(f->flags_ & (FLD_BITSWAP | FLD_BYTESWAP)) || v.deferred) return;
    EncoderState& s = state();
    if (v.numeric) {
        if (f->flags_ & FLD_BITSWAP) v.number = reverse_bits(v.number, width);
        if ((f->flags_ & FLD_BYTESWAP) && width >= 16) {
            uint32_t lj = v.number << (32 - width);
            lj = (lj & 0x0000FFFFu) | ((lj & 0x00FF0000u) << 8) | ((lj & 0xFF000000u) >> 8);
            v.number = lj >> (32 - width);
        }
        return;
    }
    uint32_t n = std::min<uint32_t>(v.nbytes, kScratchBytes);
    if (v.bytes != s.scratch.data()) {
        std::memmove(s.scratch.data(), v.bytes, n);
        v.bytes = s.scratch.data();
    }
    v.nbytes = n;
    if (f->flags_ & FLD_BITSWAP) {
        uint32_t bits = std::min<uint32_t>(width, n * 8);
        if (bits > static_cast<uint32_t>(kBitswapMax))
            report(nullptr, kModule, __LINE__, LOG_WARNING, "Field \"%s\" is too wide (%u bits) to be bit-swapped",
                   f->name_.c_str(), width);
        else
            bitswap(s.scratch.data(), 0, bits);
    }
    if ((f->flags_ & FLD_BYTESWAP) && n >= 2) std::swap(s.scratch[0], s.scratch[1]);
}

// Sets `v` from value bytes (a symbol's or a condition's), numeric for narrow non-string fields.
void take_bytes(Value& v, const uint8_t* bytes, uint32_t nbytes, bool native_number, uint32_t width, bool str) {
    if (width <= 32 && !str) {
        v.numeric = true;
        if (native_number || nbytes >= 4) {
            std::memcpy(&v.number, bytes, 4);
        } else {
            uint32_t x = 0;
            for (uint32_t i = 0; i < nbytes; ++i) x |= static_cast<uint32_t>(bytes[i]) << (8 * i);
            v.number = x;
        }
        return;
    }
    if (native_number) {
        // A 32-bit number stands for its four bytes as stored.
        std::memcpy(state().scratch.data(), bytes, 4);
        v.bytes = state().scratch.data();
        v.nbytes = 4;
        return;
    }
    v.bytes = bytes;
    v.nbytes = nbytes;
}

void take_symbol(Value& v, const Symbol* sym, uint32_t width, bool str) {
    if (sym->length_ == 0)
        take_bytes(v, sym->inline_, 4, true, width, str);
    else
        take_bytes(v, sym->value_at(), sym->length_, false, width, str);
}

const FilterNode* find_filter_node(const Node* node) {
    for (const FilterNode* n = state().filter->last_; n; n = n->prev_)
        if (n->node_ == node) return n;
    return nullptr;
}

Value produce(const FilterNode* n, const Field* f, uint32_t width, int depth);

Value field_reference(const Field* f, const Symbol* src, uint32_t width, int depth) {
    Value v;
    const Field* ref = src->ref_field_;
    const FilterNode* holder = ref && ref->owner_ ? find_filter_node(ref->owner_) : nullptr;
    if (!holder || depth >= kMaxDepth) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "Unsupported field reference in pdl file for \"%s.%s\"",
               f->owner_ ? f->owner_->name_.c_str() : "", f->name_.c_str());
        v.numeric = width <= 32 && !is_str(f);
        v.nbytes = 0;
        return v;
    }
    v = produce(holder, ref, width, depth + 1);
    v.given = false;
    if (v.deferred) {
        // A computed field is not known during layout: the reference reads zero.
        v = Value{};
        v.numeric = width <= 32 && !is_str(f);
    }
    return v;
}

// The value of field `f` (width `width`) in filter node `n`.
Value produce(const FilterNode* n, const Field* f, uint32_t width, int depth) {
    Value v;
    bool str = is_str(f);
    if (const Condition* c = condition_on(n, f)) {
        v.given = true;
        if (const Symbol* lv = find_legal_value(f, c->value_text_)) {
            take_symbol(v, lv, width, str);
        } else {
            uint32_t first = std::min(c->value_size_, c->send_value_len_);
            take_bytes(v, c->send_value_, first, first == 0, width, str);
        }
        return v;
    }
    const Symbol* src = f->value_source_;
    if (src) {
        switch (src->kind_) {
        case SYM_VALUE:
        case SYM_RANGE_LOW:
        case SYM_RANGE_HIGH:
            take_symbol(v, src, width, str);
            return v;
        case SYM_CHECKSUM:
        case SYM_LENGTH:
            v.deferred = true;
            return v;
        case SYM_FIELD_REF:
            return field_reference(f, src, width, depth);
        default:
            break;
        }
    } else if (width > kScratchBits) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "Field \"%s\" has a width %u which exceeds max of %lu bits",
               f->name_.c_str(), width, static_cast<unsigned long>(kScratchBits));
    }
    v.numeric = width <= 32 && !str;
    return v;
}

// Gives the selector field of `n` the value that leads to its child, unless the filter set it.
void set_selector_field(const FilterNode* n, const Field* field, uint32_t value) {
    if (!field) return;
    FieldPlace* p = place_of(n, field);
    if (!p) p = place_of(nullptr, field);
    if (!p || p->given || p->width == 0 || p->width > 32) return;
    put_bits_value(value, state().data + p->offset / 8, static_cast<int>(p->offset % 8), static_cast<int>(p->width));
    const_cast<Field*>(field)->cur_value_ = value;
}

// Every "field == constant" (either way round) the condition requires.
void set_condition_fields(const FilterNode* n, const Expr* e, int depth) {
    if (!e || depth > kMaxDepth) return;
    if (e->type_ == EXPR_EQ && e->left_ && e->right_) {
        const Expr* name = e->left_->type_ == EXPR_NAME ? e->left_ : e->right_;
        const Expr* num = name == e->left_ ? e->right_ : e->left_;
        if (name->type_ == EXPR_NAME && name->field_ && num->type_ == EXPR_NUMBER)
            set_selector_field(n, name->field_, num->value_);
        return;
    }
    if (e->type_ == EXPR_AND) {
        set_condition_fields(n, e->left_, depth + 1);
        set_condition_fields(n, e->right_, depth + 1);
    }
}

void set_selector(const FilterNode* n) {
    const ChildLink* link = n->child_link_;
    if (!link || (link->flags_ & LINK_DEFAULT) || !n->node_) return;
    if (link->flags_ & LINK_CONSTANT) {
        const Expr* sel = n->node_->selector_;
        if (sel && sel->type_ == EXPR_NAME) set_selector_field(n, sel->field_, link->value_);
        return;
    }
    set_condition_fields(n, link->selector_, 0);
}

bool lay_out_field(const FilterNode* n, Field* f, uint32_t& pos, int depth) {
    EncoderState& s = state();
    const Condition* c = condition_on(n, f);
    // Width expressions of trailing data read the node's start and, for a
    // field the filter gives, the given value's length as the area's end.
    DecodeGlobals& g = decode_globals();
    NodeSpan* span = span_of(n);
    g.node_start = span ? span->start : pos;
    g.total_bits = pos + (c ? std::min(c->value_size_, c->send_value_len_) * 8 : 0);
    uint32_t width = field_width(f->name_.c_str(), f->width_);

    Value v = produce(n, f, width, depth);
    apply_swaps(f, width, v);
    if (overrun(static_cast<uint64_t>(pos) + width)) return false;

    f->cur_width_ = width;
    f->cur_offset_ = pos;
    if (width <= 32 && !is_str(f)) f->cur_value_ = v.deferred ? 0 : v.number;
    s.places.push_back({n, f, pos, width, v.given});
    if (v.deferred) {
        Fixup fx;
        fx.calc = f->value_source_;
        fx.node = n->node_;
        fx.field = f;
        fx.width = width;
        fx.offset = pos;
        fx.fnode = n;
        fx.link = n->child_link_;
        fx.ip_offset = s.ip_offset;
        s.fixups.push_back(fx);
        if (width) zero_bits(s.data + pos / 8, static_cast<int>(pos % 8), static_cast<int>(width));
    } else {
        write_value(v, pos, width);
    }
    pos += width;
    return true;
}

// Lays out filter nodes from `cur` inwards. In a call for embedded content
// (`enclosing` set) it stops after the nodes nested in `enclosing` when
// `nested_only`, else at the end of the filter. `*rest` receives the first
// node not laid out.
bool encode_nodes(FilterNode* cur, uint32_t& pos, const FilterNode* enclosing, bool nested_only, FilterNode** rest,
                  int depth) {
    EncoderState& s = state();
    if (depth > kMaxDepth) {
        report(nullptr, kModule, __LINE__, LOG_FAULT, "Embedded nodes nested deeper than %d levels", kMaxDepth);
        return false;
    }
    FilterNode* n = cur;
    while (n) {
        if (enclosing && nested_only && !nested_in(n, enclosing)) break;
        s.spans.push_back({n, pos, pos, false});
        FilterNode* next = n->prev_;
        if (!n->node_) {
            if (overrun(static_cast<uint64_t>(pos) + n->raw_bits_)) return false;
            if (n->raw_bits_) {
                Value v;
                v.bytes = n->raw_;
                v.nbytes = (n->raw_bits_ + 7) / 8;
                write_value(v, pos, n->raw_bits_);
            }
            pos += n->raw_bits_;
        } else {
            const std::string& name = n->node_->name_;
            if (name == "IP_HDR" || name == "IPv6_HDR") s.ip_offset = pos;
            for (Field* f = n->node_->first_field_; f; f = f->next_) {
                if (!(f->flags_ & FLD_SUBNODES)) {
                    if (!lay_out_field(n, f, pos, depth)) return false;
                    continue;
                }
                FilterNode* inner = next;
                if (inner && ((f->is_child() && f->next_) || (inner->node_ && inner->node_ == f->element_node_))) {
                    report(nullptr, kModule, __LINE__, LOG_DEBUG, "embeded array or child \"%s\" in node \"%s\" during send",
                           f->name_.c_str(), name.c_str());
                    bool nested = inner->enclosing_ == n || nested_in(inner, n);
                    if (!encode_nodes(inner, pos, n, nested, &next, depth + 1)) return false;
                }
                int64_t adjusted = static_cast<int64_t>(pos) + (n->child_link_ ? n->child_link_->offset_ : 0);
                if (adjusted < 0 || overrun(static_cast<uint64_t>(adjusted))) {
                    if (adjusted < 0)
                        report(nullptr, kModule, __LINE__, LOG_FAULT, "child offset of node \"%s\" is before the packet",
                               name.c_str());
                    return false;
                }
                pos = static_cast<uint32_t>(adjusted);
            }
            set_selector(n);
            for (Fixup& fx : s.fixups)
                if (fx.fnode == n && !fx.closed && (fx.calc->kind_ == SYM_CHECKSUM || fx.calc->kind_ == SYM_LENGTH) &&
                    fx.calc->range_end_ != Evaluator::pdu_end) {
                    fx.end_bit = pos;
                    fx.closed = true;
                }
        }
        if (NodeSpan* sp = span_of(n)) {
            sp->end = pos;
            sp->ended = true;
        }
        n = next;
        if (enclosing && nested_only && n && !nested_in(n, enclosing)) {
            report(nullptr, kModule, __LINE__, LOG_DEBUG, "end of embeded array \"%s\"",
                   enclosing->node_ ? enclosing->node_->name_.c_str() : "RAWDATA");
            break;
        }
    }
    *rest = n;
    return true;
}

// ---- built-ins: byte positions in the packet being built -------------------

const FilterNode* named_fnode(const Expr* call) {
    EncoderState& s = state();
    const FilterNode* own = s.fixup ? s.fixup->fnode : nullptr;
    const std::string& name = call->name_;
    if (call->type_ != EXPR_NAME || name.empty() || name == "node" || name == "frag_start" || name == "frag_end")
        return own;
    const Node* node = find_node(name);
    if (!node || !s.filter) return own;
    if (own && own->node_ == node) return own;
    for (const FilterNode* x = own; x; x = x->next_)
        if (x->node_ == node) return x;
    const FilterNode* found = find_filter_node(node);
    return found ? found : own;
}

int32_t bi_pdu_start(const Expr*, int, const int32_t*) { return 0; }
int32_t bi_pdu_end(const Expr*, int, const int32_t*) { return static_cast<int32_t>(state().length); }
int32_t bi_ip_offset(const Expr*, int, const int32_t*) {
    const Fixup* fx = state().fixup;
    return static_cast<int32_t>((fx ? fx->ip_offset : state().ip_offset) / 8);
}
int32_t bi_frag_start(const Expr* call, int, const int32_t*) {
    const NodeSpan* sp = span_of(named_fnode(call));
    return sp ? static_cast<int32_t>(sp->start / 8) : 0;
}
int32_t bi_frag_end(const Expr* call, int, const int32_t*) {
    const FilterNode* n = named_fnode(call);
    const Fixup* fx = state().fixup;
    if (fx && n == fx->fnode && fx->closed) return static_cast<int32_t>(fx->end_bit / 8);
    const NodeSpan* sp = span_of(n);
    return sp ? static_cast<int32_t>(sp->end / 8) : 0;
}
int32_t bi_length(const Expr*, int argc, const int32_t* argv) {
    if (argc < 2) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(argv[argc - 1]) - static_cast<uint32_t>(argv[argc - 2]));
}
int32_t bi_checksum(const Expr* call, int argc, const int32_t* argv) {
    EncoderState& s = state();
    if (argc < 2 || !s.data || !call->calc_) return 0;
    const Symbol* calc = call->calc_;
    ChecksumFn fn = calc->checksum_fn_;
    if (!fn && calc->checksum_name_) fn = find_checksum(calc->checksum_name_);
    if (!fn) return 0;
    int32_t a = argv[argc - 2], b = argv[argc - 1];
    // The range is clamped to the packet: the algorithm is never pointed outside it.
    if (a < 0 || static_cast<uint32_t>(a) > s.length) return 0;
    int64_t bits = b > a ? (static_cast<int64_t>(b) - a) * 8 : 0;
    int32_t result = 0;
    int width = s.fixup ? static_cast<int>(s.fixup->width) : 16;
    fn(s.data + a, 0, static_cast<int32_t>(std::min<int64_t>(bits, INT32_MAX)), &result, 0, width,
       const_cast<Fixup*>(s.fixup), s.length - static_cast<uint32_t>(a));
    return result;
}

void install_builtins() {
    static bool done = false;
    if (done) return;
    done = true;
    set_builtin(Evaluator::pdu_start, bi_pdu_start);
    set_builtin(Evaluator::pdu_end, bi_pdu_end);
    set_builtin(Evaluator::ip_offset, bi_ip_offset);
    set_builtin(Evaluator::frag_start, bi_frag_start);
    set_builtin(Evaluator::frag_end, bi_frag_end);
    set_builtin(Evaluator::length, bi_length);
    set_builtin(Evaluator::checksum, bi_checksum);
}

// A length(pdu_start, pdu_end) on the selector field of a node whose child is
// chosen by value: the field carries the child's value instead.
bool skipped(const Fixup& fx) {
    if (fx.calc->kind_ != SYM_LENGTH) return false;
    if (fx.calc->range_start_ != Evaluator::pdu_start || fx.calc->range_end_ != Evaluator::pdu_end) return false;
    if (!fx.link || !(fx.link->flags_ & LINK_CONSTANT) || !fx.node || !fx.node->selector_) return false;
    return fx.node->selector_->field_ == fx.field;
}

void run_fixups(int kind) {
    EncoderState& s = state();
    for (auto it = s.fixups.rbegin(); it != s.fixups.rend(); ++it) {
        Fixup& fx = *it;
        if (fx.done || fx.calc->kind_ != kind) continue;
        fx.done = true;
        if (skipped(fx)) continue;
        s.fixup = &fx;
        uint32_t v = static_cast<uint32_t>(eval_expr(fx.field->send_));
        s.fixup = nullptr;
        if (fx.width == 0) continue;
        uint8_t* p = s.data + fx.offset / 8;
        int bit = static_cast<int>(fx.offset % 8);
        if (fx.width <= 32) {
            put_bits_value(v, p, bit, static_cast<int>(fx.width));
            const_cast<Field*>(fx.field)->cur_value_ = v;
        } else {
            // A wide computed field holds the number in its last 32 bits.
            uint32_t tail_at = fx.offset + fx.width - 32;
            put_bits_value(v, s.data + tail_at / 8, static_cast<int>(tail_at % 8), 32);
        }
    }
}

// Drops every pointer into the build's buffer and filter, and the records that hold more.
void forget_build(EncoderState& s) {
    s.buffer = nullptr;
    s.data = nullptr;
    s.filter = nullptr;
    s.fixup = nullptr;
    s.fixups.clear();
    s.places.clear();
    s.spans.clear();
}

void reset(PacketBuffer* buffer, Filter* filter) {
    EncoderState& s = state();
    forget_build(s);
    s.buffer = buffer;
    s.data = buffer->data();
    s.room = encoder_room(buffer);
    s.reported_room = buffer->pool ? buffer->pool->room : buffer->size - kBufferOverhead;
    s.length = 0;
    s.dirty = 0;
    s.ip_offset = 0;
    s.filter = filter;
}

// Leaves no pointers into a buffer or filter that the caller frees next.
struct StateGuard {
    ~StateGuard() { forget_build(state()); }
};

struct BufferFree {
    void operator()(PacketBuffer* b) const { buffer_free(b); }
};

// The buffer send builds go into, kept between builds: zero-filled once,
// and after each build only the bytes it may have written are cleared
// again, so a build costs what it writes, not the whole room.
std::unique_ptr<PacketBuffer, BufferFree>& scratch_buffer() {
    static std::unique_ptr<PacketBuffer, BufferFree> b;
    return b;
}

}  // namespace

uint32_t encoder_room(const PacketBuffer* buffer) {
    if (!buffer || buffer->size <= buffer->head) return 0;
    uint32_t room = buffer->pool ? buffer->pool->room : buffer->size - kBufferOverhead;
    uint32_t fits = buffer->size - buffer->head;
    uint32_t addressable = 0xFFFFu - buffer->head;
    return std::min({room, fits, addressable});
}

int64_t encode_filter(PacketBuffer* buffer, Filter* filter, FilterNode* outermost) {
    install_builtins();
    StateGuard guard;
    reset(buffer, filter);
    EncoderState& s = state();
    uint32_t pos = 0;
    FilterNode* rest = nullptr;
    if (!encode_nodes(outermost, pos, nullptr, false, &rest, 0)) return -1;
    s.length = (pos + 7) / 8;
    buffer->tail = static_cast<uint16_t>(buffer->head + s.length);
    run_fixups(SYM_LENGTH);
    run_fixups(SYM_CHECKSUM);
    return pos;
}

int build_packet(PacketBuffer* buffer, const char* filter_text, Node* base, const TimeVal* timestamp,
                 uint32_t direction, uint32_t trunc_len) {
    if (!buffer) return 1;
    struct FilterFree {
        void operator()(Filter* f) const { free_filter(f); }
    };
    std::unique_ptr<Filter, FilterFree> filter(compile_send_filter(nullptr, filter_text ? filter_text : "", base));
    if (!filter) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "bad packet specification");
        return 1;
    }
    FilterNode* outermost = complete_send_filter(base, filter.get());
    if (!outermost) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "packet specification has illegal order");
        return 1;
    }
    if (timestamp) {
        buffer->sec = static_cast<uint32_t>(timestamp->sec);
        buffer->usec = static_cast<uint32_t>(timestamp->usec);
    } else {
        buffer_stamp_now(buffer);
    }
    buffer->direction = direction;
    buffer->trunc_len = trunc_len;
    buffer->base_node = base;
    buffer->tail = buffer->head;
    return encode_filter(buffer, filter.get(), outermost) < 0 ? 1 : 0;
}

int build_send_packet(uint32_t room, const char* filter_text, Node* base, const TimeVal* timestamp,
                      uint32_t direction, uint32_t trunc_len, PacketBuffer** out) {
    *out = nullptr;
    auto& scratch = scratch_buffer();
    if (!scratch || encoder_room(scratch.get()) != room) {
        scratch.reset(buffer_alloc(room));
        if (!scratch) return 2;
    }
    PacketBuffer* b = scratch.get();
    state().dirty = 0;
    int failed = build_packet(b, filter_text, base, timestamp, direction, trunc_len);
    PacketBuffer* copy = failed ? nullptr : buffer_copy_detached(b);
    std::memset(b->data(), 0, std::min(state().dirty, encoder_room(b)));
    b->tail = b->head;
    if (failed) return 1;
    if (!copy) return 2;
    *out = copy;
    return 0;
}

}  // namespace zm

// The decode walk: nodes, fields, arrays and child selection, and the pool of decode blocks.
#include "decode/decode.h"

#include <algorithm>
#include <new>
#include <vector>

#include "core/report.h"
#include "decode/expr.h"
#include "filter/match.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "DECODE/decode";
// A grown block keeps its allocation across packets up to this many bytes.
constexpr size_t kKeepGrownBytes = 64 * 1024;

// The decode in progress: its block, nesting depth and whether it was cut short.
struct Walk {
    DecodeBlock* block = nullptr;
    int depth = 0;
    bool stopped = false;
    bool active = false;
};

Walk& walk() {
    static Walk w;
    return w;
}

// Every pooled block ever made, and those not attached to a buffer. The
// pool lives for the process; once it is gone (exit) releases are ignored.
bool g_pool_gone = false;
struct BlockPool {
    std::vector<std::unique_ptr<DecodeBlock>> all;
    std::vector<DecodeBlock*> free;
    ~BlockPool() { g_pool_gone = true; }
};
BlockPool& block_pool() {
    static BlockPool pool;
    return pool;
}

void stop_walk(const char* why, const char* name) {
    Walk& w = walk();
    if (!w.stopped)
        report(nullptr, kModule, __LINE__, LOG_WARNING, "Decode stopped: %s at \"%s\"", why, name);
    w.stopped = true;
}

// Appends one element. Opening and field elements are refused once the tree
// holds kMaxDecodeElements (the walk stops); closing elements are always
// written, so every opened node and array is closed.
inline bool emit(uint32_t type, uint32_t index, uint32_t value, uint32_t offset, uint32_t width, void* object,
                 const char* name) {
    Walk& w = walk();
    if (type != DECODE_NODE_END && type != DECODE_ARRAY_END && w.block->count() >= kMaxDecodeElements) {
        stop_walk("too many decode elements", name);
        return false;
    }
    if (!w.block->push(DecodeElement{type, index, value, offset, width, 0, object})) {
        stop_walk("no memory for the decode tree", name);
        return false;
    }
    return true;
}

// Nesting guard: one per decode_node / decode_array frame.
struct Nest {
    bool ok;
    explicit Nest(const char* name) {
        Walk& w = walk();
        ok = !w.stopped && w.depth < kMaxDecodeDepth;
        if (!ok && !w.stopped) stop_walk("descriptions nested too deeply", name);
        ++w.depth;
    }
    ~Nest() { --walk().depth; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
};

uint32_t repeat_limit(const ArraySpec* aspec) {
    return aspec->count_field_ ? aspec->count_field_->cur_value_ : aspec->count_;
}

// The child link of `node` that the packet selects, or null.
ChildLink* select_child(const Node* node) {
    const Expr* sel = node->selector_;
    bool have_key = sel != nullptr;
    int32_t key = 0;
    if (sel) {
        if (sel->type_ == EXPR_NAME && sel->evaluator_ == Evaluator::field_value)
            key = sel->field_ ? static_cast<int32_t>(sel->field_->cur_value_) : 0;
        else
            key = eval_expr(sel);
    }
    for (ChildLink* link = node->children_; link; link = link->next_) {
        if (link->flags_ & (LINK_DEFAULT | LINK_ARRAY)) continue;
        if (link->flags_ & LINK_CONSTANT) {
            if (have_key && static_cast<int32_t>(link->value_) == key) return link;
        } else if (link->selector_ && eval_expr(link->selector_) != 0) {
            return link;
        }
    }
    return nullptr;
}

uint32_t clamp_bits(int64_t v, uint32_t total) {
    if (v < 0) return 0;
    return v > total ? total : static_cast<uint32_t>(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Decode blocks

DecodeBlock::DecodeBlock(uint32_t room)
    : capacity_(room ? room : 1), inline_capacity_(room ? room : 1),
      inline_(new DecodeElement[room ? room : 1]) {
    data_ = inline_.get();
}

DecodeBlock::~DecodeBlock() = default;

void DecodeBlock::clear() {
    count_ = 0;
    if (heap_ && static_cast<size_t>(capacity_) * sizeof(DecodeElement) > kKeepGrownBytes) {
        heap_.reset();
        data_ = inline_.get();
        capacity_ = inline_capacity_;
    }
}

bool DecodeBlock::grow(uint32_t needed) {
    uint64_t want = static_cast<uint64_t>(needed) * 2;
    if (want > 0xFFFFFFFFu / sizeof(DecodeElement)) return false;
    std::unique_ptr<DecodeElement[]> bigger(new (std::nothrow) DecodeElement[want]);
    if (!bigger) return false;
    std::copy(data_, data_ + count_, bigger.get());
    heap_ = std::move(bigger);
    data_ = heap_.get();
    capacity_ = static_cast<uint32_t>(want);
    return true;
}

DecodeBlock* acquire_decode_block() {
    BlockPool& pool = block_pool();
    if (!pool.free.empty()) {
        DecodeBlock* b = pool.free.back();
        pool.free.pop_back();
        return b;
    }
    std::unique_ptr<DecodeBlock> b(new (std::nothrow) DecodeBlock());
    if (!b) return nullptr;
    b->pooled_ = true;
    pool.all.push_back(std::move(b));
    pool.free.reserve(pool.all.size());
    return pool.all.back().get();
}

void release_decode_block(void* p) {
    auto* b = static_cast<DecodeBlock*>(p);
    if (!b || g_pool_gone || !b->pooled()) return;  // after exit the pool (and b) are gone
    b->clear();
    block_pool().free.push_back(b);
}

// ---------------------------------------------------------------------------
// The walk

uint32_t decode_node(DecodeContext* ctx, uint32_t total, Node* node, uint32_t start, uint32_t base, uint32_t limit,
                     uint32_t index) {
    if (!node) return 0;
    DecodeGlobals& g = decode_globals();
    g.node_start = start;
    if (ctx && node->match_points_) node_entered(ctx, node);
    if (!node->first_field_) return 0;
    const char* name = node->name_.c_str();
    Nest nest(name);
    if (!nest.ok) return start;
    if (!emit(DECODE_NODE, index, 0, start, 0, node, name)) return start;

    const uint32_t t = total;
    uint32_t p = start;
    const Walk& w = walk();
    for (Field* f = node->first_field_; f && p < t && !w.stopped; f = f->next_) {
        if (limit != 0 && static_cast<int64_t>(p) - base >= limit) break;
        g.total_bits = t;
        g.current = p;
        uint32_t width = f->width_ && f->width_->type_ == EXPR_NUMBER && static_cast<int32_t>(f->width_->value_) >= 0
                             ? f->width_->value_
                             : field_width(f->name_.c_str(), f->width_);
        if (width > t - p) {
            report(nullptr, kModule, __LINE__, LOG_DEBUG,
                   "Bad field width %d in field \"%s.%s\" during receive - offset is %d total bits are %d",
                   static_cast<int>(width), name, f->name_.c_str(), static_cast<int>(p), static_cast<int>(t));
            width = t - p;
        }
        if (f->element_node_) {
            if (width == 0 && f->array_) width = t - p;
            uint32_t r = decode_array(ctx, p + width, f, p, base, limit);
            g.node_start = start;
            p = r ? r : p + limit;
        } else if (f->flags_ & FLD_SUBNODES) {
            if (!node->children_) break;
            ChildLink* link = select_child(node);
            if (!link) link = node->default_child_;
            if (!link) {
                emit(DECODE_DATA, index, 0, p, width, f, name);
                emit(DECODE_NODE_END, 0, 0, start, 0, node, name);
                return t;
            }
            uint32_t child_base = (width != 0 && base == 0) ? p : base;
            uint32_t child_limit = limit != 0 ? limit : width;
            uint32_t child_start = clamp_bits(static_cast<int64_t>(p) + link->offset_, t);
            uint32_t r = decode_node(ctx, t, link->node_, child_start, child_base, child_limit, 0);
            g.node_start = start;
            p = r ? r : p + width;
        } else {
            uint32_t value = 0;
            if (width <= 32) {
                value = width ? read_bits(g.data, g.length, p, width) : 0;
                f->cur_width_ = width;
                f->cur_offset_ = p;
                f->cur_value_ = value;
            }
            if (!emit(DECODE_FLD, index, value, p, width, f, name)) break;
            if (ctx && f->match_points_) {
                uint32_t byte = p / 8;
                field_read(ctx, f, g.data + byte, static_cast<int>(p % 8), width,
                           byte < g.length ? g.length - byte : 0);
            }
            p += width;
        }
        if (p > t) p = t;
    }
    emit(DECODE_NODE_END, 0, 0, start, 0, node, name);
    return p;
}

uint32_t decode_array(DecodeContext* ctx, uint32_t end, Field* field, uint32_t start, uint32_t base,
                      uint32_t limit) {
    Node* elem = field->element_node_;
    const char* name = elem ? elem->name_.c_str() : field->name_.c_str();
    Nest nest(name);
    if (!nest.ok) return start;
    if (!emit(DECODE_ARRAY, 0, 0, start, 0, elem, name)) return start;
    const ArraySpec* aspec = field->array_;
    uint32_t p = start;
    const Walk& w = walk();
    for (uint32_t k = 1; !w.stopped; ++k) {
        if (aspec && aspec->op_ == 0 && k > repeat_limit(aspec)) break;
        uint32_t before = p;
        uint32_t r = decode_node(ctx, end, elem, p, base, limit, k);
        p = r ? r : p + limit;
        if (limit != 0 && static_cast<uint64_t>(base) + limit <= p) break;
        if (p >= end) break;
        if (aspec) {
            if (aspec->op_ == 0 && k == repeat_limit(aspec)) break;
            if (aspec->op_ == EXPR_NE && repeat_limit(aspec) != aspec->count_) break;
            if (aspec->op_ == EXPR_EQ && repeat_limit(aspec) == aspec->count_) break;
        }
        // An element that consumed nothing would repeat forever; only a
        // counted array repeats it (bounded by its count and the element
        // limit), and only while each element still emits something.
        if (p == before && (r == 0 || !(aspec && aspec->op_ == 0))) break;
    }
    emit(DECODE_ARRAY_END, 0, 0, start, 0, elem, name);
    return p;
}

bool decode_packet(PacketBuffer* buffer, Node* base, DecodeContext* ctx) {
    static const bool registered = (set_decode_release(release_decode_block), true);
    (void)registered;
    if (!buffer) return false;
    if (!base) base = static_cast<Node*>(const_cast<void*>(buffer->base_node));
    Walk& w = walk();
    if (w.active) {
        report(nullptr, kModule, __LINE__, LOG_FAULT, "decode_packet called during another decode");
        return false;
    }
    DecodeBlock* block = decode_tree(buffer);
    if (!block) {
        if (!base) return false;
        block = acquire_decode_block();
        if (!block) {
            report(nullptr, kModule, __LINE__, LOG_FAULT, "No memory for a decode tree");
            return false;
        }
        buffer->decode = block;
    }
    if (!block->empty()) return true;
    if (!base) return false;

    // Ends the decode also when the filter engine throws, so that later
    // decodes are not refused as re-entered.
    struct Finish {
        DecodeContext* ctx;
        ~Finish() {
            if (ctx) {
                ctx->buffer = nullptr;
                ctx->decode_block = nullptr;
                ctx->completed = nullptr;
            }
            DecodeGlobals& g = decode_globals();
            g.buffer = nullptr;
            g.data = nullptr;
            g.length = 0;
            walk() = Walk{};
        }
    } finish{ctx};
    w = Walk{block, 0, false, true};
    DecodeGlobals& g = decode_globals();
    g.buffer = buffer;
    g.data = buffer->data();
    g.length = buffer->length();
    if (ctx) {
        ctx->buffer = buffer;
        ctx->decode_block = block;
        ctx->completed = nullptr;
    }
    emit(DECODE_HDR, 0, 0, 0, 0, nullptr, "");
    decode_node(ctx, g.length * 8, base, 0, 0, 0, 0);
    if (ctx) finish_decode(ctx);
    return true;
}

bool element_at_end(const PacketBuffer* buffer, bool flag, const DecodeElement* element) {
    const DecodeBlock* block = decode_tree(buffer);
    if (!buffer || !element) return false;
    if (element->offset / 8 == buffer->length()) return true;
    if (!flag || !block) return false;
    const DecodeElement* next = element + 1;
    return next >= block->begin() && next < block->end() && next->type == DECODE_NODE_END;
}

}  // namespace zm

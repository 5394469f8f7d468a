// Filter instances and matching: match points on protocol nodes and fields, advanced by the decoder.
//
// Every node and field that some instance waits for carries a hub (reached
// through its match_points_ slot): the list of match points, and for fields
// an index from value to the points whose condition lists that value, so a
// field read costs a lookup however many filters test the field for
// equality. Node points are not walked per packet: the hub counts the
// node's occurrences, and after the decode an instance whose conditions are
// all met checks that each node of its filter occurred at least as often as
// the filter names it, which is exactly what satisfying one node point per
// occurrence yields. Only instances that met a condition, and instances
// without conditions, are looked at after the decode.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "core/bits.h"
#include "core/report.h"
#include "filter/filter.h"
#include "pdl/protodb.h"

namespace zm {

namespace {

constexpr const char* kModule = "pktfilt";
// Fields with at most this many points are scanned rather than looked up.
constexpr uint32_t kLinearPoints = 8;

bool debug_on() {
    const LogSettings& s = log_settings();
    return s.level != 5 && (s.level <= 1 || s.enabled);
}

struct MatchHub : MatchPoint {
    uint32_t count = 0;
    // Node hubs: occurrences of the node in the decode `epoch` of context `ctx`.
    uint32_t epoch = 0;
    uint32_t occurrences = 0;
    const DecodeContext* ctx = nullptr;
    // Field hubs: each condition value's key to the points listing it.
    std::unordered_map<uint32_t, std::vector<MatchPoint*>> by_value;
};

struct Engine {
    std::unordered_map<const void*, std::unique_ptr<MatchHub>> hubs;
    uint32_t epoch = 1;
    uint32_t instance_counter = 0;
    size_t live_points = 0;
};

Engine& engine() {
    static Engine e;
    return e;
}

MatchHub* hub_of(MatchPoint* slot) { return static_cast<MatchHub*>(slot); }

MatchHub* get_hub(const void* object, MatchPoint** slot) {
    if (*slot) return hub_of(*slot);
    auto hub = std::make_unique<MatchHub>();
    MatchHub* h = hub.get();
    engine().hubs.emplace(object, std::move(hub));
    *slot = h;
    return h;
}

void add_point(MatchHub* hub, MatchPoint* p) {
    p->next_ = hub->next_;
    hub->next_ = p;
    ++hub->count;
    ++engine().live_points;
    if (p->condition_)
        for (uint32_t i = 0; i < p->condition_->value_count_; ++i) {
            std::vector<MatchPoint*>& v = hub->by_value[p->condition_->keys_[i]];
            if (std::find(v.begin(), v.end(), p) == v.end()) v.push_back(p);
        }
}

void drop_point(const void* object, MatchPoint** slot, MatchPoint* p) {
    MatchHub* hub = hub_of(*slot);
    if (!hub) return;
    for (MatchPoint** pp = &hub->next_; *pp; pp = &(*pp)->next_)
        if (*pp == p) {
            *pp = p->next_;
            --hub->count;
            --engine().live_points;
            break;
        }
    if (p->condition_)
        for (uint32_t i = 0; i < p->condition_->value_count_; ++i) {
            auto it = hub->by_value.find(p->condition_->keys_[i]);
            if (it == hub->by_value.end()) continue;
            std::erase(it->second, p);
            if (it->second.empty()) hub->by_value.erase(it);
        }
    if (hub->count == 0) {
        *slot = nullptr;
        engine().hubs.erase(object);
    }
}

void unlink(FilterInstance** head, FilterInstance* inst, FilterInstance* FilterInstance::*link) {
    for (FilterInstance** pp = head; *pp; pp = &((*pp)->*link))
        if (*pp == inst) {
            *pp = inst->*link;
            return;
        }
}

// The four comparison rules, kept within the value and the readable bytes.
bool values_equal(const Condition* c, uint32_t i, const Field* field, const uint8_t* data, int offset, uint32_t width,
                  uint32_t avail) {
    const uint8_t* v = c->value(i);
    uint32_t size = c->value_size_;
    if (field->display_format_ == DISP_STR) return size <= avail && std::memcmp(v, data, size) == 0;
    if (offset == 0 && width % 8 == 0 && width > 32) {
        uint32_t n = width / 8;
        return n <= size && n <= avail && std::memcmp(v, data, n) == 0;
    }
    uint64_t need = (static_cast<uint64_t>(offset) + width + 7) / 8;
    if (need > avail) return false;
    if (width <= 32) return (width ? get_bits(data, offset, static_cast<int>(width)) : 0u) == c->keys_[i];
    if (static_cast<uint64_t>(size) * 8 < width) return false;
    return bitcmp(v, 0, data, offset, width) == 0;
}

void meet(DecodeContext* ctx, MatchPoint* p) {
    FilterInstance* inst = p->instance_;
    if (inst->match_bytes_[p->index_]) return;
    if (inst->conds_left_ == inst->conds_total_) {
        inst->touched_next_ = ctx->touched;
        ctx->touched = inst;
    }
    inst->match_bytes_[p->index_] = 1;
    --inst->conds_left_;
    --inst->remaining_;
}

bool nodes_seen(const DecodeContext* ctx, const FilterInstance* inst, uint32_t epoch) {
    for (const auto& [node, times] : inst->node_needs_) {
        const MatchHub* hub = hub_of(node->match_points_);
        uint32_t seen = (hub && hub->epoch == epoch && hub->ctx == ctx) ? hub->occurrences : 0;
        if (seen < times) return false;
    }
    return true;
}

void complete(DecodeContext* ctx, FilterInstance* inst) {
    inst->matched_next_ = ctx->completed;
    ctx->completed = inst;
    if (inst->owner_cell_) *inst->owner_cell_ = 1;
    inst->stored_next_ = ctx->stored;
    ctx->stored = inst;
    if (debug_on())
        report(nullptr, kModule, __LINE__, LOG_DEBUG, "filter %u instance %u matched completely",
               inst->filter_->number_, inst->number_);
}

void reset(FilterInstance* inst) {
    std::memset(inst->match_bytes_, 0, inst->points_total_ ? inst->points_total_ : 1);
    inst->conds_left_ = inst->conds_total_;
    inst->remaining_ = inst->points_total_;
    inst->node_hit_ = false;
}

// Takes one instance off its context's lists and the database.
void detach(FilterInstance* inst) {
    DecodeContext* ctx = inst->context_;
    if (ctx) {
        unlink(&ctx->instances, inst, &FilterInstance::next_);
        unlink(&ctx->completed, inst, &FilterInstance::matched_next_);
        unlink(&ctx->node_only, inst, &FilterInstance::node_only_next_);
        unlink(&ctx->touched, inst, &FilterInstance::touched_next_);
        unlink(&ctx->stored, inst, &FilterInstance::stored_next_);
    }
    // Points were made in filter order: each node, then its conditions.
    uint32_t index = 0;
    for (FilterNode* n = inst->filter_->first_; n && index < inst->points_.size(); n = n->next_) {
        if (!n->node_) continue;
        drop_point(n->node_, &n->node_->match_points_, &inst->points_[index++]);
        for (Condition* c = n->conditions_; c && index < inst->points_.size(); c = c->next_)
            if (c->field_) drop_point(c->field_, &c->field_->match_points_, &inst->points_[index++]);
    }
    inst->context_ = nullptr;
}

}  // namespace

size_t live_match_points() { return engine().live_points; }

FilterInstance* insert_instance(Tcl_Interp* interp, DecodeContext* ctx, const char* name, int* owner_cell,
                                Filter* filter) {
    if (!ctx || !filter) return nullptr;
    uint32_t nodes = 0, conds = 0;
    for (const FilterNode* n = filter->first_; n; n = n->next_) {
        if (!n->node_) continue;
        ++nodes;
        for (const Condition* c = n->conditions_; c; c = c->next_)
            if (c->field_) ++conds;
    }
    auto owned = std::make_unique<FilterInstance>();
    FilterInstance* inst = owned.get();
    uint32_t count = nodes + conds;
    inst->context_ = ctx;
    inst->filter_ = filter;
    inst->owner_cell_ = owner_cell;
    inst->name_ = name ? name : "";
    inst->number_ = ++engine().instance_counter;
    inst->points_total_ = count;
    inst->conds_total_ = conds;
    inst->bytes_store_ = std::make_unique<uint8_t[]>(count ? count : 1);
    inst->match_bytes_ = inst->bytes_store_.get();
    inst->match_byte_count_ = count ? count - 1 : 0;
    inst->points_.resize(count);
    reset(inst);

    // Points are numbered in filter order: each node's, then its conditions'.
    uint32_t index = 0;
    auto next_point = [&](auto* object, Filter* node_filter, Condition* condition) {
        MatchPoint& p = inst->points_[index];
        p.instance_ = inst;
        p.filter_ = node_filter;
        p.condition_ = condition;
        p.index_ = index++;
        add_point(get_hub(object, &object->match_points_), &p);
    };
    for (FilterNode* n = filter->first_; n; n = n->next_) {
        if (!n->node_) continue;
        next_point(n->node_, filter, nullptr);
        auto need = std::find_if(inst->node_needs_.begin(), inst->node_needs_.end(),
                                 [&](const auto& e) { return e.first == n->node_; });
        if (need == inst->node_needs_.end()) inst->node_needs_.emplace_back(n->node_, 1u);
        else ++need->second;
        for (Condition* c = n->conditions_; c; c = c->next_)
            if (c->field_) next_point(c->field_, nullptr, c);
    }

    inst->next_ = ctx->instances;
    ctx->instances = inst;
    if (conds == 0) {
        inst->node_only_next_ = ctx->node_only;
        ctx->node_only = inst;
    }
    filter->instances_.push_back(std::move(owned));
    if (debug_on())
        report(interp, kModule, __LINE__, LOG_DEBUG, "inserting filter %u instance %u", filter->number_,
               inst->number_);
    return inst;
}

void node_entered(DecodeContext* ctx, Node* node) {
    if (!ctx || !node || !node->match_points_) return;
    MatchHub* hub = hub_of(node->match_points_);
    uint32_t epoch = engine().epoch;
    if (hub->epoch != epoch || hub->ctx != ctx) {
        hub->epoch = epoch;
        hub->ctx = ctx;
        hub->occurrences = 0;
    }
    ++hub->occurrences;
    if (debug_on())
        for (MatchPoint* p = hub->next_; p; p = p->next_)
            if (p->instance_->context_ == ctx)
                report(nullptr, kModule, __LINE__, LOG_DEBUG, "filter %u instance %u node %s match %u out of %u",
                       p->filter_->number_, p->instance_->number_, node->name_.c_str(), p->index_ + 1,
                       p->instance_->points_total_);
}

void field_read(DecodeContext* ctx, Field* field, const uint8_t* data, int bit_offset, uint32_t width,
                uint32_t avail) {
    if (!ctx || !field || !field->match_points_ || !data) return;
    MatchHub* hub = hub_of(field->match_points_);
    bool debug = debug_on();
    if (!debug && width <= 32 && field->display_format_ != DISP_STR) {
        if ((static_cast<uint64_t>(bit_offset) + width + 7) / 8 > avail) return;
        uint32_t value = width ? get_bits(data, bit_offset, static_cast<int>(width)) : 0u;
        if (hub->count <= kLinearPoints) {
            for (MatchPoint* p = hub->next_; p; p = p->next_) {
                if (p->instance_->context_ != ctx) continue;
                const Condition* c = p->condition_;
                for (uint32_t i = 0; i < c->value_count_; ++i)
                    if (c->keys_[i] == value) {
                        meet(ctx, p);
                        break;
                    }
            }
            return;
        }
        auto it = hub->by_value.find(value);
        if (it == hub->by_value.end()) return;
        for (MatchPoint* p : it->second)
            if (p->instance_->context_ == ctx) meet(ctx, p);
        return;
    }
    for (MatchPoint* p = hub->next_; p; p = p->next_) {
        FilterInstance* inst = p->instance_;
        if (inst->context_ != ctx) continue;
        const Condition* c = p->condition_;
        bool hit = false;
        for (uint32_t i = 0; i < c->value_count_ && !hit; ++i) {
            hit = values_equal(c, i, field, data, bit_offset, width, avail);
            if (!debug) continue;
            uint32_t first = 0;
            std::memcpy(&first, c->value(i), std::min<uint32_t>(c->value_size_, 4));
            if (hit) {
                bool was = inst->match_bytes_[p->index_] != 0;
                uint32_t met = inst->points_total_ - inst->remaining_ + (was ? 0 : 1);
                report(nullptr, kModule, __LINE__, LOG_DEBUG, "filter %u instance %u field %s val %lx, match %u out of %u",
                       inst->filter_->number_, inst->number_, field->name_.c_str(), static_cast<unsigned long>(first),
                       met, inst->points_total_);
            } else {
                report(nullptr, kModule, __LINE__, LOG_DEBUG, "filter %u instance %u field %s val %x, NO match",
                       inst->filter_->number_, inst->number_, field->name_.c_str(), first);
            }
        }
        if (hit) meet(ctx, p);
    }
}

void finish_decode(DecodeContext* ctx) {
    if (!ctx) return;
    Engine& e = engine();
    for (FilterInstance* inst = ctx->stored; inst; inst = inst->stored_next_)
        if (inst->owner_cell_) *inst->owner_cell_ = 0;
    ctx->stored = nullptr;
    ctx->completed = nullptr;
    for (FilterInstance* inst = ctx->touched; inst;) {
        FilterInstance* next = inst->touched_next_;
        if (inst->conds_left_ == 0 && nodes_seen(ctx, inst, e.epoch)) complete(ctx, inst);
        reset(inst);
        inst->touched_next_ = nullptr;
        inst = next;
    }
    ctx->touched = nullptr;
    for (FilterInstance* inst = ctx->node_only; inst; inst = inst->node_only_next_)
        if (nodes_seen(ctx, inst, e.epoch)) complete(ctx, inst);
    ++e.epoch;
}

void remove_filter(Filter* filter, bool free) {
    if (!filter) return;
    for (auto& inst : filter->instances_) detach(inst.get());
    filter->instances_.clear();
    if (debug_on()) report(nullptr, kModule, __LINE__, LOG_DEBUG, "removing filter %u", filter->number_);
    if (free) free_filter(filter);
}

void free_filter(Filter* filter) {
    if (!filter) return;
    for (auto& inst : filter->instances_) detach(inst.get());
    filter->instances_.clear();
    std::unique_ptr<Filter> owned(filter);
}

void release_context(DecodeContext* ctx) {
    if (!ctx) return;
    while (ctx->instances) remove_filter(ctx->instances->filter_, true);
    std::unique_ptr<DecodeContext> owned(ctx);
}

}  // namespace zm

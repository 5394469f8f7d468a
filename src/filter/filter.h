// Compiled filters: the records the filter language builds, instances on decode
// contexts, the match points they hang on the protocol database, send-filter
// completion and the filter dump.
//
// Ownership: a Filter owns its filter nodes, conditions and raw bytes (all
// carved from the filter's own arena) and knows its instances. An instance
// belongs to one decode context and to its filter; `remove_filter` and
// `release_context` free instances, so a FilterInstance pointer is invalid
// once its filter has been removed. Match points live inside their instance;
// the per-node and per-field lists they form (reached through
// Node::match_points_ / Field::match_points_) are owned by the engine.
//
// Compilation errors are reported (module pktfilt / filt) and yield null.
// Single-threaded; nothing here may be called from inside a decode except
// the matching calls of match.h.
//
// This header does not include tcl.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "filter/match.h"

struct Tcl_Interp;

namespace zm {

class ProtoDb;
struct ChildLink;
struct Expr;
struct Filter;
struct FilterNode;

// Value types of the filter language.
enum ValueType : int {
    PT_IP_ADDR = 0,
    PT_MAC_ADDR = 1,
    PT_STRING = 2,
    PT_INT = 3,
    PT_FIELD = 4,
    PT_HEX = 5,
    PT_FLOAT = 6,
};

// Relational operator codes; only equality is matched.
enum RelOp : int {
    ROP_EQ = 0,
    ROP_NE = 1,
    ROP_GT = 2,
    ROP_GE = 3,
    ROP_LT = 4,
    ROP_LE = 5,
    ROP_BIT_AND = 281,
};

constexpr size_t kSendValueMax = 156;   // bytes of the send-value copy
constexpr size_t kValueTextMax = 52;    // characters kept of the first value's text
constexpr size_t kStringPad = 52;       // STRING values are padded with spaces to this
constexpr int kNestDepth = 19;          // levels of "<" ">" nesting
constexpr size_t kTokenMax = 8191;      // longest token the scanner accepts

// One value of a value list (built by the scanner and the value rules; lives
// only while its filter is compiled).
struct FilterValue {
    FilterValue* next = nullptr;
    uint32_t length = 0;          // number of value bytes
    uint8_t* bytes = nullptr;     // at least max(length, 4) readable bytes
    const char* text = "";        // the token's text
    int type = PT_INT;            // ValueType
};

struct Condition {
    Condition* next_ = nullptr;
    Condition* prev_ = nullptr;
    Filter* filter_ = nullptr;
    uint8_t* values_ = nullptr;   // value_count_ slots of value_size_ bytes, list order
    uint32_t value_count_ = 0;
    uint32_t value_size_ = 0;     // size of the last value of the list
    char value_text_[kValueTextMax + 1] = {};
    uint8_t send_value_[kSendValueMax] = {};
    uint32_t send_value_len_ = 0;  // bytes of send_value_ in use
    bool send_value_flag_ = false;  // set: send-time expressions read 0 for this field
    int op_ = ROP_EQ;             // as written; matched as equality
    Field* field_ = nullptr;
    // Each value's first four bytes as a native 32-bit number (zero-padded),
    // the key a field of 1..32 bits is compared with.
    uint32_t* keys_ = nullptr;

    const uint8_t* value(uint32_t i) const { return values_ + static_cast<size_t>(i) * value_size_; }
};

struct FilterNode {
    FilterNode* next_ = nullptr;   // outwards
    FilterNode* prev_ = nullptr;   // inwards
    FilterNode* enclosing_ = nullptr;
    Condition* conditions_ = nullptr;  // in written order
    Filter* filter_ = nullptr;
    Node* node_ = nullptr;         // null for a RAWDATA node
    ChildLink* child_link_ = nullptr;  // send filters: chosen by completion
    uint8_t* raw_ = nullptr;
    uint32_t raw_bits_ = 0;
};

struct Filter {
    Filter();
    ~Filter();
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    FilterNode* first_ = nullptr;  // innermost (the last one written)
    FilterNode* last_ = nullptr;   // outermost (the first one written)
    uint32_t match_points_ = 0;    // nodes plus conditions
    uint32_t number_ = 0;
    bool empty_ = false;           // numbered from the empty-filter counter
    bool send_ = false;
    std::string text_;             // the text it was compiled from

    // Engine state.
    std::vector<std::unique_ptr<FilterInstance>> instances_;
    uint32_t conditions_ = 0;

    // Allocation of nodes, conditions and value bytes: released with the filter.
    void* allocate(size_t bytes, size_t align = alignof(std::max_align_t));
    template <class T> T* make() { return new (allocate(sizeof(T), alignof(T))) T(); }

private:
    alignas(std::max_align_t) std::byte inline_[1024];
    std::pmr::monotonic_buffer_resource arena_;
};

// One entry of a node's or field's match-point list.
struct MatchPoint {
    MatchPoint* next_ = nullptr;
    FilterInstance* instance_ = nullptr;
    Filter* filter_ = nullptr;         // node points
    Condition* condition_ = nullptr;   // field points
    uint32_t index_ = 0;
};

struct FilterInstance {
    FilterInstance* next_ = nullptr;         // context's instance list
    FilterInstance* matched_next_ = nullptr; // context's completed list
    DecodeContext* context_ = nullptr;
    uint32_t remaining_ = 0;
    uint8_t* match_bytes_ = nullptr;
    uint32_t match_byte_count_ = 0;          // match points - 1
    bool node_hit_ = false;
    Filter* filter_ = nullptr;
    int* owner_cell_ = nullptr;
    std::string name_;
    uint32_t number_ = 0;

    // Engine state (per packet and per insertion).
    std::unique_ptr<uint8_t[]> bytes_store_;
    std::vector<MatchPoint> points_;
    std::vector<std::pair<Node*, uint32_t>> node_needs_;  // distinct nodes and how often each is named
    uint32_t points_total_ = 0;              // match points (nodes plus conditions)
    uint32_t conds_total_ = 0;               // condition points
    uint32_t conds_left_ = 0;                // conditions not yet met in this packet
    FilterInstance* touched_next_ = nullptr;
    FilterInstance* node_only_next_ = nullptr;
    FilterInstance* stored_next_ = nullptr;
};

// Compiles `text` against `db`. `base` is the interface's link-level node
// (MAC_HEADER and completion use it). Returns null when the text does not
// compile (after "Error..." is printed); an empty text gives an empty filter.
std::unique_ptr<Filter> compile_filter(ProtoDb& db, const char* text, Node* base, bool send);

// Compiles a receive or send filter into the process-wide database; null
// (after "Error...") when the text does not compile.
Filter* compile_receive_filter(Tcl_Interp* interp, const char* text, Node* base);
Filter* compile_send_filter(Tcl_Interp* interp, const char* text, Node* base);
// Attaches an instance of `filter` to `ctx`; a complete match stores 1 in
// *owner_cell after the decode.
FilterInstance* insert_instance(Tcl_Interp* interp, DecodeContext* ctx, const char* name, int* owner_cell,
                                Filter* filter);
// Removes the filter's instances from every context (and frees the filter when `free`).
void remove_filter(Filter* filter, bool free);
void free_filter(Filter* filter);
// Frees a context and its instances.
void release_context(DecodeContext* ctx);
// Completes a send filter with encapsulating nodes and `base`; the outermost
// filter node, or null (after a report) when it cannot be completed.
FilterNode* complete_send_filter(Node* base, Filter* filter);

// A zeroed context for release_context to free.
DecodeContext* create_context();

// Prints the filter dump to `out`.
void dump_filter(const Filter* filter, std::FILE* out);

// Send-time evaluation of an expression in filter node `fnode`: field
// references read the send value of the nearest condition on that field
// from `fnode` outwards. `failed` is set when a field is named by none.
int32_t eval_send_expr(const Expr* expr, const FilterNode* fnode, bool* failed);

// The condition on `field` in `fnode` or the nearest outer node, or null.
const Condition* find_send_condition(const FilterNode* fnode, const Field* field);

// Lets the PDL compiler compile the "filter" steps of sequences as receive filters.
void install_sequence_filter_compiler();

// Number of instances and match points currently hung on the database (tests).
size_t live_match_points();

}  // namespace zm

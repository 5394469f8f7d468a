// The state one filter compilation shares between the scanner, the grammar and the builder.
//
// One FilterCompile exists per compilation, owned by compile_filter; the
// scanner itself is created once and reused. Values live in the compile's
// arena until the compilation ends; nodes and conditions go to the filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <stdexcept>
#include <string_view>

#include "filter/filter.h"

union FILTER_YYSTYPE;

namespace zm {

// Text and number of a token (numbers, hex numbers, raw data).
struct FilterTok {
    const char* text;
    uint32_t len;
    uint32_t number;
};

// A run of filter nodes in written order: head is written first (outermost),
// tail last; FilterNode::prev_ leads from head to tail.
struct FilterNodeList {
    FilterNode* head;
    FilterNode* tail;
};

// What a field list hands to its node: conditions and nested node runs, in written order.
struct FilterFieldList {
    Condition* cond_head;
    Condition* cond_tail;
    FilterNode* nest_head;
    FilterNode* nest_tail;
};

// A scanner failure (out of memory in the scanner, internal fault): ends the
// compilation, never the process.
struct FilterScanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct FilterCompile {
    ProtoDb* db = nullptr;
    Filter* filter = nullptr;
    Node* base = nullptr;
    bool send = false;

    // Scanner context.
    Node* cur_node = nullptr;
    Field* cur_field = nullptr;
    Node* nest_stack[kNestDepth] = {};
    int depth = 0;
    int nest_overflow = 0;       // levels refused at the top of the stack
    int paren_depth = 0;         // inside a value list, "," separates values only
    int column = 0;
    int rule_line = 0;           // scanner line of the rule that made the last token
    bool stop = false;           // the scanner ended the input
    bool failed = false;         // an error that makes the filter unusable

    // Input.
    const char* input = nullptr;
    size_t input_len = 0;
    size_t input_pos = 0;

    std::pmr::memory_resource* arena = nullptr;

    // Value records (in the arena).
    FilterValue* make_value(int type, const void* bytes, uint32_t length, std::string_view text,
                            uint32_t capacity = 0);
    FilterValue* make_int(uint32_t number, std::string_view text, uint32_t capacity = 4);
    const char* keep_text(std::string_view text);

    // Builder operations called by the grammar.
    FilterNode* add_node(Node* node);
    FilterNode* add_raw(const FilterValue* raw);
    Condition* add_condition(Field* field, int op, FilterValue* values);
    void attach(FilterNode* node, const FilterFieldList& fields, FilterNodeList* out);
    void finish(const FilterNodeList& list);
    void warn_rop(int op);
    void nest_open(int line);
    void nest_close(int line);
};

// Points the process's scanner at fc's input.
void filter_scan_begin(FilterCompile* fc);
// Scanner entry: the next token for the parser, with the SHOW_TOKENS trace.
int filter_next_token(::FILTER_YYSTYPE* value, FilterCompile* fc);
// Runs the parser over fc's input; 0 when the text parsed.
int filter_run_parser(FilterCompile* fc);
// Token name for the trace: the grammar's name, or "<%d>" for a single character.
const char* filter_token_name(int code, char* scratch, size_t scratch_len);

}  // namespace zm

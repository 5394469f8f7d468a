// Process-wide debugging switches that scripts link to (SHOW_TOKENS and friends).
#pragma once

namespace zm {

struct DebugFlags {
    int show_tokens = 0;          // trace scanner tokens of the PDL and filter languages
    int display_filter_tree = 0;  // dump each compiled filter
    int rop_warn = 0;             // warn about relational operators in send filters
    int use_sequences = 0;        // expand packet sequences in filters
};

// The one owner of the switches; the filter-debugging and sequence groups
// link their Tcl variables to these members.
inline DebugFlags& debug_flags() {
    static DebugFlags flags;
    return flags;
}

}  // namespace zm

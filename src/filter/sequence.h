// Packet sequences: the process-wide registry of named step lists that PDL descriptions define.
//
// Ownership: the registry owns every sequence and step for the life of the
// process; a second definition with the same name replaces the first in the
// table (the old steps stay allocated, so pointers held elsewhere stay valid).
// Single-threaded. This header does not include tcl.h.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zm {

struct Field;

enum SeqStepType : int {
    SEQ_FILTER = 0,  // "filter" (and any unknown keyword, kept uncompiled)
    SEQ_SAVE = 1,    // "save"
    SEQ_APPEND = 3,  // "append"
};

// One item of a step written as a list of field names: the field it resolved
// to, or only its text when it did not resolve.
struct SeqRef {
    SeqRef* next_ = nullptr;
    Field* field_ = nullptr;
    std::string text_;
};

struct SeqStep {
    SeqStep* next_ = nullptr;
    int type_ = SEQ_FILTER;
    std::string keyword_;       // as written
    std::string text_;          // the step's string ("" for a field list)
    SeqRef* refs_ = nullptr;    // the step's field list, newest first; null for a string
    bool known_keyword_ = true;  // false: the keyword was none of filter, save, append
    void* filter_ = nullptr;    // the compiled receive filter of a "filter" step (filter engine's)
};

struct Sequence {
    std::string name_;
    SeqStep* steps_ = nullptr;  // in written order
};

// Compiles the text of a "filter" step; installed by the filter engine. Until
// one is installed, filter steps keep their text only.
using SeqFilterCompiler = void* (*)(const std::string& text);

class SequenceRegistry {
public:
    SeqStep* make_step(std::string_view keyword, std::string_view text);
    SeqStep* make_step(std::string_view keyword, SeqRef* refs);
    SeqRef* make_ref(Field* field, std::string_view text, SeqRef* list);  // puts the item in front of list
    // `steps` arrive newest first and are put back into written order.
    Sequence* add_sequence(std::string_view name, SeqStep* steps);
    Sequence* find(std::string_view name) const;
    const std::map<std::string, Sequence*, std::less<>>& table() const { return table_; }
    void set_filter_compiler(SeqFilterCompiler c) { compiler_ = c; }

private:
    std::map<std::string, Sequence*, std::less<>> table_;
    std::vector<std::unique_ptr<Sequence>> sequences_;
    std::vector<std::unique_ptr<SeqStep>> steps_;
    std::vector<std::unique_ptr<SeqRef>> refs_;
    SeqFilterCompiler compiler_ = nullptr;
};

// The process-wide registry.
SequenceRegistry& sequences();

}  // namespace zm

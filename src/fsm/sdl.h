// State machine definitions: what the SDL compiler builds and the runtime reads.
//
// A definition is a named machine of states; each state lists the events it
// reacts to, and each event carries the action to run. Definitions are kept
// in a definition list, newest first, so a later definition of a name hides
// an earlier one. The process-wide list (`definitions()`) is never released;
// tests and the fuzz target compile into private lists.
//
// Compile diagnostics ("parse error at line N: 'tok'", "unknown event type",
// "unknown field") are printed on the compile's output stream (standard
// output by default), never returned; a token too long for the scanner is
// reported through the reporter and ends that compilation.
//
// This header does not include tcl.h.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zm {

class ProtoDb;
struct Field;

enum EventKind : int { EV_INPDU = 0, EV_EVENT = 1, EV_TIMEOUT = 2, EV_START = 3 };

enum ArgKind : int {
    ARG_WORD = 0,
    ARG_NUMBER = 1,
    ARG_HEXSTRING = 2,
    ARG_VARIABLE = 3,
    ARG_FIELD_WORD = 4,
    ARG_FIELD_NUMBER = 5,
    ARG_FIELD_HEXSTRING = 6,
    ARG_FIELD_VARIABLE = 7,
};

enum ParamKind : int {
    PARAM_IGNORED = 0,  // a %-word the runtime does not know: contributes nothing
    PARAM_LITERAL = 1,
    PARAM_PACKET = 2,
    PARAM_STATE = 3,
    PARAM_TIMEOUT = 4,
    PARAM_EVENT = 5,
};

constexpr size_t kSdlTokenMax = 8192;  // longest token the scanner accepts

struct SdlOption {
    std::string word;                  // with its leading "-"
    std::optional<std::string> value;
};

struct SdlArg {
    int kind = ARG_WORD;
    std::string text;                  // kinds 0, 2, 3, 4, 6, 7 (a variable's name without "$")
    unsigned long number = 0;          // kinds 1, 5
    std::string field_name;            // kinds 4..7: the NODE.field word before "="
    Field* field = nullptr;            // kinds 4..7: null when the database has no such field
};

struct SdlParam {
    int kind = PARAM_IGNORED;
    std::string text;
};

struct EventHead {
    std::string word;
    std::vector<SdlOption> options;
    std::vector<SdlArg> args;
};

struct State;

struct Event {
    int index = 0;
    State* state = nullptr;
    int kind = EV_START;
    EventHead head;
    bool use_params = false;           // the action is a method word run with its parameters
    std::vector<SdlParam> params;
    std::string action;
    std::string argument;              // argument_text(), set when the definition is added

    // The argument the runtime uses: the filter text of an inpdu event, the
    // name of an event or of a timeout ("" when the head has no argument).
    // A variable reference keeps its "$" so that it is substituted.
    std::string argument_text() const;
};

struct State {
    std::string name;
    int index = 0;
    std::vector<Event> events;
};

struct Definition {
    std::string name;
    std::vector<State> states;
    int max_events = 0;                // largest number of events of any state

    const State* find_state(std::string_view name) const;
};

// Definitions, newest first. Records never move once added.
class DefinitionList {
public:
    // Puts a built definition at the head; numbers its states and events and
    // links each event to its state.
    const Definition* add(std::unique_ptr<Definition> def);
    // The newest definition with exactly this name, or null.
    const Definition* find(std::string_view name) const;
    size_t size() const { return defs_.size(); }
    // The i-th newest definition.
    const Definition* at(size_t i) const { return defs_[defs_.size() - 1 - i].get(); }

private:
    std::vector<std::unique_ptr<Definition>> defs_;  // oldest first
};

// The process's definition list.
DefinitionList& definitions();

// Where a compilation reads from: a text in memory or an open file.
struct SdlSource {
    const char* text = nullptr;
    size_t length = 0;
    std::FILE* file = nullptr;
};

// Compiles SDL source into `into`, looking NODE.field arguments up in `db`;
// diagnostics go to `out`. Returns true when the whole source parsed
// (definitions reduced before an error stay in the list either way).
bool compile_sdl(const SdlSource& source, DefinitionList& into, ProtoDb& db, std::FILE* out = stdout);

}  // namespace zm

// The state one SDL compilation shares between the scanner, the grammar and the builder.
//
// One SdlCompile exists per compilation (compile_sdl owns it). Every record
// the grammar builds lives in the compile until a reduced machine moves its
// states into a Definition, so an abandoned parse leaks nothing.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fsm/sdl.h"

union SDL_YYSTYPE;

namespace zm {

// A scanner failure (out of memory inside flex, a too-long token): ends the
// compilation, never the process.
struct SdlScanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using SdlOptions = std::vector<SdlOption>;
using SdlArgs = std::vector<SdlArg>;
using SdlParams = std::vector<SdlParam>;
using SdlEvents = std::vector<Event>;
using SdlStates = std::vector<State>;

struct SdlCompile {
    SdlCompile(const SdlSource& source, DefinitionList& into, ProtoDb& db, std::FILE* out)
        : source_(source), into_(into), db_(db), out_(out) {}

    SdlSource source_;
    size_t pos_ = 0;               // read position in a text source
    DefinitionList& into_;
    ProtoDb& db_;
    std::FILE* out_;
    void* scanner_ = nullptr;
    int line_ = 1;
    std::string_view last_text_;   // the current token's text, for parse errors
    bool scan_failed_ = false;

    // Token texts, kept for the whole compilation (deque: stable addresses).
    const char* keep(std::string_view text);

    // Builder operations: one per grammar reduction.
    void machine(const char* name, SdlStates* states);
    SdlStates* states(SdlStates* list, State* state);
    State* state(const char* name, SdlEvents* events);
    SdlEvents* events(SdlEvents* list, Event* event);
    Event* event(EventHead* head, const char* action, bool use_params, SdlParams* params);
    EventHead* head(const char* word, SdlOptions* options, SdlArgs* args);
    SdlOptions* options(SdlOptions* list, const char* word, const char* value);
    SdlArgs* args(SdlArgs* list, SdlArg* arg);
    SdlArg* arg(int kind, const char* text, unsigned long number, const char* field = nullptr);
    SdlParams* params(SdlParams* list, int kind, const char* text);
    SdlParams* number_param(SdlParams* list, unsigned long number);

    void syntax_error(const char* message);

private:
    template <class T> T* make() {
        auto p = std::make_shared<T>();
        pool_.push_back(p);
        return p.get();
    }
    std::deque<std::string> texts_;
    std::vector<std::shared_ptr<void>> pool_;
};

// Scanner entry for the parser (flex, prefix sdl_yy).
int sdl_next_token(::SDL_YYSTYPE* value, SdlCompile* sc);
// Runs the parser; 0 when the input parsed.
int sdl_run_parser(SdlCompile* sc);

}  // namespace zm

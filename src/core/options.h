// Option tables: the common -option parser and the process-wide interned words.
#pragma once
#include <cstdint>
#include <vector>

struct Tcl_Interp;
struct Tcl_Obj;

namespace zm {

enum OptType {
    OPT_CONSTANT = 15,  // stores src (an int) into *(int*)dst
    OPT_INT = 16,       // next word, strtol base 0, into *(int*)dst
    OPT_STRING = 17,    // next word's text pointer into *(const char**)dst
    OPT_UID = 18,       // next word interned into *(const char**)dst
    OPT_REST = 19,      // kept-word count into *(int*)dst, then stop parsing
    OPT_FLOAT = 20,     // next word, strtod, into *(double*)dst
    OPT_FUNC = 21,      // src(dst, key, next) != 0 consumes the next word
    OPT_GENFUNC = 22,   // src(dst, interp, key, remaining, words) -> new remaining, <0 error
    OPT_HELP = 23,      // help text as the result, parse fails
    OPT_END = 27,
};

enum OptFlags {
    OPT_NO_DEFAULTS = 1,
    OPT_NO_LEFTOVERS = 2,
    OPT_NO_ABBREV = 4,
    OPT_KEEP_FIRST = 8,
};

struct OptSpec {
    const char* key;
    int type;
    intptr_t src;
    void* dst;
    const char* help;
};

using OptFunc = int (*)(void* dst, const char* key, const char* next);
using OptGenFunc = int (*)(void* dst, Tcl_Interp* interp, const char* key, int remaining, const char** words);

// Parses argv[0..*argc) (argv[0] is the command name unless OPT_KEEP_FIRST),
// stores option values, compacts positional words to the front and writes
// the kept count to *argc; argv[*argc] becomes null, so argv needs room for
// one more pointer. On failure the interpreter result holds the message.
int parse_options(Tcl_Interp* interp, int* argc, const char** argv, const OptSpec* table, int flags);

// Reports (Warning, under `module`) words a command did not use, so that a
// script author sees the mistake, e.g. a filter that lost its braces.
void warn_ignored_words(Tcl_Interp* interp, const char* module, int line, const char* what, int count,
                        const char* const* words);

// Sets "expected <kind> argument for "<key>" but got "<value>"" as the
// result (the parser's own message for a bad value) and returns TCL_ERROR.
int bad_option_value(Tcl_Interp* interp, const char* kind, const char* key, const char* value);

// Canonical pointer for a word: equal texts give the same pointer for the
// life of the process.
const char* intern(const char* text);

}  // namespace zm

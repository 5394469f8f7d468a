// The PDL parser's entry points and the state one parse shares between scanner and grammar.
//
// A parse reads one PDL text (a preprocessed file, or memory) into a
// ProtoDb. Messages that the language defines (parse errors, the token
// trace) go to the database's output stream; semantic problems are reported
// by the database's compile operations. Nothing here includes tcl.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zm {

class ProtoDb;

// Token text and length as the scanner saw it; the bytes live in the parse's arena.
struct PdlText {
    const char* ptr;
    uint32_t len;
    std::string_view view() const { return std::string_view(ptr, len); }
};

// A scanner failure (no memory, an internal table fault, input read error).
// Thrown by the scanner and caught at the token boundary; it never leaves a parse.
struct PdlScanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Per-parse state: owned by the caller of parse_pdl for the length of one parse.
struct PdlParse {
    explicit PdlParse(ProtoDb& db) : db_(db) {}
    ProtoDb& db_;
    void* scanner_ = nullptr;       // the reentrant scanner
    int line_ = 1;                  // current line number
    std::string last_text_;         // text of the last token returned (for error messages)
    bool scan_failed_ = false;      // a scanner failure ended the parse
    std::string scan_error_;
    std::deque<std::string> arena_;  // token texts and decoded hex bytes

    PdlText keep(std::string_view text) {
        arena_.emplace_back(text);
        return PdlText{arena_.back().data(), static_cast<uint32_t>(arena_.back().size())};
    }
};

// Outcome of one parse.
enum class PdlResult {
    ok,          // the whole text parsed
    syntax,      // "parse error" or "parser stack overflow" was printed
    abandoned,   // a node redefinition abandoned the file
    scan_error,  // the scanner failed; its message went to standard error
};

// Parses the open stream `in` (not closed here) starting at line 1 in normal mode.
PdlResult parse_pdl(ProtoDb& db, std::FILE* in);
// Parses `len` bytes of text held in memory (the fuzz target and tests).
PdlResult parse_pdl_text(ProtoDb& db, const char* text, size_t len);

// Token names for the trace: the name for codes 258..283 except 261, else "<%d>".
std::string pdl_token_name(int code);

}  // namespace zm

// The MIB-text compiler: MIB module text (SMI macros) in, index-file lines out.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace zm {

// What one image's compilations share: the object identifiers and type names
// learned so far (later modules see those of earlier ones and of the modules
// they import) and the modules already compiled. Starts with the well-known
// OIDs of the Internet tree.
struct MibCompiler {
    MibCompiler();

    // Path of the text of the module named by an IMPORTS clause, or empty
    // when it has none; unset, imports are not followed.
    std::function<std::string(const std::string& module)> module_path;
    // Receives each message, a complete line; by default it goes to the
    // standard error stream.
    std::function<void(const std::string& line)> diag;

    std::unordered_map<std::string, std::string> oids;   // label -> dotted OID
    std::unordered_map<std::string, std::string> types;  // type name -> base type name
    std::unordered_set<std::string> modules;             // compiled or being compiled
    std::unordered_set<std::string> missing;             // imports already reported missing
    int depth = 0;                                       // nesting of import compilations
};

// Compiles the modules in `text` (`file` names it in messages) and appends
// their object and attribute lines to `out`. Imported modules are compiled
// first when `module_path` finds them; their lines are not written. False when
// a problem ended the compilation (the message went to `diag`); the lines of
// the modules completed before it stay in `out`.
bool mib_compile_text(MibCompiler& c, std::string_view text, const std::string& file, std::string& out);

// As mib_compile_text from the file `in_path` into the file `out_path`.
bool mib_compile_file(MibCompiler& c, const std::string& in_path, const std::string& out_path);

// The syntax code of a type name ("INTEGER", "DSP_STR", ...), following the
// type assignments and textual conventions `c` has learned; empty when the
// type maps to none (tables, entries, unknown types).
std::string mib_syntax_code(const MibCompiler& c, const std::string& type);

}  // namespace zm

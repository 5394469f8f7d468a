// The SDL compiler's entries from the interpreter: files along pdl_path, source text, and look-up-time compilation.
#include "fsm/sdlc.h"

#include <tcl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/fileutil.h"
#include "core/report.h"
#include "fsm/sdl.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "sdlc";

void compile_text(const char* text, size_t length) {
    SdlSource source;
    source.text = text;
    source.length = length;
    compile_sdl(source, definitions(), protodb(), stdout);
    std::fflush(stdout);
}

}  // namespace

int compile_sdl_files(Tcl_Interp* interp, int argc, const char** argv) {
    Tcl_ResetResult(interp);
    if (argc < 2) {
        std::printf("Usage: %s file...\n", argc > 0 ? argv[0] : "compile_sdl_files");
        std::fflush(stdout);
        return TCL_OK;
    }
    const char* path_list = Tcl_GetVar(interp, "pdl_path", TCL_GLOBAL_ONLY);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-") == 0) {
            if (i + 1 >= argc) {
                std::printf("no standard input provided\n");
            } else {
                compile_text(argv[i + 1], std::strlen(argv[i + 1]));
            }
            break;
        }
        std::string name = argv[i];
        if (name.find('.') == std::string::npos) name += ".sdl";
        std::string found;
        std::unique_ptr<FILE, FileCloser> in(open_on_path(interp, name, path_list, &found));
        if (!in) {
            report(interp, kModule, __LINE__, LOG_FAULT, "couldn't open %s locally or in the path \"%s\"",
                   name.c_str(), path_list ? path_list : "");
            continue;
        }
        std::printf("compiling %s...\n", found.c_str());
        SdlSource source;
        source.file = in.get();
        compile_sdl(source, definitions(), protodb(), stdout);
    }
    std::fflush(stdout);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

const Definition* find_definition(Tcl_Interp* interp, const char* name) {
    Tcl_Obj* text = Tcl_GetVar2Ex(interp, name, nullptr, TCL_GLOBAL_ONLY);
    if (!text) {
        std::printf("couldn't find state machine %s\n", name);
        std::fflush(stdout);
        return nullptr;
    }
    if (const Definition* def = definitions().find(name)) return def;
    // The text stays referenced while it is compiled, whatever the compiler's
    // diagnostics run.
    Tcl_IncrRefCount(text);
    int length = 0;
    const char* bytes = Tcl_GetStringFromObj(text, &length);
    compile_text(bytes, static_cast<size_t>(length));
    Tcl_DecrRefCount(text);
    const Definition* def = definitions().find(name);
    if (!def) {
        std::printf("couldn't find state machine %s\n", name);
        std::fflush(stdout);
    }
    return def;
}

}  // namespace zm

// The one boundary between Tcl and the core: every command procedure, timer,
// file handler and idle callback enters C++ through these wrappers, which turn
// the arguments into one word vector and stop every exception with one report.
#pragma once
#include <tcl.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/report.h"

namespace zm {

// A command's words as C strings, argv[argc] null (room for parse_options to
// compact them in place). The strings belong to the Tcl objects of the call.
struct Words {
    std::vector<const char*> argv;
    int argc = 0;
    Words(int objc, Tcl_Obj* const objv[]) : argc(objc) {
        argv.reserve(static_cast<size_t>(objc) + 1);
        for (int i = 0; i < objc; ++i) argv.push_back(Tcl_GetString(objv[i]));
        argv.push_back(nullptr);
    }
    const char* operator[](int i) const { return argv[static_cast<size_t>(i)]; }
    const char** data() { return argv.data(); }
};

// Runs `body` and turns any exception into a Fault report from `module`,
// "<what> failed: <reason>", and TCL_ERROR.
template <typename Body>
int guard(Tcl_Interp* interp, const char* module, const char* what, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        try {
            report(interp, module, __LINE__, LOG_FAULT, "%s failed: %s", what, e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            report(interp, module, __LINE__, LOG_FAULT, "%s failed", what);
        } catch (...) {
        }
    }
    return TCL_ERROR;
}

// As guard, for callbacks that return nothing (timers, file handlers, idle
// callbacks, delete callbacks): the exception is reported and swallowed.
template <typename Body>
void guard_void(Tcl_Interp* interp, const char* module, const char* what, Body&& body) noexcept {
    (void)guard(interp, module, what, [&]() {
        body();
        return TCL_OK;
    });
}

// A command procedure written against Words: `Proc` is
// int (*)(ClientData, Tcl_Interp*, Words&). `object_command<Proc>` is the
// Tcl_ObjCmdProc that builds the words and guards the call; the report names
// the command's first word.
using WordsProc = int (*)(ClientData data, Tcl_Interp* interp, Words& words);

template <WordsProc Proc>
int object_command(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) noexcept {
    const char* what = objc > 0 ? Tcl_GetString(objv[0]) : "command";
    return guard(interp, "zemko", what, [&]() {
        Words words(objc, objv);
        return Proc(data, interp, words);
    });
}

// Registers `Proc` as the object command `name`.
template <WordsProc Proc>
Tcl_Command create_command(Tcl_Interp* interp, const char* name, ClientData data = nullptr,
                           Tcl_CmdDeleteProc* on_delete = nullptr) {
    return Tcl_CreateObjCommand(interp, name, object_command<Proc>, data, on_delete);
}

// A command's result as a list of texts (class names, interface names, tags).
template <typename Texts>
void set_text_list_result(Tcl_Interp* interp, const Texts& texts) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const std::string& t : texts)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(t.data(), static_cast<int>(t.size())));
    Tcl_SetObjResult(interp, list);
}

// Writes text to the interpreter's standard output channel, or to the
// process's standard output where there is none. The process stream is
// flushed first so that output written through both keeps its order.
// `as_bytes` writes the bytes as they are (renderer dumps may hold any byte)
// instead of as UTF-8 characters.
inline void write_standard_output(const std::string& text, bool as_bytes) {
    std::fflush(stdout);
    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (out) {
        if (as_bytes)
            Tcl_Write(out, text.data(), static_cast<int>(text.size()));
        else
            Tcl_WriteChars(out, text.data(), static_cast<int>(text.size()));
        Tcl_Flush(out);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

}  // namespace zm

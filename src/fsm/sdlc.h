// The SDL compiler's entries from the interpreter: file compilation and the
// definition look-up that compiles a machine's script variable on first use.
#pragma once

struct Tcl_Interp;

namespace zm {

struct Definition;

// Compiles SDL files into the process's definition list. `argv[0]` is the
// command name, then file names ("foo" opens "foo.sdl", searched along the
// global pdl_path), or "-" followed by SDL source text (which ends the
// list). Progress and compile errors are printed on standard output; a file
// that cannot be opened is reported and skipped. Always TCL_OK with an empty
// result.
int compile_sdl_files(Tcl_Interp* interp, int argc, const char** argv);

// The newest definition called `name`. When none is compiled yet, the global
// variable of that name is compiled as SDL text and the search repeated.
// Prints "couldn't find state machine NAME" and returns null when there is
// no such variable or its text does not define the machine.
const Definition* find_definition(Tcl_Interp* interp, const char* name);

}  // namespace zm

// Finding and opening a file along a list of directories.
#pragma once
#include <cstdio>
#include <string>

struct Tcl_Interp;

namespace zm {

// Opens `name` read-only as given, else in each directory of `dir_list` (a
// Tcl list; may be null) in order as dir + "/" + name. Returns the open
// file (caller closes) and its path in *found_path, or null. Paths of any
// length.
FILE* open_on_path(Tcl_Interp* interp, const std::string& name, const char* dir_list, std::string* found_path);

// RAII owner for a FILE*.
struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace zm

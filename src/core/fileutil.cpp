// Search for a file along a directory list.
#include "core/fileutil.h"

#include <tcl.h>

namespace zm {

FILE* open_on_path(Tcl_Interp* interp, const std::string& name, const char* dir_list, std::string* found_path) {
    if (FILE* f = std::fopen(name.c_str(), "r")) {
        if (found_path) *found_path = name;
        return f;
    }
    if (!dir_list || !interp) return nullptr;
    int count = 0;
    const char** dirs = nullptr;
    if (Tcl_SplitList(interp, dir_list, &count, &dirs) != TCL_OK) {
        Tcl_ResetResult(interp);
        return nullptr;
    }
    FILE* found = nullptr;
    for (int i = 0; i < count && !found; ++i) {
        std::string path = dirs[i];
        if (path.empty() || path.back() != '/') path += '/';
        path += name;
        found = std::fopen(path.c_str(), "r");
        if (found && found_path) *found_path = path;
    }
    Tcl_Free(reinterpret_cast<char*>(dirs));
    return found;
}

}  // namespace zm

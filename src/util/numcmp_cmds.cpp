// Numeric comparison commands: eq, neq, lte, gte, gt, lt on integers of any length.
#include <tcl.h>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "core/groups.h"
#include "core/report.h"
#include "util/numcmp.h"

namespace zm {
namespace {

// The relation travels as the command's client data.
int cmd_numcmp(ClientData cd, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    try {
        auto rel = static_cast<NumRelation>(reinterpret_cast<intptr_t>(cd));
        std::vector<std::string_view> words;
        words.reserve(size_t(objc));
        for (int i = 1; i < objc; ++i) {
            int len;
            const char* s = Tcl_GetStringFromObj(objv[i], &len);
            words.emplace_back(s, size_t(len));
        }
        bool holds = false;
        std::string error;
        if (!numcmp_words(rel, words, &holds, &error)) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), int(error.size())));
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj(holds ? "1" : "0", 1));
        return TCL_OK;
    } catch (const std::exception& e) {
        report(interp, "numcmp", __LINE__, LOG_FAULT, "%s failed: %s", Tcl_GetString(objv[0]),
               e.what());
        return TCL_ERROR;
    }
}

}  // namespace

int register_numcmp_group(Tcl_Interp* interp) {
    static constexpr struct {
        const char* name;
        NumRelation rel;
    } kCommands[] = {
        {"eq", NumRelation::eq},   {"neq", NumRelation::neq}, {"lte", NumRelation::lte},
        {"gte", NumRelation::gte}, {"gt", NumRelation::gt},   {"lt", NumRelation::lt},
    };
    for (const auto& c : kCommands)
        Tcl_CreateObjCommand(interp, c.name, cmd_numcmp,
                             reinterpret_cast<ClientData>(static_cast<intptr_t>(c.rel)), nullptr);
    return 0;
}

}  // namespace zm

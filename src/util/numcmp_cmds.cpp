// Numeric comparison commands: eq, neq, lte, gte, gt, lt on integers of any length.
#include <tcl.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/groups.h"
#include "core/tcl_entry.h"
#include "util/numcmp.h"

namespace zm {
namespace {

// The relation travels as the command's client data.
int numcmp_command(ClientData cd, Tcl_Interp* interp, Words& words) {
    auto rel = static_cast<NumRelation>(reinterpret_cast<intptr_t>(cd));
    std::vector<std::string_view> operands(words.argv.begin() + 1, words.argv.begin() + words.argc);
    bool holds = false;
    std::string error;
    if (!numcmp_words(rel, operands, &holds, &error)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), int(error.size())));
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(holds ? "1" : "0", 1));
    return TCL_OK;
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
        create_command<numcmp_command>(interp, c.name, reinterpret_cast<ClientData>(static_cast<intptr_t>(c.rel)));
    return 0;
}

}  // namespace zm

// Named-table commands: the twelve create/delete/add/remove/get/set/copy commands over the table store.
#include <tcl.h>

#include <string>
#include <vector>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "util/tables.h"

namespace zm {
namespace {

constexpr const char* kModule = "zemko_table";

using Strings = std::vector<std::string>;
using Handler = int (*)(Tcl_Interp*, const Strings&);

struct TableCommand {
    const char* name;
    size_t min_words;  // command word included
    const char* usage;
    Handler handler;
};

int failed(Tcl_Interp* interp, const TableError& err) {
    report(interp, kModule, __LINE__,
           err.level == TableErrorLevel::trace ? LOG_TRACE : LOG_FAULT, "%s",
           err.message.c_str());
    Tcl_ResetResult(interp);
    return TCL_ERROR;
}

Tcl_Obj* list_of(const std::vector<std::string>& items) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const auto& s : items)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(s.data(), int(s.size())));
    return list;
}

int set_list(Tcl_Interp* interp, const std::vector<std::string>& items) {
    Tcl_SetObjResult(interp, list_of(items));
    return TCL_OK;
}

int create_table(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    Strings columns(w.begin() + 2, w.end());
    return table_store().create(w[1], columns, &err) ? TCL_OK : failed(interp, err);
}

int delete_table(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    return table_store().remove_table(w[1], &err) ? TCL_OK : failed(interp, err);
}

int add_entry(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    Strings vals(w.begin() + 3, w.end());
    return table_store().add_entry(w[1], w[2], vals, &err) ? TCL_OK : failed(interp, err);
}

int remove_entry(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    return table_store().remove_entry(w[1], w[2], &err) ? TCL_OK : failed(interp, err);
}

int entry_exists(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    bool exists = false;
    if (!table_store().entry_exists(w[1], w[2], &exists, &err)) return failed(interp, err);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(exists ? "1" : "0", 1));
    return TCL_OK;
}

int entries_with_value(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    Strings names;
    if (!table_store().entries_with_value(w[1], w[2], w[3], &names, &err))
        return failed(interp, err);
    return set_list(interp, names);
}

int set_value(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    return table_store().set_value(w[1], w[2], w[3], w[4], &err) ? TCL_OK : failed(interp, err);
}

int get_value(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    std::string value;
    if (!table_store().get_value(w[1], w[2], w[3], &value, &err)) return failed(interp, err);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(value.data(), int(value.size())));
    return TCL_OK;
}

int get_row(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    Strings row;
    if (!table_store().get_row(w[1], w[2], &row, &err)) return failed(interp, err);
    return set_list(interp, row);
}

// Each (entry, value) pair as a sub-list followed by one space.
int get_column(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!table_store().get_column(w[1], w[2], &pairs, &err)) return failed(interp, err);
    Tcl_Obj* result = Tcl_NewObj();
    for (const auto& [name, value] : pairs) {
        Tcl_Obj* pair = list_of({name, value});
        // A one-element list renders the pair quoted as a list element.
        Tcl_Obj* one = Tcl_NewListObj(1, &pair);
        Tcl_IncrRefCount(one);
        Tcl_AppendObjToObj(result, one);
        Tcl_DecrRefCount(one);
        Tcl_AppendToObj(result, " ", 1);
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

int copy_entry(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    return table_store().copy_entry(w[1], w[2], w[3], &err) ? TCL_OK : failed(interp, err);
}

int entry_names(Tcl_Interp* interp, const Strings& w) {
    TableError err;
    Strings names;
    if (!table_store().entry_names(w[1], &names, &err)) return failed(interp, err);
    return set_list(interp, names);
}

const TableCommand kCommands[] = {
    {"create_zemko_table", 2, "create_zemko_table table_name col1 col2 ...", create_table},
    {"delete_zemko_table", 2, "delete_zemko_table table_name", delete_table},
    {"add_zemko_table_entry", 3,
     "add_zemko_table_entry table_name entry_name col1_val col2_val ...", add_entry},
    {"rmv_zemko_table_entry", 3, "rmv_zemko_table_entry table_name entry_name", remove_entry},
    {"exists_zemko_table_entry", 3, "exists_zemko_table_entry table_name entry_name",
     entry_exists},
    {"get_all_key_val_entries", 4, "get_all_key_val_entries_cmd table_name col_name col_val",
     entries_with_value},
    {"set_zemko_table_val", 5, "set_zemko_table_val table_name entry_name col_name val",
     set_value},
    {"get_zemko_table_val", 4, "get_zemko_table_val table_name entry_name col_name", get_value},
    {"get_zemko_table_row", 3, "get_zemko_table_row table_name entry_name", get_row},
    {"get_zemko_table_col", 3, "get_zemko_table_col table_name col_name", get_column},
    {"copy_zemko_table_entry", 4, "copy_zemko_table_entry table_name from_entry to_entry",
     copy_entry},
    {"get_zemko_table_entries", 2, "get_zemko_table_entries table_name", entry_names},
};

int table_command(ClientData cd, Tcl_Interp* interp, Words& words) {
    const auto* cmd = static_cast<const TableCommand*>(cd);
    if (size_t(words.argc) < cmd->min_words) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", cmd->usage);
        return TCL_ERROR;
    }
    return cmd->handler(interp, Strings(words.argv.begin(), words.argv.begin() + words.argc));
}

}  // namespace

int register_table_group(Tcl_Interp* interp) {
    for (const auto& c : kCommands)
        create_command<table_command>(interp, c.name, const_cast<TableCommand*>(&c));
    return 0;
}

}  // namespace zm

// The mib command: look-ups, objects added by hand, and image registration.
#include <tcl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/groups.h"
#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "mgmt/mib.h"

namespace zm {
namespace {

constexpr const char* kModule = "snmpmib";
constexpr const char* kUsage =
    "usage: \n  mib oid <mib name>\n  mib name <mib oid>\n  mib syntax <mib name or oid>\n"
    "  mib load <table + attributes>\n  mib unload <table>\n  mib reset\n  mib register ?options?";

void set_text(Tcl_Interp* interp, const std::string& text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), int(text.size())));
}

int db_error(Tcl_Interp* interp) {
    set_text(interp, "db_error");
    return TCL_ERROR;
}

// A key is a decimal number; anything else names no table.
bool parse_key(const char* text, int& key) {
    if (!*text || std::strlen(text) > 9) return false;
    int v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    key = v;
    return true;
}

int answer(Tcl_Interp* interp, const std::optional<std::string>& result) {
    if (!result) return db_error(interp);
    set_text(interp, *result);
    return TCL_OK;
}

int do_lookup(Tcl_Interp* interp, Words& w, const char* usage) {
    if (w.argc < 4) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", usage);
        return TCL_ERROR;
    }
    int key;
    if (!parse_key(w[3], key)) return db_error(interp);
    MibDatabase& db = mib_database();
    const std::string sub = w[1], arg = w[2];
    if (sub == "oid") return answer(interp, db.oid(key, arg));
    if (sub == "name") return answer(interp, db.name(key, arg));
    MibField field = sub == "syntax" ? MibField::syntax : sub == "access" ? MibField::access : MibField::status;
    return answer(interp, db.letter(key, arg, field));
}

int do_load(Tcl_Interp* interp, Words& w) {
    static const char* const kLoadUsage = "Usage : mib load <object_name> <object_ID> {{attribute syntax} ...}";
    if (w.argc < 4) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kLoadUsage);
        return TCL_ERROR;
    }
    // The attribute list may be left out: an object without attributes.
    int count = 0;
    const char** items = nullptr;
    if (Tcl_SplitList(interp, w.argc > 4 ? w[4] : "", &count, &items) != TCL_OK) return TCL_ERROR;
    std::vector<std::pair<std::string, std::string>> attrs;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        int n = 0;
        const char** pair = nullptr;
        ok = Tcl_SplitList(nullptr, items[i], &n, &pair) == TCL_OK && n == 2;
        if (ok) attrs.emplace_back(pair[0], pair[1]);
        if (pair) Tcl_Free(reinterpret_cast<char*>(pair));
    }
    Tcl_Free(reinterpret_cast<char*>(items));
    if (!ok) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kLoadUsage);
        return TCL_ERROR;
    }
    mib_database().load(w[2], w[3], attrs);
    return TCL_OK;
}

int do_unload(Tcl_Interp* interp, Words& w) {
    if (w.argc < 4) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Usage : mib unload <object_name> <key>");
        return TCL_ERROR;
    }
    int key;
    if (!parse_key(w[3], key) || !mib_database().unload(key, w[2])) return TCL_ERROR;
    return TCL_OK;
}

int do_register(Tcl_Interp* interp, Words& w) {
    if (w.argc < 3) {
        report(interp, kModule, __LINE__, LOG_FAULT, "No argumnets ? ");
        report(interp, kModule, __LINE__, LOG_FAULT, "Type 'mib register -help' for help");
        return TCL_ERROR;
    }
    const char* image = "";
    const char* library = "";
    const char* type = "mdl";
    const char* index = "";
    const char* platform = "";
    const OptSpec table[] = {
        {"-image", OPT_STRING, 0, &image, "Image name to access mdl or cdl"},
        {"-zemko_library", OPT_STRING, 0, &library, "mdl perl script path"},
        {"-mib_type", OPT_STRING, 0, &type, "mdl or cdl mib"},
        {"-mib_index_file", OPT_STRING, 0, &index, "MIB index file"},
        {"-platform", OPT_STRING, 0, &platform, "Platform for finding cdl file"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    int count = w.argc - 1;
    if (parse_options(interp, &count, w.data() + 1, table, 0) != TCL_OK || count != 1) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to register command");
        return TCL_ERROR;
    }
    const std::pair<const char*, const char*> texts[] = {
        {"-image", image}, {"-zemko_library", library}, {"-mib_index_file", index}, {"-platform", platform}};
    for (const auto& [option, text] : texts) {
        if (std::strlen(text) > kMibFieldMax) {
            report(interp, kModule, __LINE__, LOG_FAULT, "The %s value is longer than %zu characters: %s", option,
                   kMibFieldMax, text);
            return TCL_ERROR;
        }
    }
    MibImage img;
    img.image = image;
    img.library = library;
    img.index_file = index;
    img.platform = platform;
    img.type = std::strcmp(type, "mdl") == 0   ? kMibMdl
               : std::strcmp(type, "cdl") == 0 ? kMibCdl
               : std::strcmp(type, "mib") == 0 ? kMibText
                                               : kMibUnknown;
    set_text(interp, std::to_string(mib_database().register_image(std::move(img))));
    return TCL_OK;
}

int cmd_mib(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc < 2) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kUsage);
        return TCL_ERROR;
    }
    const std::string sub = w[1];
    if (sub == "oid") return do_lookup(interp, w, "Usage : mib oid <object_name> <key>");
    if (sub == "name") return do_lookup(interp, w, "Uasage : mib name <object_ID> <key>");
    if (sub == "syntax") return do_lookup(interp, w, "Uasage : mib syntax <object_name> <key>");
    if (sub == "access") return do_lookup(interp, w, "Uasage : mib access <object_name> <key>");
    if (sub == "status") return do_lookup(interp, w, "Uasage : mib status <object_name> <key>");
    if (sub == "load") return do_load(interp, w);
    if (sub == "unload") return do_unload(interp, w);
    if (sub == "reset") {
        mib_database().reset();
        return TCL_OK;
    }
    if (sub == "register") return do_register(interp, w);
    report(interp, kModule, __LINE__, LOG_FAULT, "invalid command \"%s\": %s", w[1], kUsage);
    return TCL_ERROR;
}

}  // namespace

int register_mib_group(Tcl_Interp* interp) {
    create_command<cmd_mib>(interp, "mib");
    return 0;
}

}  // namespace zm

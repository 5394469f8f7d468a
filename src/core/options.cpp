// The common option parser, its -help text, and the interned-word table.
#include "core/options.h"

#include <tcl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "core/report.h"

namespace zm {
namespace {

const OptSpec kDefaultTable[] = {
    {"-help", OPT_HELP, 0, nullptr, "Print summary of command-line options and abort"},
    {nullptr, OPT_END, 0, nullptr, nullptr},
};

void quoted(std::string& out, const char* word) {
    out += '"';
    out += word;
    out += '"';
}

void help_rows(std::string& out, const OptSpec* table, size_t width) {
    for (const OptSpec* row = table; row->type != OPT_END; ++row) {
        if (row->type == OPT_HELP && !row->key) {
            out += '\n';
            out += row->help ? row->help : "";
            continue;
        }
        if (!row->key) continue;
        size_t len = std::strlen(row->key);
        out += "\n ";
        out += row->key;
        out += ':';
        out.append(width + 1 - len, ' ');
        out += row->help ? row->help : "";
        char num[64];
        switch (row->type) {
        case OPT_INT:
            std::snprintf(num, sizeof num, "%d", *static_cast<int*>(row->dst));
            out += "\n\t\tDefault value: ";
            out += num;
            break;
        case OPT_STRING: {
            const char* value = *static_cast<const char**>(row->dst);
            if (value) {
                out += "\n\t\tDefault value: ";
                quoted(out, value);
            }
            break;
        }
        case OPT_FLOAT:
            std::snprintf(num, sizeof num, "%g", *static_cast<double*>(row->dst));
            out += "\n\t\tDefault value: ";
            out += num;
            break;
        default:
            break;
        }
    }
}

std::string help_text(const OptSpec* table, int flags) {
    size_t width = 4;
    for (const OptSpec* t : {table, kDefaultTable})
        for (const OptSpec* row = t; row->type != OPT_END; ++row)
            if (row->key) width = std::max(width, std::strlen(row->key));
    std::string out = "Command-specific options:";
    help_rows(out, table, width);
    if (!(flags & OPT_NO_DEFAULTS)) {
        out += "\nGeneric options for all commands:";
        help_rows(out, kDefaultTable, width);
    }
    return out;
}

void set_result(Tcl_Interp* interp, const std::string& text) {
    if (interp) Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size())));
}

// "expected <kind> argument for "<key>" but got "<value>"" as the result.
int bad_number(Tcl_Interp* interp, const char* kind, const char* key, const char* value) {
    std::string msg = "expected ";
    msg += kind;
    msg += " argument for ";
    quoted(msg, key);
    msg += " but got ";
    quoted(msg, value);
    set_result(interp, msg);
    return TCL_ERROR;
}

// Finds the row for `word`: an exact key wins at once; two abbreviation
// matches are ambiguous (returns null with *ambiguous set).
const OptSpec* find_row(const OptSpec* table, const char* word, int flags, bool* ambiguous) {
    size_t length = std::strlen(word);
    char c = length > 1 ? word[1] : '\0';
    const OptSpec* abbrev = nullptr;
    *ambiguous = false;
    for (const OptSpec* t : {table, kDefaultTable}) {
        for (const OptSpec* row = t; row->type != OPT_END; ++row) {
            if (!row->key || row->key[0] == '\0' || row->key[1] != c) continue;
            if (std::strncmp(row->key, word, length) != 0) continue;
            if (row->key[length] == '\0') return row;
            if (flags & OPT_NO_ABBREV) continue;
            if (abbrev) {
                *ambiguous = true;
                return nullptr;
            }
            abbrev = row;
        }
    }
    return abbrev;
}

}  // namespace

int parse_options(Tcl_Interp* interp, int* argc, const char** argv, const OptSpec* table, int flags) {
    int count = *argc;
    int src = (flags & OPT_KEEP_FIRST) ? 0 : 1;
    int dst = src;
    while (src < count) {
        const char* word = argv[src];
        bool ambiguous = false;
        const OptSpec* row = (word[0] == '-') ? find_row(table, word, flags, &ambiguous)
                                              : find_row(table, word, flags | OPT_NO_ABBREV, &ambiguous);
        if (ambiguous) {
            std::string msg = "ambiguous option ";
            quoted(msg, word);
            set_result(interp, msg);
            return TCL_ERROR;
        }
        if (!row) {
            if (flags & OPT_NO_LEFTOVERS) {
                std::string msg = "unrecognized argument ";
                quoted(msg, word);
                set_result(interp, msg);
                return TCL_ERROR;
            }
            argv[dst++] = argv[src++];
            continue;
        }
        ++src;
        bool needs_value = row->type == OPT_INT || row->type == OPT_STRING || row->type == OPT_UID ||
                           row->type == OPT_FLOAT;
        if (needs_value && src >= count) {
            std::string msg;
            quoted(msg, word);
            msg += " option requires an additional argument";
            set_result(interp, msg);
            return TCL_ERROR;
        }
        switch (row->type) {
        case OPT_CONSTANT:
            *static_cast<int*>(row->dst) = static_cast<int>(row->src);
            break;
        case OPT_INT: {
            const char* value = argv[src++];
            char* end = nullptr;
            errno = 0;
            long v = std::strtol(value, &end, 0);
            if (end == value || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX)
                return bad_number(interp, "integer", row->key, value);
            *static_cast<int*>(row->dst) = static_cast<int>(v);
            break;
        }
        case OPT_STRING:
            *static_cast<const char**>(row->dst) = argv[src++];
            break;
        case OPT_UID:
            *static_cast<const char**>(row->dst) = intern(argv[src++]);
            break;
        case OPT_FLOAT: {
            const char* value = argv[src++];
            char* end = nullptr;
            double v = std::strtod(value, &end);
            if (end == value || *end != '\0') return bad_number(interp, "floating-point", row->key, value);
            *static_cast<double*>(row->dst) = v;
            break;
        }
        case OPT_REST:
            *static_cast<int*>(row->dst) = dst;
            while (src < count) argv[dst++] = argv[src++];
            break;
        case OPT_FUNC: {
            auto fn = reinterpret_cast<OptFunc>(row->src);
            const char* next = src < count ? argv[src] : nullptr;
            if (fn(row->dst, row->key, next) && next) ++src;
            break;
        }
        case OPT_GENFUNC: {
            auto fn = reinterpret_cast<OptGenFunc>(row->src);
            int remaining = count - src;
            int left = fn(row->dst, interp, row->key, remaining, argv + src);
            if (left < 0) return TCL_ERROR;
            // The function compacted what it kept to the front of the remaining words.
            for (int i = 0; i < left; ++i) argv[src + i] = argv[src + i];
            count = src + left;
            break;
        }
        case OPT_HELP:
            set_result(interp, help_text(table, flags));
            return TCL_ERROR;
        default:
            set_result(interp, "bad option table: unknown option type " + std::to_string(row->type));
            return TCL_ERROR;
        }
    }
    argv[dst] = nullptr;
    *argc = dst;
    return TCL_OK;
}

void warn_ignored_words(Tcl_Interp* interp, const char* module, int line, const char* what, int count,
                        const char* const* words) {
    if (count <= 0) return;
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += words[i];
    }
    report(interp, module, line, LOG_WARNING, "Ignored words to %s: \"%s\"", what, text.c_str());
}

int bad_option_value(Tcl_Interp* interp, const char* kind, const char* key, const char* value) {
    return bad_number(interp, kind, key, value);
}

const char* intern(const char* text) {
    static std::unordered_set<std::string> words;
    return words.emplace(text).first->c_str();
}

}  // namespace zm

// Protocol-description commands: pdlc (compile PDL files), pdf (queries) and dumppdf.
#include <tcl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>

#include "core/fileutil.h"
#include "core/groups.h"
#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

namespace zm {

namespace {

const char kModule[] = "pdlc";

// Line numbers printed in pdlc's per-file messages. Scripts and logs match
// these lines as they have always read, so they stay fixed whatever the
// layout of this file.
constexpr int kLineNotFound = 455;
constexpr int kLineNoPreprocessor = 477;
constexpr int kLineUnlinkFailed = 495;

// Progress lines go to the interpreter's standard output channel; the
// database's own messages go to the process's standard output.
void channel_write(const std::string& text) { write_standard_output(text, false); }

// A temporary file for the preprocessor's output; removed at scope exit unless released.
struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile() {
        if (!path.empty() && !keep) ::unlink(path.c_str());
    }
    bool create() {
        const char* dir = std::getenv("TMPDIR");
        std::string templ = std::string(dir && *dir ? dir : "/tmp") + "/pdlcXXXXXX";
        int fd = ::mkstemp(templ.data());
        if (fd < 0) return false;
        ::close(fd);
        path = templ;
        return true;
    }
};

// Checks that the kept output `name` (in the current directory) can be
// written. A file there that does not begin with a line marker is not the
// output of an earlier run: it is replaced, but not without a Warning.
bool open_kept_output(Tcl_Interp* interp, const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        char head[3] = {};
        std::unique_ptr<FILE, FileCloser> old(std::fopen(name.c_str(), "rb"));
        size_t n = old ? std::fread(head, 1, sizeof head, old.get()) : 0;
        bool marker = n == sizeof head && head[0] == '#' && head[1] == ' ' && std::isdigit(uint8_t(head[2]));
        if (!marker) {
            report(interp, kModule, __LINE__, LOG_WARNING,
                   "replacing \"%s\", which does not hold preprocessor output", name.c_str());
        }
    }
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        report_os_error(interp, kModule, __LINE__, "couldn't open \"%s\" for the preprocessor output", name.c_str());
        return false;
    }
    ::close(fd);
    return true;
}

// Compiles one file argument; every outcome is reported, none is an error.
void compile_one(Tcl_Interp* interp, ProtoDb& db, const std::string& arg, bool nocpp, bool keep,
                 const char* pdl_path) {
    // Only the file's own name counts: a point in a directory name neither
    // stops ".pdl" being added nor names the kept output.
    size_t slash = arg.rfind('/');
    std::string own = slash == std::string::npos ? arg : arg.substr(slash + 1);
    std::string file_name;
    std::string out_base;
    size_t dot = own.find('.');
    if (dot == std::string::npos) {
        file_name = arg + ".pdl";
        out_base = own;
    } else {
        file_name = arg;
        out_base = own.substr(0, dot);
    }

    std::string found;
    std::unique_ptr<FILE, FileCloser> in(open_on_path(interp, file_name, pdl_path, &found));
    if (!in) {
        std::printf("%s(%d): couldn't find \"%s\"\n", kModule, kLineNotFound, file_name.c_str());
        std::fflush(stdout);
        return;
    }
    db.set_current_file(file_name);

    TempFile temp;
    if (!nocpp) {
        in.reset();
        std::string out_name;
        if (keep && !out_base.empty()) {
            out_name = out_base;
            if (!open_kept_output(interp, out_name)) return;
        } else {
            if (keep) {
                report(interp, kModule, __LINE__, LOG_WARNING,
                       "\"%s\" gives no name for the kept preprocessor output; it is not kept", file_name.c_str());
                keep = false;
            }
            if (!temp.create()) {
                report_os_error(interp, kModule, __LINE__, "couldn't create a temporary file for \"%s\"",
                                file_name.c_str());
                return;
            }
            out_name = temp.path;
        }
        channel_write("precompiling...");
        int status = run_preprocessor(found, out_name);
        if (status == 127) {
            std::printf("%s(%d): error with call to \"system\".\n", kModule, kLineNoPreprocessor);
            std::fflush(stdout);
            return;
        }
        in.reset(std::fopen(out_name.c_str(), "r"));
        if (!in) {
            report_os_error(interp, kModule, __LINE__, "couldn't open %s locally or in the path \"%s\"",
                            out_name.c_str(), pdl_path ? pdl_path : "");
            return;
        }
        if (!keep) {
            // The open stream keeps the text readable after the name is gone.
            if (::unlink(out_name.c_str()) != 0) {
                std::printf("%s(%d): unlink error\n", kModule, kLineUnlinkFailed);
                std::fflush(stdout);
                return;
            }
            temp.path.clear();
        }
    }

    channel_write("compiling" + found + "...\n");
    PdlResult r = parse_pdl(db, in.get());
    db.set_line(1);
    if (r == PdlResult::abandoned || r == PdlResult::scan_error) {
        std::printf("Parser abort/exception... \n");
        std::fflush(stderr);
    }
    std::fflush(stdout);
}

int pdlc_command(ClientData, Tcl_Interp* interp, Words& words) {
    int nocpp = 0;
    int keep = 0;
    const OptSpec table[] = {
        {"-nocpp", OPT_CONSTANT, 1, &nocpp, "Don't run C preprocessor"},
        {"-keeppreout", OPT_CONSTANT, 1, &keep, "Keep Pre-processor output."},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    int argc = words.argc;
    if (parse_options(interp, &argc, words.data(), table, OPT_NO_DEFAULTS) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Failed processing arguments: %s", Tcl_GetStringResult(interp));
        return TCL_ERROR;
    }
    const char* path_var = Tcl_GetVar(interp, "pdl_path", TCL_GLOBAL_ONLY);
    std::string pdl_path = path_var ? path_var : "";
    if (nocpp && keep) {
        errno = 0;  // no system call failed: the message carries no stale error text
        report_os_error(interp, kModule, __LINE__,
                        "Doesn't make sense to disable cpp, but elect to keep cpp output.  Will continue.");
        keep = 0;
    }
    ProtoDb& db = protodb();
    for (int i = 1; i < argc; ++i) {
        compile_one(interp, db, words[i], nocpp != 0, keep != 0, path_var ? pdl_path.c_str() : nullptr);
    }
    db.resolve_unresolved();
    std::fflush(stdout);
    Tcl_ResetResult(interp);
    return TCL_OK;
}


// ---------------------------------------------------------------------------
// pdf

std::string base_name(const char* path) {
    std::string p = path ? path : "";
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

void append_width_terms(Tcl_Interp* interp, const Expr* e, int depth) {
    if (!e || depth > 10000) return;
    switch (e->type_) {
    case EXPR_NOT:
        Tcl_AppendElement(interp, "!");
        append_width_terms(interp, e->left_, depth + 1);
        return;
    case EXPR_NUMBER: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(e->value_));
        Tcl_AppendElement(interp, buf);
        return;
    }
    case EXPR_NAME:
        if (e->field_) Tcl_AppendElement(interp, e->field_->name_.c_str());
        else if (e->evaluator_ != Evaluator::field_value && e->evaluator_ != Evaluator::none)
            Tcl_AppendElement(interp, e->name_.c_str());
        return;
    case EXPR_CALL:
        Tcl_AppendElement(interp, "func()");
        return;
    default:
        break;
    }
    if (!e->is_binary()) return;
    append_width_terms(interp, e->left_, depth + 1);
    switch (e->type_) {
    case EXPR_ADD: Tcl_AppendElement(interp, "+"); break;
    case EXPR_SUB: Tcl_AppendElement(interp, "-"); break;
    case EXPR_MUL: Tcl_AppendElement(interp, "*"); break;
    case EXPR_DIV: Tcl_AppendElement(interp, "/"); break;
    default: break;
    }
    append_width_terms(interp, e->right_, depth + 1);
}

void append_value_source(Tcl_Interp* interp, const Symbol* s) {
    if (!s) return;
    static const char* const calc[] = {"checksum()", "length()", "lengthof()", "pad()", "bitswap()", "byteswap()"};
    if (s->kind_ >= SYM_CHECKSUM && s->kind_ <= SYM_BYTESWAP) {
        Tcl_AppendElement(interp, calc[s->kind_ - SYM_CHECKSUM]);
    } else if (s->kind_ == SYM_FIELD_REF) {
        return;
    } else if (s->length_ == 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(s->number()));
        Tcl_AppendElement(interp, buf);
    } else {
        // Value bytes need not be UTF-8: take each byte as one character.
        Tcl_DString ds;
        Tcl_Encoding latin1 = Tcl_GetEncoding(nullptr, "iso8859-1");
        Tcl_ExternalToUtfDString(latin1, reinterpret_cast<const char*>(s->value_at()), static_cast<int>(s->length_),
                                 &ds);
        if (latin1) Tcl_FreeEncoding(latin1);
        Tcl_AppendElement(interp, Tcl_DStringValue(&ds));
        Tcl_DStringFree(&ds);
    }
}

struct TagVisit {
    Tcl_Obj* list;
};

void collect_tagged(int kind, void* object, void* ctx) {
    Tcl_Obj* list = static_cast<TagVisit*>(ctx)->list;
    if (kind == 0) {
        const std::string& n = static_cast<Node*>(object)->name_;
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(n.data(), static_cast<int>(n.size())));
    } else {
        const Field* f = static_cast<Field*>(object);
        std::string n = (f->owner_ ? f->owner_->name_ : std::string()) + "." + f->name_;
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(n.data(), static_cast<int>(n.size())));
    }
}

// The pdf queries. A query of kind `name` reads its argument as a name of its
// own (a tag, a file, a NODE.field); the others take an optional node name,
// which must then exist, and those of kind `node` need it.
enum class PdfArg { name, none, node };
using PdfQuery = int (*)(Tcl_Interp* interp, ProtoDb& db, const char* name, Node* node);

int pdf_withtag(Tcl_Interp* interp, ProtoDb& db, const char* name, Node*) {
    TagVisit v{Tcl_NewListObj(0, nullptr)};
    if (const char* tag = db.find_tag(name)) db.for_each_tagged(tag, collect_tagged, &v);
    Tcl_SetObjResult(interp, v.list);
    return TCL_OK;
}

int pdf_file(Tcl_Interp* interp, ProtoDb& db, const char* name, Node*) {
    std::string want = base_name(name);
    for (Node* n = db.first_node(); n; n = n->next_)
        if (n->file_ && base_name(n->file_) == want) Tcl_AppendElement(interp, n->name_.c_str());
    return TCL_OK;
}

Field* named_field(Tcl_Interp* interp, ProtoDb& db, const char* name) {
    Field* f = db.find_field(nullptr, name);
    if (!f) Tcl_SetResult(interp, const_cast<char*>("Unknown fragment name"), TCL_STATIC);
    return f;
}

int pdf_default(Tcl_Interp* interp, ProtoDb& db, const char* name, Node*) {
    Field* f = named_field(interp, db, name);
    if (!f) return TCL_ERROR;
    const Symbol* s = f->value_source_;
    if (s && s->kind_ == SYM_VALUE && s->length_ == 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(s->number()));
        Tcl_AppendResult(interp, buf, nullptr);
    }
    return TCL_OK;
}

int pdf_fielddisplay(Tcl_Interp* interp, ProtoDb& db, const char* name, Node*) {
    Field* f = named_field(interp, db, name);
    if (!f) return TCL_ERROR;
    Tcl_AppendResult(interp, f->display_.empty() ? "%hex" : f->display_.c_str(), nullptr);
    return TCL_OK;
}

int pdf_whatfile(Tcl_Interp* interp, ProtoDb& db, const char* name, Node*) {
    Node* n = db.find_node(name);
    if (n && n->file_) Tcl_AppendElement(interp, n->file_);
    return TCL_OK;
}

int pdf_list(Tcl_Interp* interp, ProtoDb& db, const char*, Node*) {
    for (Node* n = db.first_node(); n; n = n->next_) Tcl_AppendElement(interp, n->name_.c_str());
    return TCL_OK;
}

int pdf_bases(Tcl_Interp* interp, ProtoDb& db, const char*, Node*) {
    for (Node* n = db.first_node(); n; n = n->next_)
        if (n->is_base()) Tcl_AppendElement(interp, n->name_.c_str());
    return TCL_OK;
}

int pdf_files(Tcl_Interp* interp, ProtoDb& db, const char*, Node*) {
    for (const std::string& f : db.file_names()) Tcl_AppendElement(interp, f.c_str());
    return TCL_OK;
}

int pdf_tags(Tcl_Interp* interp, ProtoDb& db, const char*, Node*) {
    set_text_list_result(interp, db.tags());
    return TCL_OK;
}

int pdf_children(Tcl_Interp* interp, ProtoDb&, const char*, Node* node) {
    std::vector<const Node*> seen;
    for (ChildLink* l = node->children_; l; l = l->next_) {
        bool dup = false;
        for (const Node* s : seen) dup = dup || s == l->node_;
        if (dup) continue;
        seen.push_back(l->node_);
        Tcl_AppendElement(interp, l->node_->name_.c_str());
    }
    return TCL_OK;
}

int pdf_arrays(Tcl_Interp* interp, ProtoDb&, const char*, Node* node) {
    for (Field* f = node->first_field_; f; f = f->next_)
        if (f->element_node_) Tcl_AppendElement(interp, f->element_node_->name_.c_str());
    return TCL_OK;
}

int pdf_parents(Tcl_Interp* interp, ProtoDb&, const char*, Node* node) {
    for (ChildLink* l = node->parents_; l; l = l->next_)
        if (l->node_) Tcl_AppendElement(interp, l->node_->name_.c_str());
    return TCL_OK;
}

int pdf_fields(Tcl_Interp* interp, ProtoDb&, const char*, Node* node) {
    for (Field* f = node->first_field_; f; f = f->next_)
        Tcl_AppendElement(interp, f->element_node_ ? "array" : f->name_.c_str());
    return TCL_OK;
}

template <bool Values>
int pdf_exprs(Tcl_Interp* interp, ProtoDb&, const char*, Node* node) {
    for (Field* f = node->first_field_; f; f = f->next_) {
        std::string head = "\n" + f->name_ + ": ";
        Tcl_AppendResult(interp, head.c_str(), nullptr);
        if (Values) append_value_source(interp, f->value_source_);
        else append_width_terms(interp, f->width_, 0);
    }
    return TCL_OK;
}

int pdf_nodedisplay(Tcl_Interp* interp, ProtoDb&, const char*, Node* node) {
    if (NodeAttr* a = find_node_attr(node, NATTR_DISPLAY)) Tcl_AppendResult(interp, a->text_.c_str(), nullptr);
    return TCL_OK;
}

struct PdfRow {
    const char* word;
    PdfArg arg;
    PdfQuery query;
};
constexpr PdfRow kPdfQueries[] = {
    {"withtag", PdfArg::name, pdf_withtag},       {"file", PdfArg::name, pdf_file},
    {"default", PdfArg::name, pdf_default},       {"fielddisplay", PdfArg::name, pdf_fielddisplay},
    {"whatfile", PdfArg::name, pdf_whatfile},     {"list", PdfArg::none, pdf_list},
    {"bases", PdfArg::none, pdf_bases},           {"files", PdfArg::none, pdf_files},
    {"tags", PdfArg::none, pdf_tags},             {"children", PdfArg::node, pdf_children},
    {"arrays", PdfArg::node, pdf_arrays},         {"parents", PdfArg::node, pdf_parents},
    {"fields", PdfArg::node, pdf_fields},         {"val_exprs", PdfArg::node, pdf_exprs<true>},
    {"width_exprs", PdfArg::node, pdf_exprs<false>}, {"nodedisplay", PdfArg::node, pdf_nodedisplay},
};

int pdf_command(ClientData, Tcl_Interp* interp, Words& words) {
    Tcl_ResetResult(interp);
    if (words.argc < 2) {
        Tcl_SetResult(interp, const_cast<char*>("Bad arg count, needs 1 arg"), TCL_STATIC);
        return TCL_ERROR;
    }
    ProtoDb& db = protodb();
    const char* name = words.argc >= 3 ? words[2] : nullptr;
    const PdfRow* row = nullptr;
    for (const PdfRow& r : kPdfQueries)
        if (std::strcmp(words[1], r.word) == 0) row = &r;
    if (name && row && row->arg == PdfArg::name) return row->query(interp, db, name, nullptr);
    Node* node = nullptr;
    if (name) {
        node = db.find_node(name);
        if (!node) {
            Tcl_SetResult(interp, const_cast<char*>("Unknown fragment name"), TCL_STATIC);
            return TCL_ERROR;
        }
    }
    // Unknown words, and name queries without their name, answer nothing.
    if (!row || row->arg == PdfArg::name) return TCL_OK;
    if (row->arg == PdfArg::node && !node) {
        Tcl_SetResult(interp, const_cast<char*>("Fragment name must be specified"), TCL_STATIC);
        return TCL_ERROR;
    }
    return row->query(interp, db, name, node);
}

// ---------------------------------------------------------------------------
// dumppdf

int dumppdf_command(ClientData, Tcl_Interp* interp, Words&) {
    std::fflush(stdout);
    dump_protodb(protodb(), stdout);
    std::fflush(stdout);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

}  // namespace

void dump_protodb(const ProtoDb& db, std::FILE* out) {
    for (const Node* n = db.first_node(); n; n = n->next_) {
        std::fprintf(out, "node: %s\n", n->name_.c_str());
        for (const Field* f = n->first_field_; f; f = f->next_) {
            std::fprintf(out, "  field:  %s\t\tref %d node %s\t", f->name_.c_str(),
                         static_cast<int>(f->flags_ & FLD_REFERENCED),
                         f->element_node_ ? f->element_node_->name_.c_str() : "");
            for (const Symbol* s = f->legal_values_; s; s = s->next_)
                std::fprintf(out, "val: %lx ", static_cast<unsigned long>(s->first_word_le()));
            std::fprintf(out, "\n");
        }
        for (const ChildLink* l = n->parents_; l; l = l->next_)
            std::fprintf(out, "  parent: %s\n", l->node_ ? l->node_->name_.c_str() : "");
        for (const ChildLink* l = n->children_; l; l = l->next_)
            std::fprintf(out, "  child:  %s\t\tmux %x mod %c\n", l->node_->name_.c_str(), l->value_,
                         l->selector_ ? 'e' : '-');
    }
}

int register_pdl_group(Tcl_Interp* interp) {
    protodb();  // the empty node registry exists from start-up on
    create_command<pdlc_command>(interp, "pdlc");
    create_command<pdf_command>(interp, "pdf");
    create_command<dumppdf_command>(interp, "dumppdf");
    return 0;
}

}  // namespace zm

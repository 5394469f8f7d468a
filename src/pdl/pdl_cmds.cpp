// Protocol-description commands: pdlc (compile PDL files), pdf (queries) and dumppdf.
#include <tcl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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
#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

namespace zm {

namespace {

const char kModule[] = "pdlc";

// Progress lines go to the interpreter's standard output channel; the
// database's own messages go to the process's standard output. Flushing
// the stream before the channel keeps the two in order.
void channel_write(Tcl_Interp*, const std::string& text) {
    std::fflush(stdout);
    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (out) {
        Tcl_WriteChars(out, text.data(), static_cast<int>(text.size()));
        Tcl_Flush(out);
    } else {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
}

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
        std::printf("%s(%d): couldn't find \"%s\"\n", kModule, 455, file_name.c_str());
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
        channel_write(interp, "precompiling...");
        int status = run_preprocessor(found, out_name);
        if (status == 127) {
            std::printf("%s(%d): error with call to \"system\".\n", kModule, 477);
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
                std::printf("%s(%d): unlink error\n", kModule, 495);
                std::fflush(stdout);
                return;
            }
            temp.path.clear();
        }
    }

    channel_write(interp, "compiling" + found + "...\n");
    PdlResult r = parse_pdl(db, in.get());
    db.set_line(1);
    if (r == PdlResult::abandoned || r == PdlResult::scan_error) {
        std::printf("Parser abort/exception... \n");
        std::fflush(stderr);
    }
    std::fflush(stdout);
}

int pdlc_impl(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    int nocpp = 0;
    int keep = 0;
    const OptSpec table[] = {
        {"-nocpp", OPT_CONSTANT, 1, &nocpp, "Don't run C preprocessor"},
        {"-keeppreout", OPT_CONSTANT, 1, &keep, "Keep Pre-processor output."},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    std::vector<const char*> words = obj_words(objc, objv);
    int argc = objc;
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

int cmd_pdlc(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    try {
        return pdlc_impl(interp, objc, objv);
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "pdlc failed: %s", e.what());
        return TCL_ERROR;
    }
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

int pdf_impl(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    Tcl_ResetResult(interp);
    if (objc < 2) {
        Tcl_SetResult(interp, const_cast<char*>("Bad arg count, needs 1 arg"), TCL_STATIC);
        return TCL_ERROR;
    }
    ProtoDb& db = protodb();
    std::string sub = Tcl_GetString(objv[1]);
    const char* name = objc >= 3 ? Tcl_GetString(objv[2]) : nullptr;

    if (name) {
        if (sub == "withtag") {
            TagVisit v{Tcl_NewListObj(0, nullptr)};
            if (const char* tag = db.find_tag(name)) db.for_each_tagged(tag, collect_tagged, &v);
            Tcl_SetObjResult(interp, v.list);
            return TCL_OK;
        }
        if (sub == "file") {
            std::string want = base_name(name);
            for (Node* n = db.first_node(); n; n = n->next_) {
                if (n->file_ && base_name(n->file_) == want) Tcl_AppendElement(interp, n->name_.c_str());
            }
            return TCL_OK;
        }
        if (sub == "default" || sub == "fielddisplay") {
            Field* f = db.find_field(nullptr, name);
            if (!f) {
                Tcl_SetResult(interp, const_cast<char*>("Unknown fragment name"), TCL_STATIC);
                return TCL_ERROR;
            }
            if (sub == "default") {
                const Symbol* s = f->value_source_;
                if (s && s->kind_ == SYM_VALUE && s->length_ == 0) {
                    char buf[32];
                    std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(s->number()));
                    Tcl_AppendResult(interp, buf, nullptr);
                }
            } else {
                Tcl_AppendResult(interp, f->display_.empty() ? "%hex" : f->display_.c_str(), nullptr);
            }
            return TCL_OK;
        }
        if (sub == "whatfile") {
            Node* n = db.find_node(name);
            if (n && n->file_) Tcl_AppendElement(interp, n->file_);
            return TCL_OK;
        }
    }

    Node* node = nullptr;
    if (name) {
        node = db.find_node(name);
        if (!node) {
            Tcl_SetResult(interp, const_cast<char*>("Unknown fragment name"), TCL_STATIC);
            return TCL_ERROR;
        }
    }

    if (sub == "list") {
        for (Node* n = db.first_node(); n; n = n->next_) Tcl_AppendElement(interp, n->name_.c_str());
        return TCL_OK;
    }
    if (sub == "bases") {
        for (Node* n = db.first_node(); n; n = n->next_) {
            if (n->is_base()) Tcl_AppendElement(interp, n->name_.c_str());
        }
        return TCL_OK;
    }
    if (sub == "files") {
        for (const std::string& f : db.file_names()) Tcl_AppendElement(interp, f.c_str());
        return TCL_OK;
    }
    if (sub == "tags") {
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        for (const std::string& t : db.tags())
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(t.data(), static_cast<int>(t.size())));
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    }

    static const char* const needs_node[] = {"children", "arrays", "parents", "fields",
                                             "val_exprs", "width_exprs", "nodedisplay"};
    bool known = false;
    for (const char* s : needs_node) known = known || sub == s;
    if (!known) return TCL_OK;
    if (!node) {
        Tcl_SetResult(interp, const_cast<char*>("Fragment name must be specified"), TCL_STATIC);
        return TCL_ERROR;
    }

    if (sub == "children") {
        std::vector<const Node*> seen;
        for (ChildLink* l = node->children_; l; l = l->next_) {
            bool dup = false;
            for (const Node* s : seen) dup = dup || s == l->node_;
            if (dup) continue;
            seen.push_back(l->node_);
            Tcl_AppendElement(interp, l->node_->name_.c_str());
        }
    } else if (sub == "arrays") {
        for (Field* f = node->first_field_; f; f = f->next_) {
            if (f->element_node_) Tcl_AppendElement(interp, f->element_node_->name_.c_str());
        }
    } else if (sub == "parents") {
        for (ChildLink* l = node->parents_; l; l = l->next_) {
            if (l->node_) Tcl_AppendElement(interp, l->node_->name_.c_str());
        }
    } else if (sub == "fields") {
        for (Field* f = node->first_field_; f; f = f->next_)
            Tcl_AppendElement(interp, f->element_node_ ? "array" : f->name_.c_str());
    } else if (sub == "val_exprs" || sub == "width_exprs") {
        for (Field* f = node->first_field_; f; f = f->next_) {
            std::string head = "\n" + f->name_ + ": ";
            Tcl_AppendResult(interp, head.c_str(), nullptr);
            if (sub == "val_exprs") append_value_source(interp, f->value_source_);
            else append_width_terms(interp, f->width_, 0);
        }
    } else if (sub == "nodedisplay") {
        if (NodeAttr* a = find_node_attr(node, NATTR_DISPLAY)) Tcl_AppendResult(interp, a->text_.c_str(), nullptr);
    }
    return TCL_OK;
}

int cmd_pdf(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    try {
        return pdf_impl(interp, objc, objv);
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "pdf failed: %s", e.what());
        return TCL_ERROR;
    }
}

// ---------------------------------------------------------------------------
// dumppdf

int cmd_dumppdf(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const[]) {
    try {
        std::fflush(stdout);
        dump_protodb(protodb(), stdout);
        std::fflush(stdout);
        Tcl_ResetResult(interp);
        return TCL_OK;
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "dumppdf failed: %s", e.what());
        return TCL_ERROR;
    }
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
    Tcl_CreateObjCommand(interp, "pdlc", cmd_pdlc, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "pdf", cmd_pdf, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "dumppdf", cmd_dumppdf, nullptr, nullptr);
    return 0;
}

}  // namespace zm

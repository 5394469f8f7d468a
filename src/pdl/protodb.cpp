// The protocol database: storage, lookups and the compile operations the PDL parser calls.
#include "pdl/protodb.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include "core/report.h"
#include "encode/checksum/checksum.h"
#include "core/textconv.h"

namespace zm {

namespace {

const char kModule[] = "pdlc";
// A named range expands to one symbol per value; beyond this many values it
// is kept as a low/high pair so that a typo cannot exhaust memory.
constexpr uint64_t kMaxNamedRange = 65536;

struct BuiltIn {
    const char* name;
    Evaluator evaluator;
};

constexpr BuiltIn kBuiltIns[] = {
    {"checksum", Evaluator::checksum},     {"length", Evaluator::length},
    {"bitswap", Evaluator::bitswap},       {"byteswap", Evaluator::byteswap},
    {"ip_offset", Evaluator::ip_offset},   {"peek", Evaluator::peek},
    {"node", Evaluator::frag_start},       {"pdu", Evaluator::pdu_start},
    {"frag_start", Evaluator::frag_start}, {"frag_end", Evaluator::frag_end},
    {"pdu_start", Evaluator::pdu_start},   {"pdu_end", Evaluator::pdu_end},
    {"pdu_length", Evaluator::pdu_length}, {"frag_offset", Evaluator::frag_offset},
};

bool find_builtin(std::string_view name, Evaluator* out) {
    for (const BuiltIn& b : kBuiltIns) {
        if (name == b.name) {
            *out = b.evaluator;
            return true;
        }
    }
    return false;
}

struct NamedCode {
    const char* name;
    int code;
};

constexpr NamedCode kNodeAttrs[] = {
    {"BASE", NATTR_BASE},       {"BYTESWAP", NATTR_BYTESWAP}, {"layer", NATTR_LAYER},
    {"maxmtu", NATTR_MAXMTU},   {"display", NATTR_DISPLAY},   {"tags", NATTR_TAGS},
    {"index", NATTR_INDEX},
};

constexpr NamedCode kDisplayCodes[] = {
    {"hex", DISP_HEX}, {"ipa", DISP_IPA}, {"ip6", DISP_IP6}, {"i4p", DISP_I4P}, {"dec", DISP_DEC},
    {"flt", DISP_FLT}, {"str", DISP_STR}, {"mac", DISP_MAC}, {"oid", DISP_OID},
};

bool same_value(const Symbol* a, const Symbol* b) {
    if (a->length_ != b->length_) return false;
    if (a->length_ == 0) return a->number() == b->number();
    return std::memcmp(a->value_at(), b->value_at(), a->length_) == 0;
}

uint32_t parse_number_text(std::string_view text) {
    uint32_t v = 0;
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
        for (char c : text.substr(2)) {
            int d = hex_digit_value(c);
            if (d < 0) break;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        return v;
    }
    for (char c : text) {
        if (c < '0' || c > '9') break;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
}

}  // namespace

const char* evaluator_name(Evaluator e) {
    switch (e) {
    case Evaluator::none: return "";
    case Evaluator::field_value: return "field_value";
    case Evaluator::zero: return "zero";
    default: break;
    }
    for (const BuiltIn& b : kBuiltIns) {
        // "node" and "pdu" are second names; report the primary one.
        if (b.evaluator == e && std::strcmp(b.name, "node") != 0 && std::strcmp(b.name, "pdu") != 0) return b.name;
    }
    return "";
}

int display_format_code(std::string_view display) {
    size_t at = display.find('%');
    if (at == std::string_view::npos) return DISP_HEX;
    std::string_view letters = display.substr(at + 1, 3);
    for (const NamedCode& d : kDisplayCodes) {
        if (letters == d.name) return d.code;
    }
    return DISP_HEX;
}

uint32_t Symbol::number() const {
    uint32_t v;
    std::memcpy(&v, inline_, sizeof v);
    return v;
}

uint32_t Symbol::first_word_le() const {
    const uint8_t* p = value_at();
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

ArraySpec* unbounded_array() {
    static ArraySpec marker;
    return &marker;
}

ProtoDb::ProtoDb() = default;
ProtoDb::~ProtoDb() = default;

ProtoDb& protodb() {
    static ProtoDb* db = new ProtoDb;  // never destroyed: match points and scripts refer to it until exit
    return *db;
}

template <class T> T* ProtoDb::alloc() {
    auto p = std::make_unique<T>();
    T* raw = p.get();
    if constexpr (std::is_same_v<T, Node>) node_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, Field>) field_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, Expr>) expr_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, Symbol>) symbol_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, ArgCell>) arg_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, ArraySpec>) array_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, ChildLink>) link_store_.push_back(std::move(p));
    else if constexpr (std::is_same_v<T, NodeAttr>) nattr_store_.push_back(std::move(p));
    else fattr_store_.push_back(std::move(p));
    return raw;
}

// ---------------------------------------------------------------------------
// Lookups

Node* ProtoDb::find_node(std::string_view name) const {
    auto it = nodes_.find(name);
    return it == nodes_.end() ? nullptr : it->second;
}

Field* ProtoDb::find_field(const Node* node, std::string_view text) const {
    size_t colon = text.find(':');
    if (colon != std::string_view::npos) text.remove_prefix(colon + 1);
    size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
        node = find_node(text.substr(0, dot));
        text.remove_prefix(dot + 1);
    }
    if (!node) return nullptr;
    for (Field* f = node->first_field_; f; f = f->next_) {
        if (f->name_ == text) return f;
    }
    return nullptr;
}

const char* ProtoDb::intern_tag(std::string_view text) {
    return tags_.emplace(text).first->c_str();
}

const char* ProtoDb::find_tag(std::string_view text) const {
    auto it = tags_.find(std::string(text));
    return it == tags_.end() ? nullptr : it->c_str();
}

void ProtoDb::for_each_tagged(const char* tag, void (*visit)(int, void*, void*), void* ctx) const {
    if (!tag) return;
    for (Node* n = first_node_; n; n = n->next_) {
        NodeAttr* a = zm::find_node_attr(n, NATTR_TAGS);
        if (a && a->tag_ == tag) visit(0, n, ctx);
        for (Field* f = n->first_field_; f; f = f->next_) {
            FieldAttr* fa = zm::find_field_attr(f, FATTR_TAGS);
            if (!fa) continue;
            for (Symbol* s = fa->symbols_; s; s = s->next_) {
                if (s->tag_ == tag) visit(1, f, ctx);
            }
        }
    }
}

void ProtoDb::set_current_file(std::string_view name) {
    current_file_.assign(name);  // any length
}

const char* ProtoDb::store_file_name(std::string_view name) {
    return files_.emplace(name).first->c_str();
}

const void* ProtoDb::find_checksum_type(const char* name) const {
    if (!name) return nullptr;
    if (checksum_resolver_) return checksum_resolver_(name);
    return reinterpret_cast<const void*>(find_checksum(name));
}

bool ProtoDb::is_checksum_name(const char* name) const {
    return find_checksum_type(name) != nullptr;
}

// ---------------------------------------------------------------------------
// Compile operations

Node* ProtoDb::find_or_add_node(std::string_view name) {
    if (Node* node = find_node(name)) return node;
    Node* node = alloc<Node>();
    node->name_ = name;
    nodes_.emplace(node->name_, node);
    if (last_node_) last_node_->next_ = node;
    else first_node_ = node;
    last_node_ = node;
    return node;
}

Node* ProtoDb::begin_node(std::string_view name) {
    Node* node = find_node(name);
    if (node && node->file_) {
        std::string n(name);
        errno = 0;  // no system call failed: the message carries no stale error text
        report_os_error(nullptr, kModule, __LINE__,
                        "node \"%s\" was defined in \"%s\" and may not be recompiled in \"%s\".\n", n.c_str(),
                        node->file_, current_file_.c_str());
        abandoned_ = true;
        return nullptr;
    }
    if (!node) node = find_or_add_node(name);
    node->file_ = store_file_name(current_file_);
    current_node_ = node;
    return node;
}

void ProtoDb::end_node(Node* node, NodeAttr* attrs) {
    if (!node) return;
    report(nullptr, kModule, __LINE__, LOG_CODE, "pdlc: adding node \"%s\"", node->name_.c_str());
    node->node_attrs_ = attrs;
}

NodeAttr* ProtoDb::set_nodeattr(std::string_view name, std::string_view text, uint32_t number) {
    int type = -1;
    for (const NamedCode& a : kNodeAttrs) {
        if (name == a.name) type = a.code;
    }
    if (type < 0) {
        std::fprintf(out_, "%s(%d): set_nodeattr bad attr\n", kModule, __LINE__);
        return nullptr;
    }
    NodeAttr* attr = alloc<NodeAttr>();
    attr->type_ = type;
    switch (type) {
    case NATTR_BASE:
        if (current_node_) current_node_->flags_ |= NODE_BASE;
        attr->text_ = text;
        break;
    case NATTR_LAYER:
    case NATTR_DISPLAY:
        attr->text_ = text;
        break;
    case NATTR_TAGS:
        // A number after "=" is the tag's text as written in decimal.
        attr->tag_ = intern_tag(text.empty() && number ? std::to_string(number) : std::string(text));
        break;
    case NATTR_MAXMTU:
    case NATTR_INDEX:
        // A quoted number ("1518") is taken as its value rather than as 0.
        attr->number_ = text.empty() ? number : parse_number_text(text);
        break;
    default:
        break;
    }
    return attr;
}

void ProtoDb::remove_duplicate_symbols(Symbol** list) {
    for (Symbol* s = *list; s; s = s->next_) {
        if (!s->has_name_) continue;
        Symbol* prev = s;
        for (Symbol* t = s->next_; t;) {
            if (t->has_name_ && t->kind_ == s->kind_ && same_value(s, t)) {
                if (t->length_ == 0) {
                    report(nullptr, kModule, __LINE__, LOG_WARNING,
                           "Symbol \"%s\" defined w/ same value, \"%u\", as symbol \"%s\"", s->name_.c_str(),
                           t->number(), t->name_.c_str());
                } else {
                    std::string v(t->text());
                    report(nullptr, kModule, __LINE__, LOG_WARNING,
                           "Symbol \"%s\" defined w/ same value, \"%s\", as symbol \"%s\"", s->name_.c_str(),
                           v.c_str(), t->name_.c_str());
                }
                prev->next_ = t->next_;
                t = t->next_;
                continue;
            }
            prev = t;
            t = t->next_;
        }
    }
}

FieldAttr* ProtoDb::new_fldattr(int type, std::initializer_list<int> types, bool* fits) {
    FieldAttr* attr = alloc<FieldAttr>();
    attr->type_ = type;
    *fits = std::find(types.begin(), types.end(), type) != types.end();
    if (!*fits) std::fprintf(out_, "%s(%d): addfldattr <type not supported>...\n", kModule, __LINE__);
    return attr;
}

FieldAttr* ProtoDb::addfldattr(int type, Symbol* symbols) {
    bool fits = false;
    FieldAttr* attr = new_fldattr(type, {FATTR_DEFAULT, FATTR_LEGAL_VALUES, FATTR_TAGS}, &fits);
    if (!fits) return attr;
    remove_duplicate_symbols(&symbols);
    if (type == FATTR_TAGS) {
        for (Symbol* s = symbols; s; s = s->next_) {
            if (s->kind_ == SYM_FIELD_REF) s->tag_ = intern_tag(s->ref_text_);
            else if (s->length_ == 0) s->tag_ = intern_tag(std::to_string(s->number()));
            else s->tag_ = intern_tag(s->text());
        }
    }
    attr->symbols_ = symbols;
    return attr;
}

FieldAttr* ProtoDb::addfldattr(int type, Expr* expr) {
    bool fits = false;
    FieldAttr* attr = new_fldattr(type, {FATTR_SEND}, &fits);
    if (fits) attr->expr_ = expr;
    return attr;
}

FieldAttr* ProtoDb::addfldattr(int type, std::string_view text) {
    bool fits = false;
    FieldAttr* attr = new_fldattr(type, {FATTR_DISPLAY, FATTR_TABLE, FATTR_FORWARDING}, &fits);
    if (fits) attr->text_ = text;
    return attr;
}

FieldAttr* ProtoDb::addfldattr(int type, uint32_t number) {
    bool fits = false;
    FieldAttr* attr = new_fldattr(type, {FATTR_INDEX}, &fits);
    if (fits) attr->number_ = number;
    return attr;
}

namespace {
void note_call(Expr* e, void* ctx) {
    if (e->type_ == EXPR_CALL) *static_cast<Expr**>(ctx) = e;
}
}  // namespace

Field* ProtoDb::add_field(std::string_view name, Expr* width, FieldAttr* attrs, ArraySpec* array, Expr* selector) {
    Node* node = current_node_;
    Field* f = alloc<Field>();
    f->name_ = name;
    f->owner_ = node;
    f->width_ = width;
    f->field_attrs_ = attrs;
    if (f->name_ == "child") f->flags_ |= FLD_SUBNODES;
    if (node) {
        if (node->last_field_) node->last_field_->next_ = f;
        else node->first_field_ = f;
        node->last_field_ = f;
        if (selector) node->selector_ = selector;
    }

    if (array) {
        Node* elem = find_node(name);
        if (!elem) {
            elem = alloc<Node>();
            elem->name_ = name;
            elem->flags_ = NODE_ARRAY_ELEMENT;
            nodes_.emplace(elem->name_, elem);
            if (last_node_) last_node_->next_ = elem;
            else first_node_ = elem;
            last_node_ = elem;
        }
        f->element_node_ = elem;
        ChildLink* up = alloc<ChildLink>();
        up->node_ = node;
        up->flags_ = LINK_ARRAY;
        up->next_ = elem->parents_;
        elem->parents_ = up;
        f->flags_ |= FLD_SUBNODES;
        f->array_ = array == unbounded_array() ? nullptr : array;
        report(nullptr, kModule, __LINE__, LOG_CODE, "adding node %s to node %s", elem->name_.c_str(),
               node ? node->name_.c_str() : "");
    }

    // Of several defaults the one written first wins; lists are newest first.
    Symbol* dflt = nullptr;
    FieldAttr* dflt_attr = nullptr;
    for (FieldAttr* a = attrs; a; a = a->next_) {
        if (a->type_ == FATTR_DEFAULT && a->symbols_) {
            dflt = a->symbols_;
            dflt_attr = a;
        }
    }
    bool dflt_matched = false;
    for (FieldAttr* a = attrs; a; a = a->next_) {
        a->owner_ = f;
        switch (a->type_) {
        case FATTR_LEGAL_VALUES:
            f->legal_values_ = a->symbols_;
            for (Symbol* s = a->symbols_; s; s = s->next_) s->field_ = f;
            if (dflt && !dflt_matched) {
                for (Symbol* s = a->symbols_; s; s = s->next_) {
                    if (s->kind_ == SYM_VALUE && s->length_ == dflt->length_ &&
                        std::memcmp(s->value_at(), dflt->value_at(), 4) == 0) {
                        dflt = s;
                        dflt_attr->symbols_ = s;
                        dflt_matched = true;
                        break;
                    }
                }
            }
            break;
        case FATTR_SEND: {
            f->send_ = a->expr_;
            Expr* last_call = nullptr;
            walk_expression(a->expr_, note_call, &last_call);
            if (last_call && last_call->calc_) {
                f->value_source_ = last_call->calc_;
                last_call->calc_->field_ = f;
            } else if (a->expr_ && a->expr_->evaluator_ == Evaluator::bitswap) {
                f->flags_ |= FLD_BITSWAP;
            } else if (a->expr_ && a->expr_->evaluator_ == Evaluator::byteswap) {
                f->flags_ |= FLD_BYTESWAP;
            }
            break;
        }
        case FATTR_DISPLAY:
            f->display_ = a->text_;
            f->display_length_ = static_cast<uint32_t>(a->text_.size());
            {
                size_t at = f->display_.find('%');
                f->display_format_at_ = at == std::string::npos ? -1 : static_cast<int>(at);
            }
            f->display_format_ = display_format_code(f->display_);
            break;
        default:
            break;
        }
    }
    if (dflt) {
        dflt->field_ = f;
        if (!f->value_source_) f->value_source_ = dflt;
        if (!dflt_matched) {
            dflt->next_ = f->legal_values_;
            f->legal_values_ = dflt;
        }
    }
    return f;
}

ChildLink* ProtoDb::add_child(std::string_view name, Expr* selector, int32_t offset) {
    std::string n(name);
    report(nullptr, kModule, __LINE__, LOG_CODE, "pdlc: adding child node \"%s\" to node \"%s\"", n.c_str(),
           current_node_ ? current_node_->name_.c_str() : "");
    if (!current_node_) {
        report_os_error(nullptr, kModule, __LINE__, "internal error: no parent node for child \"%s\"", n.c_str());
        return nullptr;
    }
    Node* child = find_or_add_node(name);
    ChildLink* down = alloc<ChildLink>();
    ChildLink* up = alloc<ChildLink>();
    down->node_ = child;
    up->node_ = current_node_;
    if (selector) {
        down->selector_ = up->selector_ = selector;
        if (selector->type_ == EXPR_NUMBER) {
            down->flags_ = up->flags_ = LINK_CONSTANT;
            down->value_ = up->value_ = selector->value_;
        }
    } else {
        down->flags_ = up->flags_ = LINK_DEFAULT;
        current_node_->default_child_ = down;
    }
    down->offset_ = up->offset_ = offset;
    down->next_ = current_node_->children_;
    current_node_->children_ = down;
    up->next_ = child->parents_;
    child->parents_ = up;
    return down;
}

Expr* ProtoDb::make_expression(int type, Expr* a, Expr* b) {
    uint32_t depth = std::max(a ? a->depth_ : 0u, b ? b->depth_ : 0u) + 1;
    if (depth > kMaxExprDepth) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "expression in node \"%s\" nests more than %u operators deep",
               current_node_ ? current_node_->name_.c_str() : "", kMaxExprDepth);
        return nullptr;
    }
    Expr* e = alloc<Expr>();
    e->depth_ = depth;
    e->type_ = type;
    e->left_ = a;
    e->right_ = b;
    return e;
}

Expr* ProtoDb::make_number(uint32_t value) {
    Expr* e = alloc<Expr>();
    e->type_ = EXPR_NUMBER;
    e->value_ = value;
    return e;
}

Expr* ProtoDb::make_name(std::string_view name) {
    Expr* e = alloc<Expr>();
    e->type_ = EXPR_NAME;
    e->name_ = name;
    Evaluator ev;
    if (find_builtin(name, &ev)) {
        e->evaluator_ = ev;
        return e;
    }
    if (Field* f = find_field(current_node_, name)) {
        e->field_ = f;
        f->flags_ |= FLD_REFERENCED;
        e->evaluator_ = Evaluator::field_value;
        return e;
    }
    if (!is_checksum_name(e->name_.c_str()) && !find_node(name)) {
        unresolved_.push_back({current_node_, e->name_, e});
        e->evaluator_ = Evaluator::field_value;
        return e;
    }
    e->evaluator_ = Evaluator::zero;
    return e;
}

Expr* ProtoDb::make_call(std::string_view name, ArgCell* args) {
    Expr* e = alloc<Expr>();
    e->type_ = EXPR_CALL;
    e->name_ = name;
    e->args_ = args;
    Evaluator ev;
    if (find_builtin(name, &ev)) e->evaluator_ = ev;
    if (name == "checksum" || name == "length") e->calc_ = build_calc(e);
    return e;
}

ArgCell* ProtoDb::make_arg(Expr* expr, ArgCell* list) {
    ArgCell* c = alloc<ArgCell>();
    c->expr_ = expr;
    c->next_ = list;
    return c;
}

Symbol* ProtoDb::build_calc(Expr* call) {
    bool is_checksum = call->name_ == "checksum";
    Expr* end = call->args_ ? call->args_->expr_ : nullptr;
    ArgCell* start_cell = call->args_ ? call->args_->next_ : nullptr;
    Expr* start = start_cell ? start_cell->expr_ : nullptr;
    Expr* type_arg = start_cell && start_cell->next_ ? start_cell->next_->expr_ : nullptr;

    const void* algo = nullptr;
    const char* algo_name = nullptr;
    if (is_checksum) {
        std::string tname = type_arg && type_arg->type_ == EXPR_NAME ? type_arg->name_ : std::string();
        algo = find_checksum_type(tname.c_str());
        if (!algo) {
            report(nullptr, kModule, __LINE__, LOG_WARNING, "unknown checksum type \"%s\"", tname.c_str());
            return nullptr;
        }
        algo_name = words_.emplace(tname).first->c_str();
    }

    Evaluator end_ev = Evaluator::none;
    if (end) {
        switch (end->evaluator_) {
        case Evaluator::frag_start: end_ev = Evaluator::frag_end; break;
        case Evaluator::pdu_start: end_ev = Evaluator::pdu_end; break;
        case Evaluator::ip_offset: end_ev = Evaluator::frag_start; break;
        default:
            end_ev = Evaluator::frag_end;
            if (current_node_) current_node_->range_end_node_ = find_node(end->name_);
            break;
        }
        end->evaluator_ = end_ev;
    }
    Evaluator start_ev = Evaluator::none;
    if (start) {
        switch (start->evaluator_) {
        case Evaluator::frag_start:
        case Evaluator::pdu_start:
        case Evaluator::ip_offset: start_ev = start->evaluator_; break;
        default:
            start_ev = Evaluator::frag_start;
            if (current_node_) current_node_->range_start_node_ = find_node(start->name_);
            break;
        }
        start->evaluator_ = start_ev;
    }

    Symbol* s = alloc<Symbol>();
    s->kind_ = is_checksum ? SYM_CHECKSUM : SYM_LENGTH;
    s->checksum_type_ = algo;
    if (is_checksum) s->checksum_fn_ = find_checksum(algo_name);
    s->checksum_name_ = algo_name;
    s->range_start_ = start_ev;
    s->range_end_ = end_ev;
    return s;
}

ArraySpec* ProtoDb::make_array_spec(std::string_view field_name, int op, uint32_t number) {
    ArraySpec* aspec = alloc<ArraySpec>();
    if (op != 0 && op != EXPR_NE && op != EXPR_EQ) {
        report(nullptr, kModule, __LINE__, LOG_WARNING,
               "width expression for field \"%s\" must have == or != as operator", "unknown");
    }
    aspec->op_ = op;
    aspec->count_ = number;
    if (!field_name.empty()) {
        aspec->count_name_ = field_name;
        aspec->count_field_ = find_field(current_node_, field_name);
        if (!aspec->count_field_) {
            report(nullptr, kModule, __LINE__, LOG_WARNING, "unknown field \"%s\" in array expression in node \"%s\"",
                   aspec->count_name_.c_str(), current_node_ ? current_node_->name_.c_str() : "");
        }
    }
    return aspec;
}

ArraySpec* ProtoDb::make_array_count(uint32_t number) {
    ArraySpec* aspec = alloc<ArraySpec>();
    aspec->count_ = number;
    return aspec;
}

Symbol* ProtoDb::make_symbol(int kind, uint32_t number, std::string_view name, bool named) {
    Symbol* s = alloc<Symbol>();
    s->kind_ = kind;
    std::memcpy(s->inline_, &number, sizeof number);
    if (named) {
        s->name_ = name;
        s->has_name_ = true;
    }
    return s;
}

Symbol* ProtoDb::make_symbol(int kind, const void* bytes, uint32_t length, std::string_view name, bool named) {
    if (length == 0) return make_symbol(kind, 0u, name, named);
    Symbol* s = alloc<Symbol>();
    s->kind_ = kind;
    s->length_ = length;
    s->bytes_.assign(std::max<size_t>(static_cast<size_t>(length) + 1, 4), 0);
    std::memcpy(s->bytes_.data(), bytes, length);
    std::memcpy(s->inline_, s->bytes_.data(), 4);
    if (named) {
        s->name_ = name;
        s->has_name_ = true;
    }
    return s;
}

Symbol* ProtoDb::make_field_ref(std::string_view text) {
    Symbol* s = nullptr;
    if (Field* f = find_field(current_node_, text)) {
        s = alloc<Symbol>();
        s->kind_ = SYM_FIELD_REF;
        s->ref_field_ = f;
        s->ref_node_ = f->element_node_;
    } else if (text.find('.') != std::string_view::npos &&
               !(current_node_ && text.substr(0, current_node_->name_.size()) == current_node_->name_)) {
        s = make_symbol(SYM_FIELD_REF, text.data(), static_cast<uint32_t>(text.size()), {}, false);
    } else {
        std::string t(text);
        report(nullptr, kModule, __LINE__, LOG_WARNING, "Cannot find field \"%s\"", t.c_str());
        s = alloc<Symbol>();
        s->kind_ = SYM_FIELD_REF;
    }
    s->ref_text_ = text;
    return s;
}

Symbol* ProtoDb::make_range_symbols(std::string_view name, uint32_t low, uint32_t high) {
    if (low > high) return nullptr;
    if (static_cast<uint64_t>(high) - low + 1 > kMaxNamedRange) {
        std::string n(name);
        report(nullptr, kModule, __LINE__, LOG_WARNING,
               "named range \"%s\" = %u - %u has more than %u values; kept as a range", n.c_str(), low, high,
               static_cast<unsigned>(kMaxNamedRange));
        Symbol* lo = make_symbol(SYM_RANGE_LOW, low, name, true);
        lo->next_ = make_symbol(SYM_RANGE_HIGH, high, name, true);
        return lo;
    }
    Symbol* head = nullptr;
    Symbol* tail = nullptr;
    for (uint64_t v = low; v <= high; ++v) {
        Symbol* s = make_symbol(SYM_VALUE, static_cast<uint32_t>(v), name, true);
        if (tail) tail->next_ = s;
        else head = s;
        tail = s;
    }
    return head;
}

void ProtoDb::resolve_unresolved() {
    for (Unresolved& u : unresolved_) {
        if (Field* f = find_field(u.node, u.name)) {
            u.expr->field_ = f;
            f->flags_ |= FLD_REFERENCED;
        } else {
            std::fprintf(out_, "Unresolved use of field name \"%s\"\n", u.name.c_str());
        }
    }
    unresolved_.clear();
}

// ---------------------------------------------------------------------------
// Free-function lookups

Node* find_node(std::string_view name) { return protodb().find_node(name); }

Field* find_field(const Node* node, std::string_view text) { return protodb().find_field(node, text); }

NodeAttr* find_node_attr(const Node* node, int type) {
    if (!node) return nullptr;
    for (NodeAttr* a = node->node_attrs_; a; a = a->next_) {
        if (a->type_ == type) return a;
    }
    return nullptr;
}

FieldAttr* find_field_attr(const Field* field, int type) {
    if (!field) return nullptr;
    for (FieldAttr* a = field->field_attrs_; a; a = a->next_) {
        if (a->type_ == type) return a;
    }
    return nullptr;
}

Symbol* legal_values(const Field* field) {
    FieldAttr* a = find_field_attr(field, FATTR_LEGAL_VALUES);
    return a ? a->symbols_ : nullptr;
}

Symbol* find_legal_value(const Field* field, std::string_view name) {
    for (Symbol* s = legal_values(field); s; s = s->next_) {
        if (s->has_name_ && s->name_ == name) return s;
    }
    return nullptr;
}

void walk_expression(Expr* expr, void (*visit)(Expr*, void*), void* ctx) {
    // An explicit stack: expressions from input may be arbitrarily deep.
    std::vector<Expr*> todo;
    if (expr) todo.push_back(expr);
    while (!todo.empty()) {
        Expr* e = todo.back();
        todo.pop_back();
        visit(e, ctx);
        if (e->type_ == EXPR_NOT) {
            if (e->left_) todo.push_back(e->left_);
        } else if (e->is_binary()) {
            if (e->right_) todo.push_back(e->right_);
            if (e->left_) todo.push_back(e->left_);
        }
    }
}

const char* intern_tag(std::string_view text) { return protodb().intern_tag(text); }

const char* find_tag(std::string_view text) { return protodb().find_tag(text); }

void for_each_tagged(const char* tag, void (*visit)(int, void*, void*), void* ctx) {
    protodb().for_each_tagged(tag, visit, ctx);
}

}  // namespace zm

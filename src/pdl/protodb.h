// The protocol database: nodes, fields, expressions, symbols, links, tags and their lookups.
//
// Ownership: every object of the database (node, field, expression, symbol,
// link, attribute, array spec, argument cell) is allocated by a ProtoDb and
// owned by it for the life of the process; nothing is ever removed. All the
// pointers below are non-owning links between objects of the same database,
// so they stay valid as long as the database exists. The process-wide
// database is `protodb()`; tests may build private ProtoDb instances.
//
// Lists inside the database (attributes, legal values, tags, children,
// parents, call arguments) are newest first, i.e. in reverse source order;
// the fields of a node are in source order. Names are matched exactly and
// case-sensitively.
//
// Threading: single-threaded, used from the interpreter's thread only. The
// decoder writes the current-value cells of fields during a decode; the
// filter engine hangs its match points on nodes and fields.
//
// This header does not include tcl.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zm {

// A checksum algorithm as the checksum registry holds it (the same type as
// there; a mismatch would not compile where both are seen). Declared here so
// that the database does not depend on the encoder's headers.
using ChecksumFn = int32_t (*)(uint8_t* data, int start_bit, int32_t bits, int32_t* result, int reserved,
                               int width, void* fixup, size_t avail);

struct Node;
struct Field;
struct Expr;
struct Symbol;
struct ArgCell;
struct ArraySpec;
struct ChildLink;
struct NodeAttr;
struct FieldAttr;
struct MatchPoint;  // defined by the filter engine; lists hang on nodes and fields

// ---------------------------------------------------------------------------
// Codes

// Expression types.
enum ExprType : int {
    EXPR_NONE = 0,
    EXPR_NOT = 1,      // "!" (left is the operand)
    EXPR_LT = 2,       // "<"
    EXPR_GT = 3,       // ">"
    EXPR_BAND = 4,     // "&"
    EXPR_BOR = 5,      // "|"
    EXPR_ADD = 6,      // "+"
    EXPR_SUB = 7,      // "-"
    EXPR_MUL = 8,      // "*"
    EXPR_DIV = 9,      // "/"
    EXPR_MOD = 10,     // "%"
    EXPR_NUMBER = 11,  // constant, in value_
    EXPR_NAME = 12,    // field, built-in name or forward reference, in name_
    EXPR_CALL = 13,    // name_ "(" args_ ")"
    EXPR_NE = 14,      // "!="
    EXPR_EQ = 15,      // "=="
    EXPR_AND = 16,     // "&&"
    EXPR_OR = 17,      // "||"
};

// The operation that computes an expression term. The database records only
// which one applies; the decoder and the encoder implement them.
enum class Evaluator : uint8_t {
    none = 0,     // operators, numbers, calls of unknown names
    field_value,  // the referenced field's current value (expr->field_)
    zero,         // a name that is a checksum type or a node name: yields 0
    checksum,
    length,
    bitswap,
    byteswap,
    ip_offset,
    peek,
    frag_start,   // also written "node"
    frag_end,
    pdu_start,    // also written "pdu"
    pdu_end,
    pdu_length,
    frag_offset,
};
const char* evaluator_name(Evaluator e);  // "checksum", "frag_start", ...; "" for none

// Symbol kinds; 3..8 are the function codes of calculated-value descriptors.
enum SymbolKind : int {
    SYM_VALUE = 0,         // single value
    SYM_RANGE_LOW = 1,     // range low bound
    SYM_RANGE_HIGH = 2,    // range high bound (follows its low bound in the list)
    SYM_CHECKSUM = 3,      // calculated: checksum()
    SYM_LENGTH = 4,        // calculated: length()
    SYM_LENGTHOF = 5,      // calculated: lengthof() (never compiled)
    SYM_PAD = 6,           // calculated: pad() (never compiled)
    SYM_BITSWAP = 7,       // calculated: bitswap() (never compiled)
    SYM_BYTESWAP = 8,      // calculated: byteswap() (never compiled)
    SYM_FIELD_REF = 9,     // field reference (NODE.field in a value list)
};

enum NodeAttrType : int {
    NATTR_BASE = 0,      // text; also sets NODE_BASE
    NATTR_BYTESWAP = 1,  // no value
    NATTR_LAYER = 2,     // text
    NATTR_MAXMTU = 3,    // number
    NATTR_DISPLAY = 4,   // text
    NATTR_TAGS = 5,      // tag (interned)
    NATTR_INDEX = 6,     // number
};

enum FieldAttrType : int {
    FATTR_DEFAULT = 0,       // symbols_: one symbol
    FATTR_LEGAL_VALUES = 1,  // symbols_: list
    FATTR_SEND = 2,          // expr_
    FATTR_DISPLAY = 3,       // text_
    FATTR_TABLE = 4,         // text_
    FATTR_FORWARDING = 5,    // text_
    FATTR_TAGS = 6,          // symbols_ whose values are interned tags
    FATTR_INDEX = 7,         // number_
};

// Display format codes, chosen by the three letters after the first "%".
enum DisplayFormat : int {
    DISP_HEX = 0,
    DISP_IPA = 1,
    DISP_IP6 = 2,
    DISP_I4P = 3,
    DISP_DEC = 4,
    DISP_FLT = 5,
    DISP_STR = 6,
    DISP_MAC = 7,
    DISP_OID = 9,
};
int display_format_code(std::string_view display);  // code of a display string

// Node flags.
constexpr uint32_t NODE_ARRAY_ELEMENT = 1u;  // created as an array element before its definition
constexpr uint32_t NODE_BASE = 2u;           // BASE node attribute given

// Field flags.
constexpr uint32_t FLD_REFERENCED = 1u;  // some expression of the node names this field
constexpr uint32_t FLD_SUBNODES = 2u;    // array field, or the field called "child"
constexpr uint32_t FLD_BITSWAP = 4u;     // send expression's evaluator is bitswap
constexpr uint32_t FLD_BYTESWAP = 8u;    // send expression's evaluator is byteswap

// Child/parent link flags.
constexpr uint32_t LINK_DEFAULT = 1u;   // default child (no selector)
constexpr uint32_t LINK_CONSTANT = 2u;  // constant selector: value_ holds the number
constexpr uint32_t LINK_ARRAY = 4u;     // parent link only: the parent holds this node as an array element

// ---------------------------------------------------------------------------
// Records

struct Node {
    Node* next_ = nullptr;              // node list, in order of creation
    std::string name_;
    const char* file_ = nullptr;        // stored copy of the source file name; null until defined
    uint32_t flags_ = 0;                // NODE_*
    Node* range_start_node_ = nullptr;  // node named as start of a checksum()/length() range
    Node* range_end_node_ = nullptr;    // node named as end of such a range
    Field* first_field_ = nullptr;      // source order
    Field* last_field_ = nullptr;
    Expr* selector_ = nullptr;          // child selector of the node's child field
    ChildLink* default_child_ = nullptr;
    ChildLink* parents_ = nullptr;      // newest first
    ChildLink* children_ = nullptr;     // newest first
    NodeAttr* node_attrs_ = nullptr;    // reverse source order
    MatchPoint* match_points_ = nullptr;  // owned by the filter engine

    bool is_base() const { return (flags_ & NODE_BASE) != 0; }
    bool defined() const { return file_ != nullptr; }
};

struct Field {
    Field* next_ = nullptr;             // next field of the same node
    std::string name_;                  // "child" names the node's child field
    Node* element_node_ = nullptr;      // array field: the node of each element
    Node* owner_ = nullptr;
    Symbol* value_source_ = nullptr;    // send descriptor, else default symbol, else none
    Symbol* legal_values_ = nullptr;
    Expr* width_ = nullptr;             // width in bits
    ArraySpec* array_ = nullptr;        // null for a plain field and for "[]"
    Expr* send_ = nullptr;
    uint32_t flags_ = 0;                // FLD_*
    // Working cells, overwritten by the decoder for every field of width 1..32 it reads.
    uint32_t cur_width_ = 0;
    uint32_t cur_value_ = 0;
    uint32_t cur_offset_ = 0;
    int display_format_ = DISP_HEX;
    std::string display_;               // the display string ("" when none)
    int display_format_at_ = -1;        // index of the first "%" in display_, or -1
    uint32_t display_length_ = 0;
    FieldAttr* field_attrs_ = nullptr;  // reverse source order
    MatchPoint* match_points_ = nullptr;  // owned by the filter engine

    bool is_child() const { return name_ == "child"; }
    bool has_display() const { return display_length_ != 0 || !display_.empty(); }
};

// Argument list cell of a call: last argument first.
struct ArgCell {
    ArgCell* next_ = nullptr;
    Expr* expr_ = nullptr;
};

struct Expr {
    int type_ = EXPR_NONE;             // ExprType
    Expr* left_ = nullptr;             // only operand of "!"
    Expr* right_ = nullptr;
    uint32_t value_ = 0;               // EXPR_NUMBER
    std::string name_;                 // EXPR_NAME / EXPR_CALL
    Field* field_ = nullptr;           // EXPR_NAME resolved to a field (possibly filled after the last file)
    ArgCell* args_ = nullptr;          // EXPR_CALL, last argument first
    Symbol* calc_ = nullptr;           // EXPR_CALL of checksum/length: the calculated-value descriptor
    Evaluator evaluator_ = Evaluator::none;
    uint32_t depth_ = 1;               // levels of operators below and including this one

    bool is_binary() const {
        return (type_ >= EXPR_LT && type_ <= EXPR_MOD) || (type_ >= EXPR_NE && type_ <= EXPR_OR);
    }
    bool is_leaf() const { return type_ == EXPR_NUMBER || type_ == EXPR_NAME || type_ == EXPR_CALL; }
};

struct Symbol {
    Symbol* next_ = nullptr;
    uint8_t inline_[4] = {0, 0, 0, 0};  // a 32-bit number (native order) when length_ == 0
    std::vector<uint8_t> bytes_;        // length_ > 0: max(length_ + 1, 4) bytes, zero-padded
    uint32_t length_ = 0;               // value length in bytes; 0 means a 32-bit number
    Field* field_ = nullptr;            // the field whose legal value / descriptor it is
    int kind_ = SYM_VALUE;              // SymbolKind
    const char* checksum_name_ = nullptr;  // SYM_CHECKSUM: the registered checksum type name
    const void* checksum_type_ = nullptr;  // SYM_CHECKSUM: what the checksum resolver returned
    ChecksumFn checksum_fn_ = nullptr;     // SYM_CHECKSUM: the registered algorithm (by default resolver)
    std::string name_;                  // symbolic name ("" when none)
    bool has_name_ = false;
    Evaluator range_start_ = Evaluator::none;  // SYM_CHECKSUM / SYM_LENGTH
    Evaluator range_end_ = Evaluator::none;
    Field* ref_field_ = nullptr;        // SYM_FIELD_REF
    Node* ref_node_ = nullptr;          // SYM_FIELD_REF: the field's element node
    std::string ref_text_;              // SYM_FIELD_REF: the NODE.field text as written
    const char* tag_ = nullptr;         // in a tags attribute: the interned tag of the value

    // The value bytes: at least four readable bytes in every case.
    const uint8_t* value_at() const { return length_ ? bytes_.data() : inline_; }
    uint32_t number() const;            // the inline slot as a native 32-bit number
    uint32_t first_word_le() const;     // first four value bytes, little-endian
    const char* name() const { return has_name_ ? name_.c_str() : nullptr; }
    // Value text of a non-numeric value (bytes, NUL-terminated).
    std::string_view text() const {
        return length_ ? std::string_view(reinterpret_cast<const char*>(bytes_.data()), length_) : std::string_view();
    }
};

// Repetition of an array field.
struct ArraySpec {
    int op_ = 0;                  // 0, EXPR_NE or EXPR_EQ (others are warned about but kept)
    uint32_t count_ = 0;
    Field* count_field_ = nullptr;
    std::string count_name_;      // the field name as written ("" when none)
};

// Child link (in the parent's children_) and parent link (in the child's parents_).
struct ChildLink {
    ChildLink* next_ = nullptr;
    Node* node_ = nullptr;        // child node (child link) or parent node (parent link)
    uint32_t flags_ = 0;          // LINK_*
    Expr* selector_ = nullptr;    // none for the default child
    uint32_t value_ = 0;          // constant selector value (LINK_CONSTANT)
    int32_t offset_ = 0;          // signed bit offset added when the child is entered
};

struct NodeAttr {
    NodeAttr* next_ = nullptr;
    int type_ = NATTR_BASE;       // NodeAttrType
    std::string text_;            // BASE, layer, display
    const char* tag_ = nullptr;   // tags (interned)
    uint32_t number_ = 0;         // maxmtu, index
};

struct FieldAttr {
    Field* owner_ = nullptr;
    FieldAttr* next_ = nullptr;
    int type_ = FATTR_DEFAULT;    // FieldAttrType
    Symbol* symbols_ = nullptr;   // default, legal_values, tags
    Expr* expr_ = nullptr;        // send
    std::string text_;            // display, table, forwarding
    uint32_t number_ = 0;         // index
};

// Marker for an array written with empty brackets (unbounded): passed to
// add_field, never stored in a field.
ArraySpec* unbounded_array();

// Looks a checksum type up by name: returns the algorithm as an opaque
// pointer, or null when no such type is registered. Without one set, the
// checksum registry (find_checksum) is used.
using ChecksumResolver = const void* (*)(const char* name);

// ---------------------------------------------------------------------------
// The database

class ProtoDb {
public:
    ProtoDb();
    ~ProtoDb();
    ProtoDb(const ProtoDb&) = delete;
    ProtoDb& operator=(const ProtoDb&) = delete;

    // --- lookups -----------------------------------------------------------
    Node* find_node(std::string_view name) const;
    // "X:" prefix dropped; "NODE.field" looks in NODE (the node argument is
    // then ignored); otherwise in `node`. Null when node or field is missing.
    Field* find_field(const Node* node, std::string_view text) const;
    const char* intern_tag(std::string_view text);
    const char* find_tag(std::string_view text) const;
    // visit(0, node, ctx) for tagged nodes, visit(1, field, ctx) once per
    // matching tag symbol of a field; node-list order, fields in source order.
    void for_each_tagged(const char* tag, void (*visit)(int kind, void* object, void* ctx), void* ctx) const;

    Node* first_node() const { return first_node_; }
    const std::unordered_set<std::string>& file_names() const { return files_; }
    const std::unordered_set<std::string>& tags() const { return tags_; }

    // --- compile state -------------------------------------------------------
    Node* current_node() const { return current_node_; }
    void set_current_node(Node* n) { current_node_ = n; }
    const std::string& current_file() const { return current_file_; }
    void set_current_file(std::string_view name);
    int line() const { return line_; }
    void set_line(int line) { line_ = line; }
    bool abandoned() const { return abandoned_; }
    void clear_abandoned() { abandoned_ = false; }
    // Where compile messages that the design puts on standard output go.
    void set_output(std::FILE* out) { out_ = out; }
    std::FILE* output() const { return out_; }
    void set_checksum_resolver(ChecksumResolver r) { checksum_resolver_ = r; }
    const void* find_checksum_type(const char* name) const;
    bool is_checksum_name(const char* name) const;

    // --- compile operations (called by the PDL parser) ----------------------
    // They work on the current node. Problems are reported (module "pdlc")
    // and compiling goes on: duplicate named symbols (Warning, the duplicate
    // is dropped), unknown fields in array specs and value lists, unknown
    // checksum types (Warning, the call gets no descriptor), bad array
    // operators; an unknown node attribute or unsupported field attribute
    // prints a line on output(). Only a redefinition ends the file.
    // Null on a redefinition: reported, and abandoned() becomes true; the
    // caller must abandon the whole file.
    Node* begin_node(std::string_view name);
    void end_node(Node* node, NodeAttr* attrs);
    NodeAttr* set_nodeattr(std::string_view name, std::string_view text, uint32_t number);
    FieldAttr* addfldattr(int type, Symbol* symbols);      // default, legal_values, tags
    FieldAttr* addfldattr(int type, Expr* expr);           // send
    FieldAttr* addfldattr(int type, std::string_view text);  // display, table, forwarding
    FieldAttr* addfldattr(int type, uint32_t number);      // index
    // `array`: null for a plain field, unbounded_array() for "[]", else an array spec.
    Field* add_field(std::string_view name, Expr* width, FieldAttr* attrs, ArraySpec* array, Expr* selector);
    ChildLink* add_child(std::string_view name, Expr* selector, int32_t offset);
    // Null (after a report) when the result would nest deeper than kMaxExprDepth:
    // the caller must end the parse. Keeps every later walk of the tree shallow.
    Expr* make_expression(int type, Expr* a, Expr* b);
    static constexpr uint32_t kMaxExprDepth = 1000;
    Expr* make_number(uint32_t value);
    Expr* make_name(std::string_view name);            // resolves as described for type 12
    Expr* make_call(std::string_view name, ArgCell* args);
    ArgCell* make_arg(Expr* expr, ArgCell* list);      // puts expr in front of list
    ArraySpec* make_array_spec(std::string_view field_name, int op, uint32_t number);
    ArraySpec* make_array_count(uint32_t number);
    Symbol* make_symbol(int kind, uint32_t number, std::string_view name, bool named);
    Symbol* make_symbol(int kind, const void* bytes, uint32_t length, std::string_view name, bool named);
    Symbol* make_field_ref(std::string_view text);
    Symbol* make_range_symbols(std::string_view name, uint32_t low, uint32_t high);
    // Looks every unresolved name up again; prints "Unresolved use of field
    // name" for the misses and empties the list.
    void resolve_unresolved();
    size_t unresolved_count() const { return unresolved_.size(); }

private:
    template <class T> T* alloc();
    // The node named `name`, entered at the end of the node list if it is new.
    Node* find_or_add_node(std::string_view name);
    // A new field attribute of `type`; false in `*fits` (after a note on
    // output()) when `type` is not among `types`, and then it keeps no value.
    FieldAttr* new_fldattr(int type, std::initializer_list<int> types, bool* fits);
    Symbol* build_calc(Expr* call);
    void remove_duplicate_symbols(Symbol** list);
    const char* store_file_name(std::string_view name);

    struct Unresolved {
        Node* node;
        std::string name;
        Expr* expr;
    };

    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, Node*, NameHash, std::equal_to<>> nodes_;
    Node* first_node_ = nullptr;
    Node* last_node_ = nullptr;
    Node* current_node_ = nullptr;
    std::string current_file_;
    int line_ = 1;
    bool abandoned_ = false;
    std::unordered_set<std::string> files_;
    std::unordered_set<std::string> tags_;
    std::unordered_set<std::string> words_;  // checksum type names held by descriptors
    std::vector<Unresolved> unresolved_;
    std::FILE* out_ = stdout;
    ChecksumResolver checksum_resolver_ = nullptr;
    std::vector<std::unique_ptr<Node>> node_store_;
    std::vector<std::unique_ptr<Field>> field_store_;
    std::vector<std::unique_ptr<Expr>> expr_store_;
    std::vector<std::unique_ptr<Symbol>> symbol_store_;
    std::vector<std::unique_ptr<ArgCell>> arg_store_;
    std::vector<std::unique_ptr<ArraySpec>> array_store_;
    std::vector<std::unique_ptr<ChildLink>> link_store_;
    std::vector<std::unique_ptr<NodeAttr>> nattr_store_;
    std::vector<std::unique_ptr<FieldAttr>> fattr_store_;
};

// The process-wide database (created on first use, never destroyed).
ProtoDb& protodb();

// ---------------------------------------------------------------------------
// Lookups on the process-wide database and on records

Node* find_node(std::string_view name);
Field* find_field(const Node* node, std::string_view text);
NodeAttr* find_node_attr(const Node* node, int type);
FieldAttr* find_field_attr(const Field* field, int type);
Symbol* legal_values(const Field* field);  // value list of the legal_values attribute, or null
inline Symbol* next_symbol(const Symbol* s) { return s ? s->next_ : nullptr; }
Symbol* find_legal_value(const Field* field, std::string_view name);
// Pre-order: visit(expr) then the operand of "!", or left then right of a
// two-operand operator. Numbers, names and calls are leaves.
void walk_expression(Expr* expr, void (*visit)(Expr* expr, void* ctx), void* ctx);
const char* intern_tag(std::string_view text);
const char* find_tag(std::string_view text);
void for_each_tagged(const char* tag, void (*visit)(int kind, void* object, void* ctx), void* ctx);

// Prints every node with its fields, legal values, parents and children (the dumppdf format).
void dump_protodb(const ProtoDb& db, std::FILE* out);

}  // namespace zm

/* The PDL grammar: each action is one call of the protocol database's compile operations. */
%define api.prefix {pdl_yy}
%define api.pure full
%parse-param {zm::PdlParse* parse}
%lex-param {zm::PdlParse* parse}
%expect 0

%code requires {
#include <cstdint>
#include "filter/sequence.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
/* Semantic values are plain pointers and numbers, so the stack may be moved when it grows. */
#define PDL_YYSTYPE_IS_TRIVIAL 1
#define YYSTYPE_IS_TRIVIAL 1
}

%code {
#include <cstdio>
#include <cstring>

/* The stack starts at 200 entries and doubles up to 10000. */
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

int pdl_yylex(PDL_YYSTYPE* lval, zm::PdlParse* parse);
static void pdl_yyerror(zm::PdlParse* parse, const char* msg);

namespace {

/* Puts a chain of symbols (kept in its own order) in front of a list. */
zm::Symbol* prepend_chain(zm::Symbol* chain, zm::Symbol* list) {
    if (!chain) return list;
    zm::Symbol* tail = chain;
    while (tail->next_) tail = tail->next_;
    tail->next_ = list;
    return chain;
}

}  // namespace

#define DB (parse->db_)
}

%union {
    zm::PdlText text;
    uint32_t number;
    int op;
    zm::Expr* expr;
    zm::ArgCell* args;
    zm::Symbol* sym;
    zm::FieldAttr* fattr;
    zm::NodeAttr* nattr;
    zm::ArraySpec* array;
    zm::Node* node;
    zm::SeqStep* step;
    zm::SeqRef* ref;
}

%token POUND_DIRECTIVE 258
%token <number> POUND_DIRECTIVE_NUMBER 259
%token <text> STRING 260
%token FILTER 261
%token <text> NAME 262
%token <text> FLD_NAME 263
%token FRAGMENT 264
%token SEQUENCE 265
%token APPEND 266
%token SAVE 267
%token ABORT 268
%token RESERVED 269
%token <number> NUMBER 270
%token <text> HEX 271
%token NEQ 272
%token EQU 273
%token AND 274
%token OR 275
%token DEFAULT 276
%token SEND 277
%token DISPLAY 278
%token LEGAL_VALUES 279
%token TABLE 280
%token FORWARDING 281
%token TAGS 282
%token INDEX 283
%token UNOT 284

%left OR
%left AND
%left '|'
%left '&'
%left EQU NEQ
%left '<' '>'
%left '+' '-'
%left '*' '/' '%'
%right UNOT

%type <node> node_name
%type <text> field_ref
%type <nattr> node_attr node_attr_list
%type <fattr> field_attr field_attr_list
%type <op> array_op
%type <array> array_spec
%type <args> arg_list
%type <expr> arg expr child_selector
%type <sym> legal_value_list tag_list named_range range legal_value value
%type <step> sequence_entries sequence_entry
%type <ref> field_ref_list field_ref_item

%%

pdl_file
    : %empty
    | pdl_file statement
    ;

statement
    : fragment_def
    | sequence_def
    | line_directive
    ;

fragment_def
    : FRAGMENT node_name '{' field_list '}' node_attr_list ';'  { DB.end_node($2, $6); }
    | node_name '{' field_list '}' node_attr_list ';'           { DB.end_node($1, $5); }
    | FRAGMENT node_name '{' '}' node_attr_list ';'             { DB.end_node($2, $5); }
    | node_name '{' '}' node_attr_list ';'                      { DB.end_node($1, $4); }
    ;

node_name
    : NAME  { $$ = DB.begin_node($1.view()); if (!$$) YYABORT; }
    ;

field_ref
    : NAME
    | FLD_NAME
    ;

node_attr
    : NAME '=' NAME              { $$ = DB.set_nodeattr($1.view(), $3.view(), 0); }
    | NAME '=' NUMBER            { $$ = DB.set_nodeattr($1.view(), {}, $3); }
    | NAME '=' STRING            { $$ = DB.set_nodeattr($1.view(), $3.view(), 0); }
    | NAME '=' '(' STRING ')'    { $$ = DB.set_nodeattr($1.view(), $4.view(), 0); }
    | NAME '=' '(' NAME ')'      { $$ = DB.set_nodeattr($1.view(), $4.view(), 0); }
    | %empty                     { $$ = nullptr; }
    ;

node_attr_list
    : node_attr                     { $$ = $1; }
    | node_attr_list ',' node_attr  { if ($3) { $3->next_ = $1; $$ = $3; } else { $$ = $1; } }
    ;

/* The C preprocessor writes a line marker instead of a run of more than
   eight blank lines, so markers may also stand between fields. */
field_list
    : field_item
    | field_list field_item
    ;

field_item
    : field_def
    | line_directive
    ;

field_def
    : NAME ':' expr ';'                        { DB.add_field($1.view(), $3, nullptr, nullptr, nullptr); }
    | NAME ':' expr ':' field_attr_list ';'    { DB.add_field($1.view(), $3, $5, nullptr, nullptr); }
    | NAME '[' array_spec ']' ':' expr ';'     { DB.add_field($1.view(), $6, nullptr, $3, nullptr); }
    | NAME '(' expr ')' ':' expr ':' '{' child_list '}' ';'
                                               { DB.add_field($1.view(), $6, nullptr, nullptr, $3); }
    ;

array_op
    : AND  { $$ = zm::EXPR_AND; }
    | OR   { $$ = zm::EXPR_OR; }
    | EQU  { $$ = zm::EXPR_EQ; }
    | NEQ  { $$ = zm::EXPR_NE; }
    | '<'  { $$ = zm::EXPR_LT; }
    | '>'  { $$ = zm::EXPR_GT; }
    | '&'  { $$ = zm::EXPR_BAND; }
    | '|'  { $$ = zm::EXPR_BOR; }
    | '+'  { $$ = zm::EXPR_ADD; }
    | '-'  { $$ = zm::EXPR_SUB; }
    | '*'  { $$ = zm::EXPR_MUL; }
    | '/'  { $$ = zm::EXPR_DIV; }
    ;

array_spec
    : field_ref                   { $$ = DB.make_array_spec($1.view(), 0, 0); }
    | NUMBER                      { $$ = DB.make_array_count($1); }
    | field_ref array_op NUMBER   { $$ = DB.make_array_spec($1.view(), $2, $3); }
    | %empty                      { $$ = zm::unbounded_array(); }
    ;

arg_list
    : arg               { $$ = $1 ? DB.make_arg($1, nullptr) : nullptr; }
    | arg_list ',' arg  { $$ = $3 ? DB.make_arg($3, $1) : $1; }
    ;

arg
    : expr    { $$ = $1; }
    | %empty  { $$ = nullptr; }
    ;

expr
    : '!' expr %prec UNOT      { $$ = DB.make_expression(zm::EXPR_NOT, $2, nullptr); if (!$$) YYABORT; }
    | expr AND expr            { $$ = DB.make_expression(zm::EXPR_AND, $1, $3); if (!$$) YYABORT; }
    | expr OR expr             { $$ = DB.make_expression(zm::EXPR_OR, $1, $3); if (!$$) YYABORT; }
    | expr EQU expr            { $$ = DB.make_expression(zm::EXPR_EQ, $1, $3); if (!$$) YYABORT; }
    | expr NEQ expr            { $$ = DB.make_expression(zm::EXPR_NE, $1, $3); if (!$$) YYABORT; }
    | expr '<' expr            { $$ = DB.make_expression(zm::EXPR_LT, $1, $3); if (!$$) YYABORT; }
    | expr '>' expr            { $$ = DB.make_expression(zm::EXPR_GT, $1, $3); if (!$$) YYABORT; }
    | expr '&' expr            { $$ = DB.make_expression(zm::EXPR_BAND, $1, $3); if (!$$) YYABORT; }
    | expr '|' expr            { $$ = DB.make_expression(zm::EXPR_BOR, $1, $3); if (!$$) YYABORT; }
    | expr '+' expr            { $$ = DB.make_expression(zm::EXPR_ADD, $1, $3); if (!$$) YYABORT; }
    | expr '-' expr            { $$ = DB.make_expression(zm::EXPR_SUB, $1, $3); if (!$$) YYABORT; }
    | expr '*' expr            { $$ = DB.make_expression(zm::EXPR_MUL, $1, $3); if (!$$) YYABORT; }
    | expr '/' expr            { $$ = DB.make_expression(zm::EXPR_DIV, $1, $3); if (!$$) YYABORT; }
    | expr '%' expr            { $$ = DB.make_expression(zm::EXPR_MOD, $1, $3); if (!$$) YYABORT; }
    | '(' expr ')'             { $$ = $2; }
    | NUMBER                   { $$ = DB.make_number($1); }
    | field_ref                { $$ = DB.make_name($1.view()); }
    | NAME '(' arg_list ')'    { $$ = DB.make_call($1.view(), $3); }
    ;

field_attr_list
    : field_attr                      { $$ = $1; }
    | field_attr_list ',' field_attr  { $3->next_ = $1; $$ = $3; }
    ;

field_attr
    : DEFAULT '=' value                              { $$ = DB.addfldattr(zm::FATTR_DEFAULT, $3); }
    | SEND '=' expr                                  { $$ = DB.addfldattr(zm::FATTR_SEND, $3); }
    | DISPLAY '=' STRING                             { $$ = DB.addfldattr(zm::FATTR_DISPLAY, $3.view()); }
    | TABLE '=' NAME                                 { $$ = DB.addfldattr(zm::FATTR_TABLE, $3.view()); }
    | LEGAL_VALUES '=' '(' legal_value_list ')'      { $$ = DB.addfldattr(zm::FATTR_LEGAL_VALUES, $4); }
    | FORWARDING '=' NAME                            { $$ = DB.addfldattr(zm::FATTR_FORWARDING, $3.view()); }
    | TAGS '=' '(' tag_list ')'                      { $$ = DB.addfldattr(zm::FATTR_TAGS, $4); }
    | INDEX '=' NUMBER                               { $$ = DB.addfldattr(zm::FATTR_INDEX, $3); }
    ;

legal_value_list
    : named_range                       { $$ = $1; }
    | range                             { $$ = $1; }
    | legal_value                       { $$ = $1; }
    | legal_value_list ',' named_range  { $$ = prepend_chain($3, $1); }
    | legal_value_list ',' range        { $$ = prepend_chain($3, $1); }
    | legal_value_list ',' legal_value  { $$ = prepend_chain($3, $1); }
    ;

tag_list
    : value               { $$ = $1; }
    | tag_list ',' value  { $$ = prepend_chain($3, $1); }
    ;

named_range
    : NAME '=' NUMBER '-' NUMBER  { $$ = DB.make_range_symbols($1.view(), $3, $5); }
    ;

range
    : NUMBER '-' NUMBER  {
          $$ = DB.make_symbol(zm::SYM_RANGE_LOW, $1, {}, false);
          $$->next_ = DB.make_symbol(zm::SYM_RANGE_HIGH, $3, {}, false);
      }
    ;

legal_value
    : NAME '=' NUMBER  { $$ = DB.make_symbol(zm::SYM_VALUE, $3, $1.view(), true); }
    | NAME '=' HEX     { $$ = DB.make_symbol(zm::SYM_VALUE, $3.ptr, $3.len, $1.view(), true); }
    | value            { $$ = $1; }
    ;

value
    : NUMBER    { $$ = DB.make_symbol(zm::SYM_VALUE, $1, {}, false); }
    | HEX       { $$ = DB.make_symbol(zm::SYM_VALUE, $1.ptr, $1.len, {}, false); }
    | STRING    { $$ = DB.make_symbol(zm::SYM_VALUE, $1.ptr, $1.len, {}, false); }
    | FLD_NAME  { $$ = DB.make_field_ref($1.view()); }
    ;

child_list
    : child
    | child_list ',' child
    ;

child
    : NAME '(' child_selector ')'                 { DB.add_child($1.view(), $3, 0); }
    | NAME '(' child_selector ',' NUMBER ')'      { DB.add_child($1.view(), $3, static_cast<int32_t>($5)); }
    | NAME '(' child_selector ',' '-' NUMBER ')'  { DB.add_child($1.view(), $3, static_cast<int32_t>(0u - $6)); }
    ;

child_selector
    : expr     { $$ = $1; }
    | DEFAULT  { $$ = nullptr; }
    ;

sequence_def
    : SEQUENCE NAME '{' sequence_entries '}' ';'  { zm::sequences().add_sequence($2.view(), $4); }
    ;

sequence_entries
    : sequence_entry                   { $$ = $1; }
    | sequence_entries sequence_entry  { $2->next_ = $1; $$ = $2; }
    ;

sequence_entry
    : NAME STRING ';'          { $$ = zm::sequences().make_step($1.view(), $2.view()); }
    | NAME field_ref_list ';'  { $$ = zm::sequences().make_step($1.view(), $2); }
    ;

field_ref_list
    : field_ref_item                 { $$ = $1; }
    | field_ref_list field_ref_item  { $2->next_ = $1; $$ = $2; }
    ;

field_ref_item
    : field_ref  {
          $$ = zm::sequences().make_ref(DB.find_field(DB.first_node(), $1.view()), $1.view(), nullptr);
      }
    ;

line_directive
    : POUND_DIRECTIVE_NUMBER STRING NUMBER  { DB.set_current_file($2.view()); }
    | POUND_DIRECTIVE_NUMBER STRING         { DB.set_current_file($2.view()); }
    ;

%%

static void pdl_yyerror(zm::PdlParse* parse, const char* msg) {
    const char* text = std::strcmp(msg, "memory exhausted") == 0 ? "parser stack overflow" : "parse error";
    std::fprintf(parse->db_.output(), "%s(%d): %s: '%s'\n", parse->db_.current_file().c_str(), parse->line_, text,
                 parse->last_text_.c_str());
}

namespace zm {

PdlResult run_pdl_parser(PdlParse& parse) {
    parse.db_.clear_abandoned();
    int rc = pdl_yyparse(&parse);
    parse.db_.set_line(parse.line_);
    if (parse.db_.abandoned()) return PdlResult::abandoned;
    if (parse.scan_failed_) return PdlResult::scan_error;
    return rc == 0 ? PdlResult::ok : PdlResult::syntax;
}

std::string pdl_token_name(int code) {
    static const char* const names[] = {
        "POUND_DIRECTIVE", "POUND_DIRECTIVE_NUMBER", "STRING", nullptr, "NAME", "FLD_NAME", "FRAGMENT",
        "SEQUENCE", "APPEND", "SAVE", "ABORT", "RESERVED", "NUMBER", "HEX", "NEQ", "EQU", "AND", "OR",
        "DEFAULT", "SEND", "DISPLAY", "LEGAL_VALUES", "TABLE", "FORWARDING", "TAGS", "INDEX",
    };
    if (code >= 258 && code <= 283 && names[code - 258]) return names[code - 258];
    return "<" + std::to_string(code) + ">";
}

}  // namespace zm

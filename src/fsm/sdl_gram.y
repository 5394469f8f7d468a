/* The SDL grammar: machines, states, events, heads, arguments, parameters; each action is one builder call. */
%define api.pure full
%define api.prefix {sdl_yy}
%parse-param {zm::SdlCompile* sc}
%lex-param {zm::SdlCompile* sc}
%expect 0

%code requires {
#include "fsm/sdl_parse.h"
/* Semantic values are plain pointers and numbers, so the stack may be moved when it grows. */
#define SDL_YYSTYPE_IS_TRIVIAL 1
#define YYSTYPE_IS_TRIVIAL 1
}

%code {
#include <cstring>

#include "core/report.h"

/* The stack starts at 200 entries and doubles up to 10000. */
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000

/* A scanner failure becomes the error token: the parse ends without a parse-error line. */
static int sdl_yylex(SDL_YYSTYPE* value, zm::SdlCompile* sc) {
    try {
        return zm::sdl_next_token(value, sc);
    } catch (const zm::SdlScanError& e) {
        zm::report(nullptr, "sdlc", __LINE__, zm::LOG_FAULT, "%s at line %d; compilation abandoned", e.what(),
                   sc->line_);
        sc->scan_failed_ = true;
        return SDL_YYerror;
    }
}

static void sdl_yyerror(zm::SdlCompile* sc, const char* msg) { sc->syntax_error(msg); }
}

%union {
    const char* text;
    unsigned long number;
    zm::SdlStates* states;
    zm::State* state;
    zm::SdlEvents* events;
    zm::Event* event;
    zm::EventHead* head;
    zm::SdlOptions* options;
    zm::SdlArgs* args;
    zm::SdlArg* arg;
    zm::SdlParams* params;
}

%token <text> WORD OPTION PCTWORD HEXSTRING ACTION
%token <number> NUMBER

%type <states> states
%type <state> state
%type <events> events
%type <event> event
%type <head> head
%type <options> options option
%type <args> args
%type <arg> arg
%type <params> params

%%

program
    : machine
    | program machine
    ;

machine
    : WORD '{' states '}'               { sc->machine($1, $3); }
    | WORD WORD '{' states '}'          { sc->machine($2, $4); }
    ;

states
    : state                             { $$ = sc->states(nullptr, $1); }
    | states state                      { $$ = sc->states($1, $2); }
    ;

state
    : WORD '{' events '}'               { $$ = sc->state($1, $3); }
    | WORD '{' '}'                      { $$ = sc->state($1, nullptr); }
    ;

events
    : event                             { $$ = sc->events(nullptr, $1); }
    | events event                      { $$ = sc->events($1, $2); }
    ;

event
    : head '{' ACTION '}'               { $$ = sc->event($1, $3, false, nullptr); }
    | head '{' WORD '}'                 { $$ = sc->event($1, $3, true, nullptr); }
    | head '{' WORD params '}'          { $$ = sc->event($1, $3, true, $4); }
    ;

head
    : WORD options args                 { $$ = sc->head($1, $2, $3); }
    | WORD args                         { $$ = sc->head($1, nullptr, $2); }
    ;

options
    : option                            { $$ = $1; }
    | options OPTION '=' WORD           { $$ = sc->options($1, $2, $4); }
    | options OPTION                    { $$ = sc->options($1, $2, nullptr); }
    ;

option
    : OPTION '=' WORD                   { $$ = sc->options(nullptr, $1, $3); }
    | OPTION                            { $$ = sc->options(nullptr, $1, nullptr); }
    ;

args
    : arg                               { $$ = sc->args(nullptr, $1); }
    | args ',' arg                      { $$ = sc->args($1, $3); }
    | %empty                            { $$ = nullptr; }
    ;

arg
    : WORD                              { $$ = sc->arg(zm::ARG_WORD, $1, 0); }
    | NUMBER                            { $$ = sc->arg(zm::ARG_NUMBER, nullptr, $1); }
    | HEXSTRING                         { $$ = sc->arg(zm::ARG_HEXSTRING, $1, 0); }
    | '$' WORD                          { $$ = sc->arg(zm::ARG_VARIABLE, $2, 0); }
    | WORD '=' WORD                     { $$ = sc->arg(zm::ARG_FIELD_WORD, $3, 0, $1); }
    | WORD '=' NUMBER                   { $$ = sc->arg(zm::ARG_FIELD_NUMBER, nullptr, $3, $1); }
    | WORD '=' HEXSTRING                { $$ = sc->arg(zm::ARG_FIELD_HEXSTRING, $3, 0, $1); }
    | WORD '=' '$' WORD                 { $$ = sc->arg(zm::ARG_FIELD_VARIABLE, $4, 0, $1); }
    ;

params
    : WORD                              { $$ = sc->params(nullptr, zm::PARAM_LITERAL, $1); }
    | HEXSTRING                         { $$ = sc->params(nullptr, zm::PARAM_LITERAL, $1); }
    | NUMBER                            { $$ = sc->number_param(nullptr, $1); }
    | PCTWORD                           { $$ = sc->params(nullptr, -1, $1); }
    | params WORD                       { $$ = sc->params($1, zm::PARAM_LITERAL, $2); }
    | params HEXSTRING                  { $$ = sc->params($1, zm::PARAM_LITERAL, $2); }
    | params NUMBER                     { $$ = sc->number_param($1, $2); }
    | params PCTWORD                    { $$ = sc->params($1, -1, $2); }
    ;

%%

namespace zm {

int sdl_run_parser(SdlCompile* sc) { return sdl_yyparse(sc); }

}  // namespace zm

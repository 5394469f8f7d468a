// The SDL builder: the records each grammar reduction makes, and the definition lists.
#include <cstring>

#include "fsm/sdl_parse.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

struct WordKind {
    const char* word;
    int kind;
};
constexpr WordKind kEventKinds[] = {
    {"inpdu", EV_INPDU}, {"event", EV_EVENT}, {"timeout", EV_TIMEOUT}, {"start", EV_START}};

constexpr WordKind kParamWords[] = {
    {"%packet_handle", PARAM_PACKET}, {"%ph", PARAM_PACKET}, {"%state", PARAM_STATE}, {"%s", PARAM_STATE},
    {"%timeout", PARAM_TIMEOUT},      {"%to", PARAM_TIMEOUT}, {"%event", PARAM_EVENT}, {"%e", PARAM_EVENT},
};

// The kind `word` stands for in `table`, or `none`.
template <size_t N>
int kind_of(const WordKind (&table)[N], std::string_view word, int none) {
    for (const WordKind& w : table)
        if (word == w.word) return w.kind;
    return none;
}

template <class List, class Make>
List* append(List* list, Make&& make_list) {
    return list ? list : make_list();
}

}  // namespace

std::string Event::argument_text() const {
    if (head.args.empty()) return {};
    const SdlArg& a = head.args.front();
    switch (a.kind) {
    case ARG_NUMBER: return std::to_string(a.number);
    case ARG_VARIABLE: return "$" + a.text;
    case ARG_FIELD_NUMBER: return a.field_name + "=" + std::to_string(a.number);
    case ARG_FIELD_VARIABLE: return a.field_name + "=$" + a.text;
    case ARG_FIELD_WORD:
    case ARG_FIELD_HEXSTRING: return a.field_name + "=" + a.text;
    default: return a.text;
    }
}

const State* Definition::find_state(std::string_view wanted) const {
    for (const State& s : states)
        if (s.name == wanted) return &s;
    return nullptr;
}

const Definition* DefinitionList::add(std::unique_ptr<Definition> def) {
    def->max_events = 0;
    for (size_t i = 0; i < def->states.size(); ++i) {
        State& s = def->states[i];
        s.index = static_cast<int>(i);
        for (size_t j = 0; j < s.events.size(); ++j) {
            s.events[j].index = static_cast<int>(j);
            s.events[j].state = &s;
            s.events[j].argument = s.events[j].argument_text();
        }
        if (static_cast<int>(s.events.size()) > def->max_events) def->max_events = static_cast<int>(s.events.size());
    }
    defs_.push_back(std::move(def));
    return defs_.back().get();
}

const Definition* DefinitionList::find(std::string_view name) const {
    for (auto it = defs_.rbegin(); it != defs_.rend(); ++it)
        if ((*it)->name == name) return it->get();
    return nullptr;
}

DefinitionList& definitions() {
    static DefinitionList list;
    return list;
}

// ---- builder ------------------------------------------------------------------

const char* SdlCompile::keep(std::string_view text) { return texts_.emplace_back(text).c_str(); }

void SdlCompile::machine(const char* name, SdlStates* states) {
    auto def = std::make_unique<Definition>();
    def->name = name;
    if (states) def->states = std::move(*states);
    into_.add(std::move(def));
}

SdlStates* SdlCompile::states(SdlStates* list, State* state) {
    list = append(list, [this] { return make<SdlStates>(); });
    list->push_back(std::move(*state));
    return list;
}

State* SdlCompile::state(const char* name, SdlEvents* events) {
    State* s = make<State>();
    s->name = name;
    if (events) s->events = std::move(*events);
    return s;
}

// An event of unknown kind arrives as null and is left out.
SdlEvents* SdlCompile::events(SdlEvents* list, Event* event) {
    list = append(list, [this] { return make<SdlEvents>(); });
    if (event) list->push_back(std::move(*event));
    return list;
}

Event* SdlCompile::event(EventHead* head, const char* action, bool use_params, SdlParams* params) {
    int kind = kind_of(kEventKinds, head->word, -1);
    if (kind < 0) {
        std::fprintf(out_, "unknown event type %s\n", head->word.c_str());
        return nullptr;
    }
    Event* e = make<Event>();
    e->kind = kind;
    e->head = std::move(*head);
    e->action = action;
    e->use_params = use_params;
    if (params) e->params = std::move(*params);
    return e;
}

EventHead* SdlCompile::head(const char* word, SdlOptions* options, SdlArgs* args) {
    EventHead* h = make<EventHead>();
    h->word = word;
    if (options) h->options = std::move(*options);
    if (args) h->args = std::move(*args);
    return h;
}

SdlOptions* SdlCompile::options(SdlOptions* list, const char* word, const char* value) {
    list = append(list, [this] { return make<SdlOptions>(); });
    SdlOption& o = list->emplace_back();
    o.word = word;
    if (value) o.value = value;
    return list;
}

SdlArgs* SdlCompile::args(SdlArgs* list, SdlArg* arg) {
    list = append(list, [this] { return make<SdlArgs>(); });
    list->push_back(std::move(*arg));
    return list;
}

SdlArg* SdlCompile::arg(int kind, const char* text, unsigned long number, const char* field) {
    SdlArg* a = make<SdlArg>();
    a->kind = kind;
    if (text) a->text = text;
    a->number = number;
    if (field) {
        a->field_name = field;
        a->field = db_.find_field(nullptr, field);
        if (!a->field) std::fprintf(out_, "unknown field %s\n", field);
    }
    return a;
}

// kind -1: a %-word, classified here.
SdlParams* SdlCompile::params(SdlParams* list, int kind, const char* text) {
    list = append(list, [this] { return make<SdlParams>(); });
    if (kind < 0) kind = kind_of(kParamWords, text, PARAM_IGNORED);
    list->push_back(SdlParam{kind, text});
    return list;
}

SdlParams* SdlCompile::number_param(SdlParams* list, unsigned long number) {
    return params(list, PARAM_LITERAL, keep(std::to_string(number)));
}

void SdlCompile::syntax_error(const char* message) {
    const char* what = std::strcmp(message, "memory exhausted") == 0 ? "parser stack overflow" : "parse error";
    std::fprintf(out_, "%s at line %d: '%.*s'\n", what, line_, static_cast<int>(last_text_.size()), last_text_.data());
}

}  // namespace zm

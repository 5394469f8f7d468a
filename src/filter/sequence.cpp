// The packet-sequence registry: steps built by the PDL parser, sequences kept by name.
#include "filter/sequence.h"

namespace zm {

SequenceRegistry& sequences() {
    static SequenceRegistry* registry = new SequenceRegistry;  // lives until the process ends
    return *registry;
}

SeqStep* SequenceRegistry::make_step(std::string_view keyword, std::string_view text) {
    SeqStep* s = make_step(keyword, static_cast<SeqRef*>(nullptr));
    s->text_ = text;
    if (s->type_ == SEQ_FILTER && s->known_keyword_ && compiler_) s->filter_ = compiler_(s->text_);
    return s;
}

SeqStep* SequenceRegistry::make_step(std::string_view keyword, SeqRef* refs) {
    auto step = std::make_unique<SeqStep>();
    step->keyword_ = keyword;
    step->refs_ = refs;
    if (keyword == "filter") step->type_ = SEQ_FILTER;
    else if (keyword == "save") step->type_ = SEQ_SAVE;
    else if (keyword == "append") step->type_ = SEQ_APPEND;
    else step->known_keyword_ = false;
    steps_.push_back(std::move(step));
    return steps_.back().get();
}

SeqRef* SequenceRegistry::make_ref(Field* field, std::string_view text, SeqRef* list) {
    auto ref = std::make_unique<SeqRef>();
    ref->field_ = field;
    ref->text_ = text;
    ref->next_ = list;
    refs_.push_back(std::move(ref));
    return refs_.back().get();
}

Sequence* SequenceRegistry::add_sequence(std::string_view name, SeqStep* steps) {
    SeqStep* ordered = nullptr;
    while (steps) {
        SeqStep* next = steps->next_;
        steps->next_ = ordered;
        ordered = steps;
        steps = next;
    }
    auto seq = std::make_unique<Sequence>();
    seq->name_ = name;
    seq->steps_ = ordered;
    sequences_.push_back(std::move(seq));
    Sequence* s = sequences_.back().get();
    table_.insert_or_assign(s->name_, s);
    return s;
}

Sequence* SequenceRegistry::find(std::string_view name) const {
    auto it = table_.find(name);
    return it == table_.end() ? nullptr : it->second;
}

}  // namespace zm

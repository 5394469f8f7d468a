// Fuzz target: arbitrary text through the PDL scanner and parser into a fresh database, as pdlc -nocpp would.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/debug_flags.h"
#include "core/report.h"
#include "filter/sequence.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* sink = [] {
        zm::log_settings().level = 5;  // reports off: the fuzzer wants speed, not text
        zm::debug_flags().show_tokens = 0;
        return std::fopen("/dev/null", "w");
    }();
    zm::ProtoDb db;
    db.set_output(sink);
    db.set_current_file("fuzz.pdl");
    zm::parse_pdl_text(db, reinterpret_cast<const char*>(data), size);
    db.resolve_unresolved();
    // Exercise the read side on whatever was built.
    for (zm::Node* n = db.first_node(); n; n = n->next_) {
        for (zm::Field* f = n->first_field_; f; f = f->next_) {
            db.find_field(n, f->name_);
            zm::walk_expression(f->width_, [](zm::Expr*, void*) {}, nullptr);
            zm::walk_expression(f->send_, [](zm::Expr*, void*) {}, nullptr);
            zm::find_legal_value(f, "x");
        }
    }
    zm::dump_protodb(db, sink);
    return 0;
}

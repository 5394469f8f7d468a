// Fuzz target: arbitrary text through the SDL scanner, parser and builder into a private definition list.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/report.h"
#include "fsm/sdl.h"
#include "pdl/protodb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* sink = [] {
        zm::log_settings().level = 5;  // reports off: the fuzzer wants speed, not text
        return std::fopen("/dev/null", "w");
    }();
    static zm::ProtoDb db;
    zm::DefinitionList list;
    zm::SdlSource source;
    source.text = reinterpret_cast<const char*>(data);
    source.length = size;
    zm::compile_sdl(source, list, db, sink);
    // Read back what was built, as the runtime would.
    for (size_t i = 0; i < list.size(); ++i) {
        const zm::Definition* d = list.at(i);
        for (const zm::State& s : d->states) {
            if (d->find_state(s.name) == nullptr) __builtin_trap();
            for (const zm::Event& e : s.events)
                if (e.state != &s || e.index >= d->max_events) __builtin_trap();
        }
    }
    return 0;
}

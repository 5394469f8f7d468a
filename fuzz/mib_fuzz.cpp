// Fuzz target: arbitrary text through the MIB-text compiler (twice in one
// image context) and through the two index-file readers.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "core/report.h"
#include "mgmt/mib.h"
#include "mgmt/mibc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        zm::log_settings().level = 5;  // reports off: the fuzzer wants speed, not text
        zm::log_settings().tstamp = 0;
        return true;
    }();
    (void)quiet;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    zm::MibCompiler c;
    c.diag = [](const std::string&) {};
    std::string out;
    zm::mib_compile_text(c, text, "fuzz.mib", out);
    // The second pass sees the labels and types the first one learned.
    zm::mib_compile_text(c, text, "fuzz.mib", out);
    for (const auto& [name, type] : c.types) zm::mib_syntax_code(c, name);

    for (const char* name : {"ifEntry", "a", ""}) {
        std::istringstream index{std::string(text)};
        zm::mib_index_module(index, "fuzz.idx", name);
        std::istringstream lines{std::string(text)};
        zm::mib_read_index(lines, "fuzz.idx", name);
    }
    return 0;
}

// Fuzz target: arbitrary text through the MIB-text compiler, twice in one image context.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mgmt/mibc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zm::MibCompiler c;
    c.diag = [](const std::string&) {};
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string out;
    zm::mib_compile_text(c, text, "fuzz.mib", out);
    // The second pass sees the labels and types the first one learned.
    zm::mib_compile_text(c, text, "fuzz.mib", out);
    for (const auto& [name, type] : c.types) zm::mib_syntax_code(c, name);
    return 0;
}

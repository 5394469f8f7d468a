// Compiling PDL files without an interpreter.
#include "pdl/library_load.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"

namespace zm {

std::string shipped_library_path() {
    if (const char* src = std::getenv("ZEMKO_SOURCE_DIR")) return std::string(src) + "/library/pdl/all.pdlc";
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        std::filesystem::path staged = exe.parent_path().parent_path() / "lib/pdl/all.pdlc";
        if (std::filesystem::exists(staged, ec)) return staged.string();
    }
    return "library/pdl/all.pdlc";
}

bool compile_pdl_file(ProtoDb& db, const std::string& path, std::FILE* messages) {
    std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("zemko-pdl." + std::to_string(getpid()) + ".i");
    if (run_preprocessor(path, out.string()) != 0) return false;
    std::FILE* in = std::fopen(out.c_str(), "r");
    if (!in) return false;
    db.set_output(messages ? messages : stderr);
    db.set_current_file(std::filesystem::path(path).filename().string());
    PdlResult result = parse_pdl(db, in);
    std::fclose(in);
    std::error_code ec;
    std::filesystem::remove(out, ec);
    db.resolve_unresolved();
    return result == PdlResult::ok;
}

bool load_shipped_library(std::FILE* messages) {
    Node* enet = find_node("ENET_HDR");
    if (enet && enet->defined()) return true;
    compile_pdl_file(protodb(), shipped_library_path(), messages);
    enet = find_node("ENET_HDR");
    return enet && enet->defined();
}

}  // namespace zm

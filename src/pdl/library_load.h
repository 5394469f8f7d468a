// Compiling a PDL file straight into a database, for programs without an
// interpreter: benchmarks, fuzz targets and unit tests.
#pragma once
#include <cstdio>
#include <string>

namespace zm {

class ProtoDb;

// The shipped library's top file: $ZEMKO_SOURCE_DIR/library/pdl/all.pdlc,
// else lib/pdl/all.pdlc beside the running program's bin directory (the
// build tree and an install), else library/pdl/all.pdlc.
std::string shipped_library_path();

// Preprocesses `path` and compiles it into `db`, with the compiler's
// messages written to `messages` (standard error when null); unresolved
// names are resolved afterwards. True when the file parsed.
bool compile_pdl_file(ProtoDb& db, const std::string& path, std::FILE* messages = nullptr);

// Compiles the shipped library into the process-wide database once; true
// when its Ethernet node is defined (also when it was loaded before).
bool load_shipped_library(std::FILE* messages = nullptr);

}  // namespace zm

// Running the C preprocessor over a PDL file, without a shell.
#pragma once

#include <string>

namespace zm {

// Preprocesses `input` into `output` with "gcc -x c -E -undef -nostdinc"
// (or "cpp -undef -nostdinc" when gcc is missing), started directly with
// posix_spawn: file names are passed as single arguments and never seen by
// a shell. The child's standard output is redirected to `output` (created
// or truncated). No predefined macros and no implicit system header, so
// the output's line markers carry at most one number after the file name.
// Returns the preprocessor's exit status, 127 when no preprocessor could be
// started or the output could not be opened, 128 + signal when it died.
int run_preprocessor(const std::string& input, const std::string& output);

}  // namespace zm

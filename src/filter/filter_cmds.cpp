// Filter-debugging command and switches: filt_debug, DISPLAY_FILTER_TREE, SHOW_TOKENS, ROP_WARN.
#include <tcl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/debug_flags.h"
#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/textconv.h"
#include "filter/filter.h"
#include "filter/sequence.h"

namespace zm {

namespace {

constexpr const char* kModule = "pktfilt";

void print_bytes(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) std::printf(i ? " %02x" : "%02x", bytes[i]);
    std::printf("\n");
}

// filt_debug hexstring ?TRUE|FALSE?: shows what the two text converters make of the argument.
int filt_debug(ClientData, Tcl_Interp* interp, Words& words) {
    if (words.argc != 2 && words.argc != 3) {
        std::printf("%s(%d): usage: filt_debug 0x12345 [TRUE|FALSE]\n arg 2 is add_pad parm\n", kModule, __LINE__);
    } else {
        const char* text = words[1];
        bool pad = words.argc == 3 && std::strcmp(words[2], "TRUE") == 0;
        std::vector<uint8_t> hex = asciihex2binary(text, pad);
        std::printf("%s(%d): asciihex2binary: len = %d, targ = ", kModule, __LINE__, static_cast<int>(hex.size()));
        print_bytes(hex.data(), hex.size());

        uint32_t value = 0;
        std::vector<uint8_t> bytes;
        int len = asciinum2binary(text, &value, &bytes);
        std::printf("%s(%d): asciinum2binary: len = %d, targ = ", kModule, __LINE__, len);
        if (len == 4 && bytes.empty()) print_bytes(reinterpret_cast<const uint8_t*>(&value), 4);
        else if (len > 0) print_bytes(bytes.data(), std::min(bytes.size(), static_cast<size_t>(len)));
        else print_bytes(nullptr, 0);
    }
    std::fflush(stdout);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

void* compile_sequence_filter(const std::string& text) {
    return compile_receive_filter(nullptr, text.c_str(), nullptr);
}

}  // namespace

void install_sequence_filter_compiler() { sequences().set_filter_compiler(compile_sequence_filter); }

int register_filter_debug_group(Tcl_Interp* interp) {
    DebugFlags& f = debug_flags();
    create_command<filt_debug>(interp, "filt_debug");
    if (Tcl_LinkVar(interp, "DISPLAY_FILTER_TREE", reinterpret_cast<char*>(&f.display_filter_tree),
                    TCL_LINK_BOOLEAN) != TCL_OK ||
        Tcl_LinkVar(interp, "SHOW_TOKENS", reinterpret_cast<char*>(&f.show_tokens), TCL_LINK_BOOLEAN) != TCL_OK ||
        Tcl_LinkVar(interp, "ROP_WARN", reinterpret_cast<char*>(&f.rop_warn), TCL_LINK_BOOLEAN) != TCL_OK)
        return 1;
    return 0;
}

}  // namespace zm

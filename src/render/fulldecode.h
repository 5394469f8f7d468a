// The full decode display and the highlighting ranges behind its lines, built from a decode tree without Tcl.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decode/format.h"

namespace zm {

class DecodeBlock;
struct PacketBuffer;

constexpr int DFLT_NAME_WIDTH = 20;
constexpr int DFLT_VAL_WIDTH = 20;
constexpr int MIN_NAMEWIDTH = 4;
constexpr int MAX_NAMEWIDTH = 100;
constexpr int MIN_VALWIDTH = 4;
constexpr int MAX_VALWIDTH = 100;

struct FullDecodeStyle {
    int name_width = DFLT_NAME_WIDTH;
    int value_width = DFLT_VAL_WIDTH;
    bool lofield = true;      // byte offsets of nodes, bit lengths of fields
    bool pdlnames = false;    // field names rather than display names
    bool numeric = false;     // numeric values rather than symbolic names
    CharSet charset = CHARSET_ASCII;
    // Vendor text of a 24-bit Ethernet address prefix (empty: none); null: no vendor lines.
    std::string_view (*vendor)(void* ctx, uint32_t oui) = nullptr;
    void* vendor_ctx = nullptr;
};

// Appends the column-aligned decode of one packet to `text` and, for each
// line, its item number followed by a blank to `items` (data lines carry none).
void fulldecode_text(const DecodeBlock& tree, const uint8_t* data, uint32_t length, const FullDecodeStyle& style,
                     std::string& text, std::string& items);

// The highlighting ranges of display item `item` of one packet's decode
// (see the tap_hilit renderer): {"field", "pos len"} or {"fragment", "pos len", ...};
// empty when the packet has no such item.
std::vector<std::string> hilit_ranges(const DecodeBlock& tree, const uint8_t* data, uint32_t length, uint32_t item);

}  // namespace zm

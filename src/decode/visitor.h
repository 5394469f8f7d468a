// A walk over a decode tree that yields each shown element with its key, value text and symbol.
//
// The visitor reads a DecodeBlock and the packet bytes it describes; it knows
// nothing of Tcl. It yields, in tree order:
//   - every node that is not empty (see node_is_empty), with key NODE;
//   - every field, with key NODE_field (NODE_field,i inside the i+1-th member
//     of an array), its numeric text and its symbolic text;
//   - every data block, with key RAWDATA and "0x" followed by the bytes in
//     lower-case hex from the block's start to the end of the packet.
// Nodes and fields of non-zero width carry an item number, counting from 1
// in tree order: the numbering that the full decode display prints and that
// highlighting resolves. Data blocks and zero-width fields carry item 0.
//
// Texts are built only when asked for (VisitWant) and stay valid until the
// next call of next(); value and symbol texts are at most kVisitTextMax
// characters. The visitor reuses its strings, so a walk does not allocate
// once they have grown to their working size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "decode/decode.h"

namespace zm {

struct Node;
struct Field;

constexpr size_t kVisitTextMax = 256;

enum VisitKind : int { VISIT_NODE = 0, VISIT_FIELD = 1, VISIT_DATA = 2 };

enum VisitWant : unsigned {
    VISIT_WANT_KEY = 1,
    VISIT_WANT_VALUE = 2,   // numeric text (fields), hex text (data)
    VISIT_WANT_SYMBOL = 4,  // symbolic text (fields), hex text (data)
};

struct VisitedElement {
    VisitKind kind = VISIT_NODE;
    const DecodeElement* element = nullptr;
    uint32_t position = 0;  // index of the element in the tree
    uint32_t item = 0;      // display item number; 0 for data and zero-width fields
    Node* node = nullptr;   // the node (VISIT_NODE) or the field's owner (VISIT_FIELD)
    Field* field = nullptr; // VISIT_FIELD, VISIT_DATA
    std::string_view key;
    std::string_view value;
    std::string_view symbol;
};

// True when the node element at `i` is not shown: it starts at the end of the
// packet, or the next element closes it.
bool node_is_empty(const DecodeBlock& tree, uint32_t i, uint32_t packet_length);

// The text of a node's display attribute, or null when it has none.
const std::string* node_display(const Node* node);

class DecodeVisitor {
public:
    DecodeVisitor(const DecodeBlock& tree, const uint8_t* data, uint32_t length, unsigned want);
    // The next shown element; false at the end of the tree.
    bool next(VisitedElement& out);

private:
    const DecodeBlock& tree_;
    const uint8_t* data_;
    uint32_t length_;
    unsigned want_;
    uint32_t pos_ = 0;
    uint32_t item_ = 0;
    std::string key_, value_, symbol_;
};

// Appends `count` bytes as two lower-case hex digits each.
void append_lower_hex(const uint8_t* bytes, size_t count, std::string& out);

}  // namespace zm

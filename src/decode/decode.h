// The packet decoder: decode elements, the decode block that holds a packet's decode tree, and the walk.
//
// A decode tree is a flat array of DecodeElement records in walk order:
//
//   DECODE_HDR                         once, first; every other word zero
//   DECODE_NODE      object = Node     on entering a node; offset = node start
//     DECODE_FLD     object = Field    one per plain field read
//     DECODE_ARRAY   object = Node     the array's element node; offset = array start
//       DECODE_NODE ... DECODE_NODE_END  one per element, index = 1-based element number
//     DECODE_ARRAY_END                 same object and offset as its DECODE_ARRAY
//     DECODE_DATA    object = Field    the child field whose content no child node describes
//   DECODE_NODE_END  object = Node     offset = the node's START (not its end)
//
// Every DECODE_NODE has its DECODE_NODE_END and every DECODE_ARRAY its
// DECODE_ARRAY_END, also when the walk was cut short. A node without fields
// emits nothing. Offsets are bit offsets from the packet's first byte (bit 0
// is the most significant bit of byte 0). `value` holds the value of a
// DECODE_FLD of width 1..32, right-aligned; wider fields are read from the
// packet bytes (format.h). `index` is the element number of the enclosing
// array for DECODE_NODE and DECODE_FLD (0 outside arrays).
//
// Ownership: a buffer's decode tree (PacketBuffer::decode) is a DecodeBlock.
// decode_packet takes one from a process-wide free list when the buffer has
// none; buffer_free hands it back through the release registered with
// set_decode_release. A block that some owner lends to a buffer (a renderer's
// scratch, the interface's shared container) is never recycled by that
// release: its owner detaches it and keeps it.
//
// Threading: one decode at a time, on the interpreter's thread. The decoder
// writes the current-width/value/offset cells of the protocol database's
// fields and the globals of expr.h; a decode must not be started from inside
// another one (the attempt is reported and refused).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/buffer.h"

namespace zm {

struct Node;
struct Field;
struct DecodeContext;

enum DecodeType : uint32_t {
    DECODE_HDR = 0,
    DECODE_NODE = 1,
    DECODE_NODE_END = 2,
    DECODE_ARRAY = 3,
    DECODE_ARRAY_END = 4,
    DECODE_FLD = 5,
    DECODE_DATA = 6,
};

// One decode element: six 32-bit words and the object. On a 64-bit host the
// object is a full pointer, so the record is 32 bytes; consumers count
// elements with DecodeBlock::count(), never by a fixed byte size.
struct DecodeElement {
    uint32_t type;     // DecodeType
    uint32_t index;    // array element number (DECODE_NODE, DECODE_FLD), else 0
    uint32_t value;    // DECODE_FLD of width 1..32: the value; else 0
    uint32_t offset;   // bit offset from the packet's first byte
    uint32_t width;    // DECODE_FLD, DECODE_DATA: width in bits; else 0
    uint32_t reserved; // always 0
    void* object;      // Node* (NODE, NODE_END, ARRAY, ARRAY_END) or Field* (FLD, DATA); null for HDR

    Node* node() const { return static_cast<Node*>(object); }
    Field* field() const { return static_cast<Field*>(object); }
};

// Room of a fresh decode block, in elements.
constexpr uint32_t kDecodeBlockRoom = 40;
// A decode never grows a tree beyond this many elements: the walk stops with a
// Warning and closes what it opened.
constexpr uint32_t kMaxDecodeElements = 1u << 20;
// Nodes and arrays nest at most this deep in one decode (self-referencing or
// deeply nested descriptions stop there with a Warning).
constexpr int kMaxDecodeDepth = 100;

// A growable array of decode elements with an inline area of the room asked
// for at creation. Appending beyond the capacity moves the elements to a new
// allocation of twice the needed size. clear() keeps a grown allocation up to
// 64 KiB so a reused block does not allocate again; beyond that it returns to
// the inline area.
class DecodeBlock {
public:
    explicit DecodeBlock(uint32_t room = kDecodeBlockRoom);
    ~DecodeBlock();
    DecodeBlock(const DecodeBlock&) = delete;
    DecodeBlock& operator=(const DecodeBlock&) = delete;

    uint32_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    uint32_t capacity() const { return capacity_; }
    uint32_t used_bytes() const { return count_ * static_cast<uint32_t>(sizeof(DecodeElement)); }
    const DecodeElement* begin() const { return data_; }
    const DecodeElement* end() const { return data_ + count_; }
    const DecodeElement& operator[](uint32_t i) const { return data_[i]; }
    DecodeElement* data() { return data_; }

    void clear();
    // Appends one element; false (nothing appended) when memory runs out.
    bool push(const DecodeElement& e) {
        if (count_ == capacity_ && !grow(count_ + 1)) return false;
        data_[count_++] = e;
        return true;
    }
    // True when this block came from the decoder's free list.
    bool pooled() const { return pooled_; }

private:
    friend DecodeBlock* acquire_decode_block();
    bool grow(uint32_t needed);

    DecodeElement* data_;
    uint32_t count_ = 0;
    uint32_t capacity_;
    uint32_t inline_capacity_;
    bool pooled_ = false;
    std::unique_ptr<DecodeElement[]> inline_;
    std::unique_ptr<DecodeElement[]> heap_;
};

// The buffer's decode tree, or null.
inline DecodeBlock* decode_tree(const PacketBuffer* buffer) {
    return buffer ? static_cast<DecodeBlock*>(buffer->decode) : nullptr;
}

// A cleared block from the decoder's free list (allocated when the list is
// empty). Give it back with release_decode_block (or let buffer_free do it).
DecodeBlock* acquire_decode_block();
// Returns a pooled block to the free list; a lent (non-pooled) block is left
// to its owner. Null is ignored. Registered as the buffers' decode release.
void release_decode_block(void* block);

// Builds the buffer's decode tree from `base` (the buffer's base node when
// `base` is null) unless it already has a non-empty one, and advances the
// filter instances of `ctx` (null: decode only) in the same pass. The tree is
// built in the buffer's own block (a lent one included) or in a pooled block
// attached to buffer->decode. Returns true when the buffer has a decode tree
// afterwards; false without a base node, without memory, or when called from
// inside another decode (reported as a Fault).
bool decode_packet(PacketBuffer* buffer, Node* base, DecodeContext* ctx);

// The walk, exposed for tests and for callers that decode a part of a packet.
// Both must run inside decode_packet's set-up (they use its globals); each
// returns the bit offset reached.
uint32_t decode_node(DecodeContext* ctx, uint32_t total, Node* node, uint32_t start, uint32_t base, uint32_t limit,
                     uint32_t index);
uint32_t decode_array(DecodeContext* ctx, uint32_t end, Field* field, uint32_t start, uint32_t base, uint32_t limit);

// True when the element's bit offset / 8 equals the packet length in bytes,
// or when `flag` is set and the next element of the buffer's tree is a
// DECODE_NODE_END. `element` must point into the buffer's tree.
bool element_at_end(const PacketBuffer* buffer, bool flag, const DecodeElement* element);

}  // namespace zm


// The seam between the decoder and the filter engine: the decode context and
// the calls the decoder makes while it walks a packet.
//
// The filter engine owns everything declared here (filters, instances, match
// points hung on protocol nodes and fields). The decoder owns the walk: for
// one packet it calls begin_decode, then node_entered for every node it
// enters and field_read for every field it decodes, then finish_decode.
// Neither may be re-entered from inside a decode.
#pragma once
#include <cstdint>

namespace zm {

struct Node;
struct Field;
struct PacketBuffer;
struct FilterInstance;

// One per interface (and per renderer, state machine or sequence user).
struct DecodeContext {
    FilterInstance* instances = nullptr;  // newest first
    FilterInstance* completed = nullptr;  // completed in the current decode, newest first
    PacketBuffer* buffer = nullptr;       // the buffer being decoded, during a decode
    void* decode_block = nullptr;         // the decoder's block, during a decode
    // Filter-engine bookkeeping, so that a decode touches only the instances it concerns.
    FilterInstance* node_only = nullptr;  // instances without conditions: checked after every decode
    FilterInstance* touched = nullptr;    // instances with a condition met in the current decode
    FilterInstance* stored = nullptr;     // instances whose owner cell the last decode set
};

// Called by the decoder. `node_entered` when the walk enters a node;
// `field_read` after the field's DECODE_FLD element is emitted, with the
// field's first byte, bit offset (0..7) and width in bits, and `avail` the
// bytes readable from `data` (comparisons never read past it).
void node_entered(DecodeContext* ctx, Node* node);
void field_read(DecodeContext* ctx, Field* field, const uint8_t* data, int bit_offset, uint32_t width, uint32_t avail);
// Called by the decoder when the walk ends: every instance with nothing left
// to match stores 1 in its owner cell, then all instances are reset.
void finish_decode(DecodeContext* ctx);

}  // namespace zm

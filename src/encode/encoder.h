// The packet encoder: builds a packet buffer from a send filter (layout, values, length and checksum fix-ups).
//
// build_packet compiles the filter text as a send filter, completes it with
// the encapsulating nodes and the base node, lays the nodes out from the
// outermost inwards into the buffer, then fills in every length field and
// after them every checksum field. The caller owns the buffer before and
// after the call; on failure its contents are unspecified and it should be
// freed unsent. Every failure is reported (module sendpkt) before returning.
//
// While a build runs, the encoder installs the position built-ins of the
// expression evaluator (length, checksum, pdu_start, pdu_end, ip_offset,
// frag_start, frag_end) and writes the current-width/value/offset cells of
// the fields it lays out, so that width expressions of later fields see the
// values already chosen. One build at a time, on the interpreter's thread.
//
// This header does not include tcl.h.
#pragma once

#include <cstdint>

#include "core/buffer.h"
#include "core/timeutil.h"

struct Tcl_Interp;

namespace zm {

struct Node;
struct Field;
struct Filter;
struct FilterNode;
struct Symbol;
struct ChildLink;

// A field whose value is computed once the whole packet exists.
struct Fixup {
    const Symbol* calc = nullptr;       // the field's calculated-value descriptor
    const Node* node = nullptr;
    const Field* field = nullptr;
    uint32_t width = 0;                 // bits
    uint32_t offset = 0;                // bit offset from the packet's first byte
    const FilterNode* fnode = nullptr;  // the filter node holding the field
    const ChildLink* link = nullptr;    // that node's child link
    uint32_t end_bit = 0;               // end of the node, set when its layout is finished
    uint32_t ip_offset = 0;             // bit offset of the last IP header laid out before the field
    bool closed = false;
    bool done = false;
};

// The bytes a build may fill: the room the buffer was allocated with, and
// never more than its 16-bit tail can address.
uint32_t encoder_room(const PacketBuffer* buffer);

// Builds a packet into `buffer` (empty on entry) from `filter_text`. `base`
// is the interface's link-level node; `timestamp` null stamps the current
// time. Returns 0 on success (tail set after the packet), 1 on failure.
int build_packet(PacketBuffer* buffer, const char* filter_text, Node* base, const TimeVal* timestamp,
                 uint32_t direction, uint32_t trunc_len);

// As build_packet, for a packet of at most `room` bytes, built in a buffer
// the encoder keeps and copied into a new buffer of the packet's own size
// (so that a send costs what it sends, not its largest possible size).
// Returns 0 with *out the new buffer (the caller's), 1 when the build failed
// (reported), 2 when no buffer could be had (reported).
int build_send_packet(uint32_t room, const char* filter_text, Node* base, const TimeVal* timestamp,
                      uint32_t direction, uint32_t trunc_len, PacketBuffer** out);

// Lays out an already compiled and completed send filter from `outermost`
// and runs the fix-ups. Returns the packet length in bits, or -1 after a
// report. The buffer's tail is set on success. Used by build_packet and by
// tests that build the filter themselves.
int64_t encode_filter(PacketBuffer* buffer, Filter* filter, FilterNode* outermost);

}  // namespace zm

// The interface's calls into the filter engine and the decoder, in one place.
#pragma once

struct Tcl_Interp;

namespace zm {

struct DecodeContext;
struct Filter;
struct Node;
struct PacketBuffer;

DecodeContext* engine_create_context();
void engine_release_context(DecodeContext* ctx);
// Null when the text does not compile (the compiler reported why).
Filter* engine_compile(Tcl_Interp* interp, const char* text, Node* base);
// Adds an instance of `filter` to `ctx` that stores 1 into *cell on a match.
bool engine_insert(Tcl_Interp* interp, DecodeContext* ctx, const char* name, int* cell, Filter* filter);
// Removes the filter's instances and frees it.
void engine_remove(Filter* filter);
// Builds the buffer's decode tree (advancing ctx's instances) unless it has a non-empty one.
void engine_decode(PacketBuffer* buffer, Node* base, DecodeContext* ctx);
// Detaches and recycles the buffer's decode tree.
void engine_drop_decode(PacketBuffer* buffer);
// True when the buffer has a non-empty decode tree.
bool engine_has_tree(const PacketBuffer* buffer);

}  // namespace zm

// The interface's calls into the filter engine and the decoder.
#include "netif/engine_link.h"

#include "decode/decode.h"
#include "filter/filter.h"

namespace zm {

DecodeContext* engine_create_context() { return create_context(); }

void engine_release_context(DecodeContext* ctx) { release_context(ctx); }

Filter* engine_compile(Tcl_Interp* interp, const char* text, Node* base) {
    return compile_receive_filter(interp, text, base);
}

bool engine_insert(Tcl_Interp* interp, DecodeContext* ctx, const char* name, int* cell, Filter* filter) {
    return insert_instance(interp, ctx, name, cell, filter) != nullptr;
}

void engine_remove(Filter* filter) { remove_filter(filter, true); }

void engine_decode(PacketBuffer* buffer, Node* base, DecodeContext* ctx) { decode_packet(buffer, base, ctx); }

void engine_drop_decode(PacketBuffer* buffer) {
    if (!buffer->decode) return;
    release_decode_block(buffer->decode);
    buffer->decode = nullptr;
}

bool engine_has_tree(const PacketBuffer* buffer) {
    const DecodeBlock* tree = decode_tree(buffer);
    return tree && !tree->empty();
}

}  // namespace zm

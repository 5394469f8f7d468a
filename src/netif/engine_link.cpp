// The interface's calls into the filter engine and the decoder.
#include "netif/engine_link.h"

#include "decode/decode.h"
#include "filter/filter.h"

// Weak references: the interface links and runs before the engine lands.
namespace zm {
bool decode_packet(PacketBuffer* buffer, Node* base, DecodeContext* ctx) __attribute__((weak));
void release_decode_block(void* block) __attribute__((weak));
Filter* compile_receive_filter(Tcl_Interp* interp, const char* text, Node* base) __attribute__((weak));
FilterInstance* insert_instance(Tcl_Interp* interp, DecodeContext* ctx, const char* name, int* owner_cell,
                                Filter* filter) __attribute__((weak));
void remove_filter(Filter* filter, bool free) __attribute__((weak));
DecodeContext* create_context() __attribute__((weak));
void release_context(DecodeContext* ctx) __attribute__((weak));
}  // namespace zm

namespace zm {

bool engine_filters_linked() {
    return &compile_receive_filter && &insert_instance && &remove_filter && &create_context && &release_context;
}
bool engine_decoder_linked() { return &decode_packet && &release_decode_block; }

DecodeContext* engine_create_context() {
    if (engine_filters_linked()) return create_context();
    return new DecodeContext();
}

void engine_release_context(DecodeContext* ctx) {
    if (engine_filters_linked())
        release_context(ctx);
    else
        delete ctx;
}

Filter* engine_compile(Tcl_Interp* interp, const char* text, Node* base) {
    if (!engine_filters_linked()) return nullptr;
    return compile_receive_filter(interp, text, base);
}

bool engine_insert(Tcl_Interp* interp, DecodeContext* ctx, const char* name, int* cell, Filter* filter) {
    return insert_instance(interp, ctx, name, cell, filter) != nullptr;
}

void engine_remove(Filter* filter) {
    if (engine_filters_linked()) remove_filter(filter, true);
}

void engine_decode(PacketBuffer* buffer, Node* base, DecodeContext* ctx) {
    if (engine_decoder_linked()) decode_packet(buffer, base, ctx);
}

void engine_drop_decode(PacketBuffer* buffer) {
    if (!buffer->decode) return;
    if (engine_decoder_linked()) release_decode_block(buffer->decode);
    buffer->decode = nullptr;
}

bool engine_has_tree(const PacketBuffer* buffer) {
    const DecodeBlock* tree = decode_tree(buffer);
    return tree && !tree->empty();
}

}  // namespace zm

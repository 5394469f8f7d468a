// Packet buffers and pools.
#include "core/buffer.h"

#include <cstdlib>
#include <cstring>

#include "core/report.h"
#include "core/timeutil.h"

namespace zm {
namespace {

uint64_t g_blocks = 0;
DecodeRelease g_decode_release = nullptr;

void fresh(PacketBuffer* b) {
    b->next = nullptr;
    b->head = b->tail = kBufferDataOffset;
    b->frame = b->sec = b->usec = 0;
    b->base_node = nullptr;
    b->decode = nullptr;
    b->direction = DIR_RX;
    b->trunc_len = 0;
}

// Puts a buffer at the tail of its pool's free list.
void push_free(Pool* pool, PacketBuffer* b) {
    b->next = nullptr;
    if (pool->free_tail)
        pool->free_tail->next = b;
    else
        pool->free_head = b;
    pool->free_tail = b;
}

// Buffers of a pool block follow each other: keep every record aligned for its 8-byte members.
uint32_t buffer_length_for(uint32_t room) {
    constexpr uint32_t align = alignof(PacketBuffer);
    return (room + kBufferOverhead + align - 1) & ~(align - 1);
}

}  // namespace

bool PacketBuffer::prepend(uint32_t n) {
    if (n > headroom()) return false;
    head = static_cast<uint16_t>(head - n);
    return true;
}
bool PacketBuffer::strip(uint32_t n) {
    if (n > length()) return false;
    head = static_cast<uint16_t>(head + n);
    return true;
}
bool PacketBuffer::append(uint32_t n) {
    if (n > appendable()) return false;
    tail = static_cast<uint16_t>(tail + n);
    return true;
}

PacketBuffer* buffer_alloc(uint32_t room) {
    if (room == 0) room = 2048;
    uint32_t size = room + kBufferOverhead;
    auto* b = static_cast<PacketBuffer*>(std::calloc(1, size));
    if (!b) {
        report_os_error(nullptr, "bufutil", __LINE__, "Buffer allocation failed, size = %d", static_cast<int>(size));
        return nullptr;
    }
    fresh(b);
    b->size = size;
    b->block = nullptr;
    b->pool = nullptr;
    return b;
}

void pool_init(Pool* pool, uint32_t room) {
    pool->room = room;
    pool->free_head = pool->free_tail = nullptr;
}

PacketBuffer* pool_get(Pool* pool) {
    PacketBuffer* b = pool->free_head;
    if (b) {
        pool->free_head = b->next;
        if (!pool->free_head) pool->free_tail = nullptr;
        fresh(b);
        return b;
    }
    uint32_t len = buffer_length_for(pool->room);
    auto* mem = static_cast<uint8_t*>(std::calloc(kPoolBlockBuffers, len));
    if (!mem) return nullptr;
    ++g_blocks;
    auto* first = reinterpret_cast<PacketBuffer*>(mem);
    pool->blocks.push_back(first);
    for (int i = 1; i < kPoolBlockBuffers; ++i) {
        auto* x = reinterpret_cast<PacketBuffer*>(mem + static_cast<size_t>(i) * len);
        x->size = len;
        x->pool = pool;
        x->block = first;
        push_free(pool, x);
    }
    first->size = len;
    first->pool = pool;
    first->block = first;
    fresh(first);
    return first;
}

void buffer_free(PacketBuffer* b) {
    if (!b) return;
    if (b->decode) {
        if (g_decode_release) g_decode_release(b->decode);
        b->decode = nullptr;
    }
    Pool* pool = b->pool;
    if (!pool) {
        std::free(b);
        return;
    }
    push_free(pool, b);
}

void pool_destroy(Pool* pool) {
    for (PacketBuffer* first : pool->blocks) std::free(first);
    pool->blocks.clear();
    pool->free_head = pool->free_tail = nullptr;
}

namespace {

// Copies the first n bytes (as many as fit) and the metadata of src into c.
PacketBuffer* fill_copy(PacketBuffer* c, const PacketBuffer* src, uint32_t n) {
    if (!c) return nullptr;
    if (n > c->tailroom()) n = c->tailroom();
    std::memcpy(c->data(), src->data(), n);
    c->tail = static_cast<uint16_t>(c->head + n);
    c->frame = src->frame;
    c->sec = src->sec;
    c->usec = src->usec;
    c->base_node = src->base_node;
    c->direction = src->direction;
    c->trunc_len = src->trunc_len;
    return c;
}

}  // namespace

PacketBuffer* buffer_clone_prefix(const PacketBuffer* src, uint32_t n) {
    if (n > src->length()) n = src->length();
    return fill_copy(src->pool ? pool_get(src->pool) : buffer_alloc(n + 4), src, n);
}

PacketBuffer* buffer_copy_detached(const PacketBuffer* src, uint32_t room) {
    uint32_t n = src->length();
    return fill_copy(buffer_alloc(room > n + 4 ? room : n + 4), src, n);
}

PacketBuffer* buffer_clone(const PacketBuffer* src) { return buffer_clone_prefix(src, src->length()); }

uint64_t pool_blocks_allocated() { return g_blocks; }

void set_decode_release(DecodeRelease fn) { g_decode_release = fn; }

void buffer_stamp_now(PacketBuffer* buffer) {
    int64_t sec = 0;
    time_now(&sec, &buffer->usec);
    buffer->sec = static_cast<uint32_t>(sec);
}

}  // namespace zm

// Packet buffers: one record of metadata and packet bytes with headroom, and
// the per-interface pools they come from.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zm {

struct Pool;

// Offset of the first data byte of a fresh buffer; the bytes between the end
// of the metadata and this offset are headroom for prepended headers.
constexpr uint16_t kBufferDataOffset = 96;
// Bytes allocated beyond the room asked for (so R + 4 data bytes fit).
constexpr uint32_t kBufferOverhead = 100;
// Buffers per pool block.
constexpr int kPoolBlockBuffers = 100;

enum Direction : uint32_t { DIR_NA = 0, DIR_RX = 1, DIR_TX = 2 };

struct PacketBuffer {
    PacketBuffer* next;   // free-list or holder's list link
    uint16_t head;        // offset of the first data byte from the record start
    uint16_t tail;        // offset one past the last data byte
    uint32_t size;        // bytes allocated for the whole record
    uint32_t frame;       // frame number (buffer handle) or packet handle
    uint32_t sec;         // receive time, seconds; 0 = not stamped
    uint32_t usec;        // receive time, microseconds
    const void* base_node;  // protocol node of the link level, or null
    void* decode;         // decode tree owned by this buffer, or null
    PacketBuffer* block;  // first buffer of the pool block, for pooled buffers
    Pool* pool;           // owning pool, or null when singly allocated
    uint32_t direction;   // Direction
    uint32_t trunc_len;   // length on the wire when the data was cut; 0 = whole

    uint8_t* record() { return reinterpret_cast<uint8_t*>(this); }
    const uint8_t* record() const { return reinterpret_cast<const uint8_t*>(this); }
    uint8_t* data() { return record() + head; }
    const uint8_t* data() const { return record() + head; }
    uint32_t length() const { return static_cast<uint32_t>(tail - head); }
    uint32_t headroom() const { return head - static_cast<uint32_t>(sizeof(PacketBuffer)); }
    uint32_t tailroom() const { return size - tail; }
    // Bytes `append` can still add: the tail room, as far as a 16-bit tail reaches.
    uint32_t appendable() const { return std::min<uint32_t>(tailroom(), 0xFFFFu - tail); }
    // Bounded edits: each returns false and changes nothing when there is no room.
    bool prepend(uint32_t n);
    bool strip(uint32_t n);
    bool append(uint32_t n);
};
static_assert(sizeof(PacketBuffer) + 12 <= kBufferDataOffset, "metadata must leave 12 bytes of headroom");

struct Pool {
    uint32_t room = 0;
    PacketBuffer* free_head = nullptr;
    PacketBuffer* free_tail = nullptr;
    std::vector<PacketBuffer*> blocks;  // first buffer of each block, for release
};

// A singly allocated buffer of room `room` (0 means 2048); null (with a
// report) when memory runs out. Release with buffer_free.
PacketBuffer* buffer_alloc(uint32_t room);
void pool_init(Pool* pool, uint32_t room);
// A fresh buffer, growing the pool by one block when its free list is empty;
// null when memory runs out.
PacketBuffer* pool_get(Pool* pool);
// Releases the decode tree, then returns a pooled buffer to the tail of its
// pool's free list or frees a single buffer. Null is ignored.
void buffer_free(PacketBuffer* buffer);
// Releases every block; all buffers must have been returned first.
void pool_destroy(Pool* pool);
PacketBuffer* buffer_clone(const PacketBuffer* buffer);
PacketBuffer* buffer_clone_prefix(const PacketBuffer* buffer, uint32_t n);
// A copy in a buffer of its own, never from the source's pool (so it outlives
// the source's interface), with room for at least `room` bytes. Null when
// memory runs out.
PacketBuffer* buffer_copy_detached(const PacketBuffer* buffer, uint32_t room = 0);

// Sets the buffer's receive time to the time now.
void buffer_stamp_now(PacketBuffer* buffer);

// Process-wide count of pool blocks ever allocated.
uint64_t pool_blocks_allocated();

// The decoder registers how a buffer's decode tree is released.
using DecodeRelease = void (*)(void* decode);
void set_decode_release(DecodeRelease fn);

}  // namespace zm

// The saved-packet registry: independent copies of packets kept by handle
// until deleted. Handles count up from 1 and are never reused.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/buffer.h"

namespace zm {

struct BufferDeleter {
    void operator()(PacketBuffer* b) const { buffer_free(b); }
};
using BufferPtr = std::unique_ptr<PacketBuffer, BufferDeleter>;

// A copy of `src` in a buffer of its own (not from any interface's pool), with
// its bytes, receive time, base node, direction and truncated length; at
// least `room` bytes of room. Null when memory runs out.
PacketBuffer* detached_copy(const PacketBuffer* src, uint32_t room = 0);

class SavedPackets {
public:
    SavedPackets();
    // Takes ownership of `buffer`, numbers it and returns its handle.
    uint32_t save(BufferPtr buffer);
    // Copies `src` and saves the copy; 0 when the copy fails.
    uint32_t save_copy(const PacketBuffer* src);
    PacketBuffer* find(uint32_t handle) const;
    // The handle in a script's text: decimal digits up to the first other
    // character; 0 (never a handle) when there are none.
    static uint32_t parse_handle(const char* text);
    PacketBuffer* find(const char* text) const { return find(parse_handle(text)); }
    bool remove(uint32_t handle);
    // Puts `buffer` in the place of the packet `handle` (which must exist),
    // keeping the handle; the old buffer is freed.
    void replace(uint32_t handle, BufferPtr buffer);
    std::vector<uint32_t> handles() const;

private:
    std::map<uint32_t, BufferPtr> packets_;
    uint32_t counter_ = 0;
};

// The process-wide registry.
SavedPackets& saved_packets();

}  // namespace zm

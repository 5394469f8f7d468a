// The saved-packet registry.
#include "render/saver.h"

#include <cstdint>
#include <cstring>

#include "decode/decode.h"

namespace zm {

PacketBuffer* detached_copy(const PacketBuffer* src, uint32_t room) { return buffer_copy_detached(src, room); }

// Saved packets may hold decode blocks, which go back to the decoder's pool
// when they are freed. Touching the pool first makes it outlive the registry
// at exit (statics are destroyed in the reverse order of their making).
SavedPackets::SavedPackets() { release_decode_block(acquire_decode_block()); }

uint32_t SavedPackets::save(BufferPtr buffer) {
    uint32_t handle = ++counter_;
    buffer->frame = handle;
    packets_[handle] = std::move(buffer);
    return handle;
}

uint32_t SavedPackets::save_copy(const PacketBuffer* src) {
    PacketBuffer* copy = detached_copy(src);
    return copy ? save(BufferPtr(copy)) : 0;
}

PacketBuffer* SavedPackets::find(uint32_t handle) const {
    auto it = packets_.find(handle);
    return it == packets_.end() ? nullptr : it->second.get();
}

uint32_t SavedPackets::parse_handle(const char* text) {
    uint64_t v = 0;
    for (const char* p = text; p && *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > UINT32_MAX) return 0;
    }
    return static_cast<uint32_t>(v);
}

bool SavedPackets::remove(uint32_t handle) { return packets_.erase(handle) > 0; }

void SavedPackets::replace(uint32_t handle, BufferPtr buffer) {
    buffer->frame = handle;
    packets_[handle] = std::move(buffer);
}

std::vector<uint32_t> SavedPackets::handles() const {
    std::vector<uint32_t> out;
    out.reserve(packets_.size());
    for (const auto& [handle, buffer] : packets_) out.push_back(handle);
    return out;
}

SavedPackets& saved_packets() {
    static SavedPackets registry;
    return registry;
}

}  // namespace zm

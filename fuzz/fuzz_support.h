// What the fuzz targets share: an in-memory file for the capture readers,
// reading a capture to its end, and a packet that ends where its allocation
// does.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "core/buffer.h"
#include "media/media.h"

namespace zm_fuzz {

// `bytes` become the contents of one in-memory file, reopened by path (the
// readers take paths). Empty on failure.
inline std::string memory_file(const uint8_t* bytes, size_t size) {
    static int fd = memfd_create("zemko_fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) return {};
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return {};
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

// Reads an opened capture to its end, touching each frame's last byte, then
// fetches frames around the edges of what was read. `count` gives the number
// of frames read so far. Every read consumes a record or ends input, so this
// ends with the file.
template <typename Reader, typename Count>
void read_to_end(Reader& reader, zm::Pool* pool, Count count) {
    for (;;) {
        zm::PacketBuffer* b = reader.read(pool);
        if (zm::is_end_of_input(b)) break;
        if (b && b->length() > 0) {
            volatile uint8_t last = b->data()[b->length() - 1];
            (void)last;
        }
        zm::buffer_free(b);
    }
    uint32_t n = count(reader);
    for (uint32_t f : {0u, 1u, n / 2, n, n + 1}) zm::buffer_free(reader.fetch(pool, f));
}

// A packet holding `data` that ends exactly where its allocation does, so
// that any read past it is caught.
inline zm::PacketBuffer* packet_at_allocation_end(const uint8_t* data, size_t size) {
    zm::PacketBuffer* b = zm::buffer_alloc(size ? static_cast<uint32_t>(size) : 1);
    uint32_t slack = b->tailroom() - static_cast<uint32_t>(size);
    b->head = static_cast<uint16_t>(b->head + slack);
    b->tail = static_cast<uint16_t>(b->head + size);
    if (size) std::memcpy(b->data(), data, size);
    return b;
}

}  // namespace zm_fuzz

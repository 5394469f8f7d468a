// Fuzzes the standard capture reader (pcap and pcapng through libpcap, the pcapng direction option): the input is the whole file, read to its end, with fetches and the probe.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/buffer.h"
#include "core/report.h"
#include "media/media.h"
#include "media/libpcap_format.h"

namespace {

// The input becomes the contents of one in-memory file, reopened by path.
std::string memory_file(const uint8_t* data, size_t size) {
    static int fd = memfd_create("libpcap_fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) return {};
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return {};
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zm::log_settings().level = 5;  // silent
    std::string path = memory_file(data, size);
    if (path.empty()) return 0;
    int link = 0;
    zm::libpcap_probe_file(path, &link);
    zm::Pool pool;
    zm::pool_init(&pool, size % 2 ? 1518 : 64);
    {
        zm::LibpcapReader reader;
        std::string why;
        if (reader.open(path, &why) == zm::LibpcapReader::Open::ok) {
            // Every call consumes a record or ends input, so this ends with the file.
            for (;;) {
                zm::PacketBuffer* b = reader.read(&pool);
                if (zm::is_end_of_input(b)) break;
                if (b && b->length() > 0) {
                    volatile uint8_t last = b->data()[b->length() - 1];
                    (void)last;
                }
                zm::buffer_free(b);
            }
            for (uint32_t f : {0u, 1u, reader.records_read() / 2, reader.records_read(), reader.records_read() + 1})
                zm::buffer_free(reader.fetch(&pool, f));
        }
    }
    zm::pool_destroy(&pool);
    return 0;
}

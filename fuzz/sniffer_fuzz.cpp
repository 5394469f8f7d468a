// Fuzzes the Sniffer capture reader: the input is the whole file, pre-scanned and read to its end, with fetches and the probe.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "media/media.h"
#include "media/sniffer.h"

namespace {

// The input, behind the magic so that the fuzzer spends its time on the
// records, becomes the contents of one in-memory file reopened by path. An
// input that starts with 'M' is taken as it is, magic included or not.
std::string memory_file(const uint8_t* data, size_t size) {
    static int fd = memfd_create("sniffer_fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) return {};
    std::vector<uint8_t> bytes;
    if (size > 0 && data[0] == 'M') {
        bytes.assign(data + 1, data + size);
    } else {
        bytes.assign(zm::kSnifferMagic, zm::kSnifferMagic + zm::kSnifferMagicSize);
        bytes.insert(bytes.end(), data, data + size);
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
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
    std::vector<std::string> candidates;
    zm::sniffer_probe_file(path, &candidates);
    zm::Pool pool;
    zm::pool_init(&pool, size % 2 ? 1518 : 64);
    {
        zm::SnifferReader reader;
        if (reader.open(path) == zm::SnifferOpenResult::ok) {
            // Every call consumes at least one record header or ends input.
            for (;;) {
                zm::PacketBuffer* b = reader.read(&pool);
                if (zm::is_end_of_input(b)) break;
                if (b && b->length() > 0) {
                    volatile uint8_t last = b->data()[b->length() - 1];
                    (void)last;
                }
                zm::buffer_free(b);
            }
            for (uint32_t f : {0u, 1u, reader.frames_read() / 2, reader.frames_read(), reader.frames_read() + 1})
                zm::buffer_free(reader.fetch(&pool, f));
        }
    }
    zm::pool_destroy(&pool);
    return 0;
}

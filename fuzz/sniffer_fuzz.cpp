// Fuzzes the Sniffer capture reader: the input is the whole file, pre-scanned and read to its end, with fetches and the probe.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "fuzz_support.h"
#include "media/media.h"
#include "media/sniffer.h"

namespace {

// The input, behind the magic so that the fuzzer spends its time on the
// records, becomes the contents of one in-memory file reopened by path. An
// input that starts with 'M' is taken as it is, magic included or not.
std::string memory_file(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes;
    if (size > 0 && data[0] == 'M') {
        bytes.assign(data + 1, data + size);
    } else {
        bytes.assign(zm::kSnifferMagic, zm::kSnifferMagic + zm::kSnifferMagicSize);
        bytes.insert(bytes.end(), data, data + size);
    }
    return zm_fuzz::memory_file(bytes.data(), bytes.size());
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
            zm_fuzz::read_to_end(reader, &pool, [](auto& r) { return r.frames_read(); });
        }
    }
    zm::pool_destroy(&pool);
    return 0;
}

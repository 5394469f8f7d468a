// Fuzzes the standard capture reader (pcap and pcapng through libpcap, the pcapng direction option): the input is the whole file, read to its end, with fetches and the probe.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/buffer.h"
#include "core/report.h"
#include "fuzz_support.h"
#include "media/media.h"
#include "media/libpcap_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zm::log_settings().level = 5;  // silent
    std::string path = zm_fuzz::memory_file(data, size);
    if (path.empty()) return 0;
    int link = 0;
    zm::libpcap_probe_file(path, &link);
    zm::Pool pool;
    zm::pool_init(&pool, size % 2 ? 1518 : 64);
    {
        zm::LibpcapReader reader;
        std::string why;
        if (reader.open(path, &why) == zm::LibpcapReader::Open::ok) {
            zm_fuzz::read_to_end(reader, &pool, [](auto& r) { return r.records_read(); });
        }
    }
    zm::pool_destroy(&pool);
    return 0;
}

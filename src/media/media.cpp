// The media-class registry: a process-wide list of operation tables, newest first.
#include "media/media.h"

#include <tcl.h>

#include <mutex>

#include "core/options.h"
#include "core/report.h"

namespace zm {
namespace {

// Classes in registration order; lookups walk it backwards, so the newest
// registration comes first. Records are never removed, so their addresses
// stay valid for the life of the process.
std::vector<std::unique_ptr<MediaClass>>& registry() {
    static std::vector<std::unique_ptr<MediaClass>> classes;
    return classes;
}

}  // namespace

MediaClass* register_media_class(const MediaClass& cls) {
    registry().push_back(std::make_unique<MediaClass>(cls));
    return registry().back().get();
}

MediaClass* find_media_class(const char* name) {
    if (!name) return nullptr;
    auto& classes = registry();
    for (auto it = classes.rbegin(); it != classes.rend(); ++it)
        if ((*it)->name == name) return it->get();
    return nullptr;
}

void for_each_media_class(void (*fn)(MediaClass* cls, void* a, void* b), void* a, void* b) {
    auto& classes = registry();
    for (auto it = classes.rbegin(); it != classes.rend(); ++it) fn(it->get(), a, b);
}

std::vector<MediaClass*> media_classes() {
    std::vector<MediaClass*> out;
    auto& classes = registry();
    for (auto it = classes.rbegin(); it != classes.rend(); ++it) out.push_back(it->get());
    return out;
}

void register_builtin_media() {
    static std::once_flag once;
    std::call_once(once, [] {
        register_sniffer_media();
        register_udp_media();  // the socket class, between the two file classes
        register_pcap_media();
        register_libpcap_media();  // standard capture files and live Ethernet, after the classes above
        register_ether_media();
    });
}

int media_flow_control(MediaPort& port, PacketBuffer* buffer) {
    if (!port.flow_control) return 1;
    return port.flow_control(port.netif, buffer);
}

std::optional<std::vector<const char*>> parse_media_options(Tcl_Interp* interp, const OptSpec* table, int argc,
                                                            const char** argv) {
    // The parser compacts the words it keeps to the front: it works on a copy
    // with room for the terminating null.
    std::vector<const char*> words(argv, argv + argc);
    words.push_back(nullptr);
    int count = argc;
    if (parse_options(interp, &count, words.data(), table, 0) != TCL_OK) return std::nullopt;
    words.resize(static_cast<size_t>(count));
    return words;
}

void warn_unused_open_words(Tcl_Interp* interp, const std::vector<const char*>& words) {
    constexpr size_t kNamed = 4;  // `netif`, the interface name, class and base node
    if (words.size() > kNamed)
        warn_ignored_words(interp, "netif", __LINE__, "netif", static_cast<int>(words.size() - kNamed),
                           words.data() + kNamed);
}

int bad_open_arguments(const MediaPort& port, const char* module, const char* what) {
    report(port.interp, module, __LINE__, LOG_FAULT, "Bogus arguments to %s open", what);
    return 1;
}

}  // namespace zm

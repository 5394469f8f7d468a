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

void register_libpcap_media();
void register_ether_media();

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

std::vector<const char*> media_copy_words(int argc, const char** argv) {
    std::vector<const char*> words(argv, argv + argc);
    words.push_back(nullptr);
    return words;
}

bool parse_capture_open(MediaPort& port, const char* module, const char* what, const char* title, int argc,
                        const char** argv, CaptureOpenArgs* out) {
    const char* file = nullptr;
    int save = 0;
    const OptSpec table[] = {
        {"-file", OPT_STRING, 0, &file, "Filename for media to open"},
        {"-save", OPT_CONSTANT, 1, &save, "Whether to save it or not"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    std::vector<const char*> words = media_copy_words(argc, argv);
    int count = argc;
    if (parse_options(port.interp, &count, words.data(), table, 0) != TCL_OK) {
        report(port.interp, module, __LINE__, LOG_FAULT, "Bogus arguments to %s open", what);
        return false;
    }
    if (!file) {
        report(port.interp, module, __LINE__, LOG_FAULT, "%s media requires a -file option", title);
        return false;
    }
    // Words 1 to 3 are the interface name, class and base node.
    warn_ignored_words(port.interp, "netif", __LINE__, "netif", count - 4, words.data() + 4);
    out->file = file;
    out->save = save != 0;
    return true;
}

}  // namespace zm

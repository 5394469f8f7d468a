// The udp media class. PLACEHOLDER: registered in its place so that `mediainfo`
// and `netif` see it, but not implemented yet; the udp implementer replaces
// the operations below (and only this file) with the socket class.
#include <cerrno>

#include "core/buffer.h"
#include "core/report.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/udp";

int udp_open(MediaPort& port, int, const char**) {
    report(port.interp, kModule, __LINE__, LOG_FAULT, "udp media is not yet available");
    return 1;
}

PacketBuffer* udp_read(MediaPort&) { return nullptr; }

int udp_write(MediaPort&, PacketBuffer* buffer) {
    buffer_free(buffer);
    errno = ENOSYS;
    return 1;
}

}  // namespace

void register_udp_media() {
    MediaClass cls;
    cls.name = "udp";
    cls.label = "UDP";
    cls.kind = "";
    cls.flag = 1;
    cls.open = udp_open;
    cls.read = udp_read;
    cls.write = udp_write;
    register_media_class(cls);
}

}  // namespace zm

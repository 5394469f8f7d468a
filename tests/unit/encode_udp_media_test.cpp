// The udp media class on a real loopback socket: the pseudo-header in front of what a foreign peer sends,
// and a read with nothing waiting. Opening, info, sends and end of input are the script tests'.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <numeric>
#include <vector>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/textconv.h"
#include "media/media.h"
#include "test_interp.h"

namespace zm {
namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t port_of(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// An interface's udp port with a pool of its own, closed with the test.
struct UdpPort {
    MediaPort port;
    Pool pool;
    MediaClass* cls = nullptr;
    UdpPort() {
        register_builtin_media();
        cls = find_media_class("udp");
        pool_init(&pool, 65535);
        port.interp = zm_test_interp();
        port.name = "u0";
        port.base_node = "ZEMKO_UDP_HDR";
        port.pool = &pool;
    }
    ~UdpPort() {
        if (port.state) cls->close(port);
        pool_destroy(&pool);
    }
};

TEST(UdpMedia, ReceivedDatagramCarriesThePseudoHeader) {
    UdpPort u;
    const char* words[] = {"netif", "u0", "udp", "ZEMKO_UDP_HDR", "-device", "lo", "-lport", "0", nullptr};
    ASSERT_EQ(u.cls->open(u.port, 8, words), 0);
    uint16_t lport = port_of(u.port.descriptor);
    EXPECT_EQ(u.cls->read(u.port), nullptr);  // nothing waiting: would block, not end of input

    // A plain socket stands for a peer that is not ours.
    int peer = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from = loopback(0);
    ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    std::vector<uint8_t> payload(100);
    std::iota(payload.begin(), payload.end(), uint8_t{0});
    sockaddr_in to = loopback(lport);
    EXPECT_EQ(::sendto(peer, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 100);
    uint16_t peer_port = port_of(peer);
    ::close(peer);

    pollfd p{u.port.descriptor, POLLIN, 0};
    ::poll(&p, 1, 2000);
    PacketBuffer* b = u.cls->read(u.port);
    ASSERT_TRUE(b && !is_end_of_input(b));
    ASSERT_EQ(b->length(), 112u);
    // Source address, this host's address, source port, local port, then the payload.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const uint8_t* d = b->data();
    EXPECT_EQ(get_net32(d), static_cast<uint32_t>(INADDR_LOOPBACK));
    EXPECT_EQ(get_net32(d + 4), ntohl(resolve_host(host)));
    EXPECT_EQ(get_net16(d + 8), peer_port);
    EXPECT_EQ(get_net16(d + 10), lport);
    EXPECT_EQ(std::vector<uint8_t>(d + 12, d + 112), payload);
    EXPECT_NE(b->sec, 0u);
    buffer_free(b);
}

}  // namespace
}  // namespace zm

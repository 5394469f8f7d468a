// The udp media class on a real loopback socket: the pseudo-header in front of what a foreign peer sends,
// a read with nothing waiting, end of input, info. Sends and their refusals are the script tests'.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/report.h"
#include "core/textconv.h"
#include "media/media.h"
#include "test_interp.h"

namespace zm {
namespace {

// A plain loopback socket standing for a peer that is not ours.
struct Peer {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    uint16_t port = 0;
    Peer() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Peer() { ::close(fd); }
    void send_to(uint16_t to, const std::vector<uint8_t>& bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(to);
        ASSERT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(bytes.size()));
    }
};

struct UdpPort {
    MediaPort port;
    Pool pool;
    MediaClass* cls = nullptr;
    explicit UdpPort(const char* base = "ZEMKO_UDP_HDR") {
        register_builtin_media();
        cls = find_media_class("udp");
        pool_init(&pool, 65535);
        port.interp = zm_test_interp();
        port.name = "u0";
        port.base_node = base;
        port.pool = &pool;
    }
    ~UdpPort() {
        if (port.state) cls->close(port);
        pool_destroy(&pool);
    }
    int open(std::vector<const char*> options) {
        std::vector<const char*> words{"netif", "u0", "udp", port.base_node};
        words.insert(words.end(), options.begin(), options.end());
        int argc = static_cast<int>(words.size());
        words.push_back(nullptr);
        return cls->open(port, argc, words.data());
    }
    // Waits for the socket, then reads one buffer.
    PacketBuffer* read() {
        pollfd p{port.descriptor, POLLIN, 0};
        ::poll(&p, 1, 2000);
        return cls->read(port);
    }
    std::string info() {
        Tcl_ResetResult(port.interp);
        cls->info(port, port.interp);
        return Tcl_GetStringResult(port.interp);
    }
};

TEST(UdpMedia, ReceivedDatagramCarriesThePseudoHeader) {
    UdpPort u;
    ASSERT_EQ(u.open({"-device", "lo", "-lport", "0"}), 0);
    EXPECT_STREQ(u.port.mode, "rw");
    EXPECT_TRUE(u.port.generic_events);
    std::string info = u.info();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(u.port.descriptor, reinterpret_cast<sockaddr*>(&a), &len), 0);
    uint16_t lport = ntohs(a.sin_port);
    EXPECT_NE(lport, 0);
    EXPECT_NE(info.find("if_local_port " + std::to_string(lport)), std::string::npos) << info;
    EXPECT_NE(info.find("if_address_family 2"), std::string::npos) << info;
    EXPECT_NE(info.find("if_mtu 65535"), std::string::npos) << info;

    EXPECT_EQ(u.cls->read(u.port), nullptr);  // nothing waiting: would block
    Peer peer;
    std::vector<uint8_t> payload(100);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    peer.send_to(lport, payload);
    PacketBuffer* b = u.read();
    ASSERT_NE(b, nullptr);
    ASSERT_FALSE(is_end_of_input(b));
    ASSERT_EQ(b->length(), 112u);
    const uint8_t* d = b->data();
    EXPECT_EQ(get_net32(d), static_cast<uint32_t>(INADDR_LOOPBACK));
    EXPECT_EQ(get_net32(d + 4), ntohl(resolve_host(info.substr(info.find("if_local_address ") + 17,
                                                                 info.find(" if_mtu") - info.find("if_local_address ") - 17)
                                                       .c_str())));
    EXPECT_EQ(get_net16(d + 8), peer.port);
    EXPECT_EQ(get_net16(d + 10), lport);
    EXPECT_EQ(std::vector<uint8_t>(d + 12, d + 112), payload);
    EXPECT_NE(b->sec, 0u);
    buffer_free(b);

    peer.send_to(lport, {});  // a zero-length datagram ends the input
    EXPECT_TRUE(is_end_of_input(u.read()));
}

}  // namespace
}  // namespace zm

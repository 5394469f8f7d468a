// The TFTP transfer engine driven by a scripted host: block flow, TIDs, retries, netascii, failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mgmt/tftp.h"

namespace zm {
namespace {

const TftpEndpoint kServer{0x7f000001, 69};
const TftpEndpoint kTid{0x7f000001, 40000};

struct Sent {
    TftpEndpoint to;
    std::vector<uint8_t> bytes;
};

class ScriptedHost : public TftpHost {
public:
    bool send_to(const TftpEndpoint& to, const std::vector<uint8_t>& packet) override {
        sent.push_back({to, packet});
        return !fail_send;
    }
    long read_local(uint8_t* buf, size_t n) override {
        if (fail_read) return -1;
        size_t k = std::min(n, input.size() - read_pos);
        std::copy_n(input.begin() + long(read_pos), k, buf);
        read_pos += k;
        return long(k);
    }
    bool write_local(const uint8_t* data, size_t n) override {
        if (fail_write) return false;
        output.append(reinterpret_cast<const char*>(data), n);
        return true;
    }
    void arm_timer() override { ++arms; }

    std::vector<Sent> sent;
    std::string input, output;
    size_t read_pos = 0;
    int arms = 0;
    bool fail_send = false, fail_read = false, fail_write = false;
};

std::vector<uint8_t> data_packet(uint16_t block, const std::string& payload) {
    return build_tftp_data(block, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

void deliver(TftpTransfer& t, const TftpEndpoint& from, const std::vector<uint8_t>& p) {
    t.on_datagram(from, p.data(), p.size());
}

// A transfer of "f" with its request already sent.
struct Started : TftpTransfer {
    Started(TftpDirection dir, bool octet, ScriptedHost& host) : TftpTransfer(dir, octet, kServer, host) {
        EXPECT_TRUE(prepare("f"));
        start();
    }
};

// Opcode and number of a sent packet, e.g. {4, 2} for ACK 2.
std::pair<int, int> head(const Sent& s) {
    return {(s.bytes[0] << 8) | s.bytes[1], (s.bytes[2] << 8) | s.bytes[3]};
}

TEST(TftpTransfer, ServerErrorTextIsBoundedAndEndsTheTransfer) {
    ScriptedHost host;
    Started t(TftpDirection::put, true, host);
    std::vector<uint8_t> err = {0, 5, 0, 2};
    err.insert(err.end(), 2000, 'e');  // no terminating zero
    deliver(t, {0x7f000001, 40000}, err);
    ASSERT_TRUE(t.finished());
    EXPECT_TRUE(t.failed());
    EXPECT_EQ(t.error(), std::string(516, 'e'));
    EXPECT_EQ(host.sent.size(), 1u);  // nothing answered to an ERROR

    // An ERROR without text still says something: its code.
    Started quiet(TftpDirection::get, true, host);
    deliver(quiet, {0x7f000001, 40000}, {0, 5, 0, 2, 0});
    EXPECT_TRUE(quiet.failed());
    EXPECT_EQ(quiet.error(), "Tftp: server error code 2");
}

TEST(TftpTransfer, LocalAndSocketFailures) {
    // Each case: the direction, the failure set up after start, what happens next, the error.
    struct Case {
        TftpDirection dir;
        bool ScriptedHost::*fail;
        bool by_timer;
        std::vector<uint8_t> reply;
        const char* error;
    };
    const Case cases[] = {
        {TftpDirection::get, &ScriptedHost::fail_write, false, data_packet(1, "abc"), "Error in Tcl_Write"},
        {TftpDirection::put, &ScriptedHost::fail_read, false, build_tftp_ack(0), "Error in Tcl_Read"},
        {TftpDirection::get, &ScriptedHost::fail_send, true, {}, "Tftp: Error in sendto"},
        {TftpDirection::get, &ScriptedHost::fail_send, false, data_packet(1, std::string(512, 'a')),
         "System error in sendto"},
    };
    for (const Case& c : cases) {
        ScriptedHost host;
        Started t(c.dir, true, host);
        host.*c.fail = true;
        if (c.by_timer)
            t.on_timer();
        else
            deliver(t, kTid, c.reply);
        EXPECT_EQ(t.error(), c.error);
        if (c.fail == &ScriptedHost::fail_write) {
            EXPECT_EQ(head(host.sent.back()), std::make_pair(5, 0));  // the server is told
        }
        t.on_receive_error();  // already over: keeps the first error
        EXPECT_EQ(t.error(), c.error);
    }
}

TEST(TftpTransfer, NetasciiGetDecodesLineEndsAcrossBlocks) {
    ScriptedHost host;
    Started t(TftpDirection::get, false, host);
    EXPECT_EQ(std::string(host.sent[0].bytes.end() - 9, host.sent[0].bytes.end() - 1), "netascii");
    std::string b1 = std::string(511, 'a') + "\r";  // CR LF split over two blocks
    std::string b2 = "\nx\r" + std::string(1, '\0') + "y\r\rz" + std::string(504, 'b');
    deliver(t, kTid, data_packet(1, b1));
    deliver(t, kTid, data_packet(2, b2));
    deliver(t, kTid, data_packet(3, "end\r"));  // a lone CR at the very end is kept
    ASSERT_TRUE(t.finished());
    EXPECT_FALSE(t.failed());
    EXPECT_EQ(t.byte_count(), 512u + 512u + 4u);
    EXPECT_EQ(host.output, std::string(511, 'a') + "\nx\ry\r\rz" + std::string(504, 'b') + "end\r");
}

TEST(TftpTransfer, NetasciiPutExpandsLineEndsIntoFullBlocks) {
    ScriptedHost host;
    host.input = std::string(512, '\n') + "a\rb";
    Started t(TftpDirection::put, false, host);
    std::string wire;
    for (uint16_t ack = 0; !t.finished() && ack < 10; ++ack) {
        deliver(t, kTid, build_tftp_ack(ack));
        if (!t.finished()) wire.append(host.sent.back().bytes.begin() + 4, host.sent.back().bytes.end());
    }
    ASSERT_TRUE(t.finished());
    EXPECT_FALSE(t.failed());
    std::string expected;
    for (int i = 0; i < 512; ++i) expected += "\r\n";
    expected += std::string("a\r") + '\0' + "b";
    EXPECT_EQ(wire, expected);
    EXPECT_EQ(t.byte_count(), expected.size());
    EXPECT_EQ(host.sent.size(), 1u + 3u);  // request, 512, 512, 5 bytes
}

// Exactly at the limit; a transfer refused unsent is checked by the script tests.
TEST(TftpPackets, RequestAndErrorFitOnePacket) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(build_tftp_request(TFTP_RRQ, std::string(507, 'n'), "octet", &out));
    EXPECT_EQ(out.size(), kTftpPacketMax);
    EXPECT_FALSE(build_tftp_request(TFTP_RRQ, std::string(508, 'n'), "octet", &out));
    EXPECT_FALSE(build_tftp_request(TFTP_WRQ, std::string(505, 'n'), "netascii", &out));
    EXPECT_EQ(build_tftp_error(0, std::string(900, 'm')).size(), kTftpPacketMax);
}

}  // namespace
}  // namespace zm

// TFTP client transfer engine (RFC 1350): packet building and parsing and the lock-step state machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zm {

inline constexpr size_t kTftpPacketMax = 516;  // 4-byte header + 512 data bytes
inline constexpr size_t kTftpBlockSize = 512;
inline constexpr int kTftpMaxRetries = 6;

enum TftpOpcode : uint16_t { TFTP_RRQ = 1, TFTP_WRQ = 2, TFTP_DATA = 3, TFTP_ACK = 4, TFTP_ERROR = 5 };

enum class TftpDirection { get = 1, put = 2 };

// An IPv4 address and UDP port, both in host byte order.
struct TftpEndpoint {
    uint32_t addr = 0;
    uint16_t port = 0;
    bool operator==(const TftpEndpoint&) const = default;
};

// A datagram taken apart. `data` points into the datagram it was parsed from.
struct TftpPacket {
    uint16_t opcode = 0;
    uint16_t number = 0;  // block number (DATA, ACK) or error code (ERROR)
    const uint8_t* data = nullptr;
    size_t data_len = 0;
    std::string text;  // ERROR message, up to its zero byte or the datagram's end
};

// Parses a datagram of any length. Returns nothing when it is too short to
// hold an opcode and a number, or a DATA packet carries more than 512 bytes.
std::optional<TftpPacket> parse_tftp_packet(const uint8_t* bytes, size_t len);

// Builds a read or write request; false when name and mode do not fit one packet.
bool build_tftp_request(TftpOpcode op, std::string_view name, std::string_view mode,
                        std::vector<uint8_t>* out);
std::vector<uint8_t> build_tftp_ack(uint16_t block);
std::vector<uint8_t> build_tftp_data(uint16_t block, const uint8_t* data, size_t len);
// The message is cut to 511 characters so the packet fits 516 bytes.
std::vector<uint8_t> build_tftp_error(uint16_t code, std::string_view message);

// What a transfer needs from its host: the socket, the local file and the timer.
class TftpHost {
public:
    virtual ~TftpHost() = default;
    virtual bool send_to(const TftpEndpoint& to, const std::vector<uint8_t>& packet) = 0;
    // Reads up to n bytes of the local file; returns the count (0 at its end) or -1.
    virtual long read_local(uint8_t* buf, size_t n) = 0;
    virtual bool write_local(const uint8_t* data, size_t n) = 0;
    // (Re)starts the retransmission timer.
    virtual void arm_timer() = 0;
};

// One transfer. The host feeds it datagrams and timer expiries; the transfer
// answers through the host and ends (finished()) with success or an error
// text. Netascii transfers convert line ends between the local form (LF) and
// the wire form (CR LF, and CR NUL for a bare CR).
class TftpTransfer {
public:
    TftpTransfer(TftpDirection dir, bool octet, TftpEndpoint server, TftpHost& host);

    // Builds the request; false (with the error text set and the transfer
    // ended) when the remote name and mode do not fit one packet. Nothing is sent.
    bool prepare(std::string_view remote_name);
    // Sends the request. The host arms the timer itself.
    void start();

    void on_datagram(const TftpEndpoint& from, const uint8_t* bytes, size_t len);
    // Receiving failed at the socket.
    void on_receive_error();
    void on_timer();

    bool finished() const { return finished_; }
    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }
    uint64_t byte_count() const { return bytes_; }
    const TftpEndpoint& server() const { return server_; }

    // Ends the transfer with a local error: tells the server (ERROR code
    // `code`) and records the message.
    void abort(uint16_t code, std::string_view message) { abort_to(server_, code, message); }

private:
    void abort_to(const TftpEndpoint& to, uint16_t code, std::string_view message);
    void handle_data(const TftpPacket& p);
    void handle_ack(const TftpPacket& p);
    long next_block(uint8_t* buf);
    bool write_data(const uint8_t* data, size_t n);
    void finish_ok();

    TftpDirection dir_;
    bool octet_;
    TftpEndpoint server_;
    TftpHost& host_;
    std::vector<uint8_t> last_;
    uint16_t block_ = 0;
    bool port_fixed_ = false;
    bool last_short_ = false;
    int retries_ = 0;
    uint64_t bytes_ = 0;
    bool finished_ = false;
    bool failed_ = false;
    std::string error_;
    // Netascii state: GET holds a CR whose partner has not arrived yet; PUT
    // holds wire bytes that did not fit the previous block.
    bool pending_cr_ = false;
    std::vector<uint8_t> overflow_;
    bool local_eof_ = false;
};

}  // namespace zm

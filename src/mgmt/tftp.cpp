// TFTP client transfer engine (RFC 1350): packet building and parsing and the lock-step state machine.
#include "mgmt/tftp.h"

#include <algorithm>

namespace zm {
namespace {

constexpr size_t kErrorTextMax = 516;
constexpr size_t kErrorSendMax = 511;

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

uint16_t get16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

}  // namespace

std::optional<TftpPacket> parse_tftp_packet(const uint8_t* bytes, size_t len) {
    if (!bytes || len < 4) return std::nullopt;
    TftpPacket p;
    p.opcode = get16(bytes);
    p.number = get16(bytes + 2);
    p.data = bytes + 4;
    p.data_len = len - 4;
    if (p.opcode == TFTP_DATA && p.data_len > kTftpBlockSize) return std::nullopt;
    if (p.opcode == TFTP_ERROR) {
        const uint8_t* end = std::find(p.data, p.data + p.data_len, uint8_t(0));
        size_t n = std::min<size_t>(size_t(end - p.data), kErrorTextMax);
        p.text.assign(reinterpret_cast<const char*>(p.data), n);
    }
    return p;
}

bool build_tftp_request(TftpOpcode op, std::string_view name, std::string_view mode,
                        std::vector<uint8_t>* out) {
    if (2 + name.size() + 1 + mode.size() + 1 > kTftpPacketMax) return false;
    out->clear();
    put16(*out, op);
    out->insert(out->end(), name.begin(), name.end());
    out->push_back(0);
    out->insert(out->end(), mode.begin(), mode.end());
    out->push_back(0);
    return true;
}

std::vector<uint8_t> build_tftp_ack(uint16_t block) {
    std::vector<uint8_t> out;
    put16(out, TFTP_ACK);
    put16(out, block);
    return out;
}

std::vector<uint8_t> build_tftp_data(uint16_t block, const uint8_t* data, size_t len) {
    len = std::min(len, kTftpBlockSize);
    std::vector<uint8_t> out;
    out.reserve(4 + len);
    put16(out, TFTP_DATA);
    put16(out, block);
    out.insert(out.end(), data, data + len);
    return out;
}

std::vector<uint8_t> build_tftp_error(uint16_t code, std::string_view message) {
    message = message.substr(0, kErrorSendMax);
    std::vector<uint8_t> out;
    out.reserve(4 + message.size() + 1);
    put16(out, TFTP_ERROR);
    put16(out, code);
    out.insert(out.end(), message.begin(), message.end());
    out.push_back(0);
    return out;
}

TftpTransfer::TftpTransfer(TftpDirection dir, bool octet, TftpEndpoint server, TftpHost& host)
    : dir_(dir), octet_(octet), server_(server), host_(host) {
    block_ = dir == TftpDirection::get ? 1 : 0;
}

bool TftpTransfer::prepare(std::string_view remote_name) {
    TftpOpcode op = dir_ == TftpDirection::get ? TFTP_RRQ : TFTP_WRQ;
    if (!build_tftp_request(op, remote_name, octet_ ? "octet" : "netascii", &last_)) {
        error_ = "Tftp: remote file name too long for a request packet";
        failed_ = finished_ = true;
        return false;
    }
    return true;
}

void TftpTransfer::start() {
    host_.arm_timer();
    if (!host_.send_to(server_, last_)) abort(0, "System error in sendto");
}

void TftpTransfer::abort_to(const TftpEndpoint& to, uint16_t code, std::string_view message) {
    if (finished_) return;
    host_.send_to(to, build_tftp_error(code, message));
    error_ = message;
    failed_ = finished_ = true;
}

void TftpTransfer::finish_ok() {
    // A CR that ended the last block of a netascii GET had no partner.
    if (pending_cr_) {
        pending_cr_ = false;
        const uint8_t cr = '\r';
        if (!host_.write_local(&cr, 1)) {
            abort(0, "Error in Tcl_Write");
            return;
        }
    }
    finished_ = true;
}

void TftpTransfer::on_receive_error() {
    if (!finished_) abort(0, "System Error in recvfrom");
}

void TftpTransfer::on_timer() {
    if (finished_) return;
    if (retries_ >= kTftpMaxRetries) {
        abort(0, "Tftp: Timeout");
        return;
    }
    ++retries_;
    host_.arm_timer();
    if (!host_.send_to(server_, last_)) abort(0, "Tftp: Error in sendto");
}

void TftpTransfer::on_datagram(const TftpEndpoint& from, const uint8_t* bytes, size_t len) {
    if (finished_) return;
    if (from.addr != server_.addr || (port_fixed_ && from.port != server_.port)) {
        host_.send_to(from, build_tftp_error(5, "Unknown transfer ID."));
        return;
    }
    std::optional<TftpPacket> p = parse_tftp_packet(bytes, len);
    if (p && p->opcode == TFTP_ERROR) {
        // A server that gives no text still gives a code: never fail with an empty message.
        error_ = p->text.empty() ? "Tftp: server error code " + std::to_string(p->number) : p->text;
        failed_ = finished_ = true;
        return;
    }
    uint16_t wanted = dir_ == TftpDirection::get ? TFTP_DATA : TFTP_ACK;
    if (!p || p->opcode != wanted) {
        // Told to the port it came from: before the first accepted reply
        // that is the server's transfer port, not its request port.
        abort_to(from, 4, "Illegal TFTP operation.");
        return;
    }
    if (p->number != block_) return;
    if (!port_fixed_) {
        server_.port = from.port;
        port_fixed_ = true;
        bytes_ = 0;
    }
    if (dir_ == TftpDirection::get)
        handle_data(*p);
    else
        handle_ack(*p);
}

bool TftpTransfer::write_data(const uint8_t* data, size_t n) {
    if (octet_) return n == 0 || host_.write_local(data, n);
    // Netascii to local text: CR LF is a line end, CR NUL a bare CR.
    std::vector<uint8_t> out;
    out.reserve(n + 1);
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        if (pending_cr_) {
            pending_cr_ = false;
            if (b == '\n') {
                out.push_back('\n');
                continue;
            }
            out.push_back('\r');
            if (b == '\0') continue;
        }
        if (b == '\r')
            pending_cr_ = true;
        else
            out.push_back(b);
    }
    return out.empty() || host_.write_local(out.data(), out.size());
}

void TftpTransfer::handle_data(const TftpPacket& p) {
    if (!write_data(p.data, p.data_len)) {
        abort(0, "Error in Tcl_Write");
        return;
    }
    last_ = build_tftp_ack(block_);
    ++block_;
    bytes_ += p.data_len;
    if (!host_.send_to(server_, last_)) {
        abort(0, "System error in sendto");
        return;
    }
    if (p.data_len < kTftpBlockSize) {
        finish_ok();
        return;
    }
    retries_ = 0;
    host_.arm_timer();
}

long TftpTransfer::next_block(uint8_t* buf) {
    size_t filled = 0;
    if (octet_) {
        while (filled < kTftpBlockSize && !local_eof_) {
            long n = host_.read_local(buf + filled, kTftpBlockSize - filled);
            if (n < 0) return -1;
            if (n == 0) local_eof_ = true;
            filled += size_t(n);
        }
        return long(filled);
    }
    // Local text to netascii: LF goes out as CR LF, a bare CR as CR NUL. The
    // expansion may overrun a block; the rest waits in overflow_.
    uint8_t chunk[kTftpBlockSize];
    while (overflow_.size() < kTftpBlockSize && !local_eof_) {
        long n = host_.read_local(chunk, sizeof chunk);
        if (n < 0) return -1;
        if (n == 0) local_eof_ = true;
        for (long i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                overflow_.push_back('\r');
                overflow_.push_back('\n');
            } else if (chunk[i] == '\r') {
                overflow_.push_back('\r');
                overflow_.push_back('\0');
            } else {
                overflow_.push_back(chunk[i]);
            }
        }
    }
    filled = std::min(overflow_.size(), kTftpBlockSize);
    std::copy_n(overflow_.begin(), filled, buf);
    overflow_.erase(overflow_.begin(), overflow_.begin() + long(filled));
    return long(filled);
}

void TftpTransfer::handle_ack(const TftpPacket&) {
    if (last_short_) {
        finished_ = true;
        return;
    }
    ++block_;
    uint8_t buf[kTftpBlockSize];
    long n = next_block(buf);
    if (n < 0) {
        abort(0, "Error in Tcl_Read");
        return;
    }
    last_ = build_tftp_data(block_, buf, size_t(n));
    last_short_ = size_t(n) < kTftpBlockSize;
    bytes_ += uint64_t(n);
    if (!host_.send_to(server_, last_)) {
        abort(0, "System error in sendto");
        return;
    }
    retries_ = 0;
    host_.arm_timer();
}

}  // namespace zm

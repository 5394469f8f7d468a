// Helpers shared by the decoder's, filter's and database's tests: descriptions compiled from PDL text,
// exact-size packets, a compact tree text.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/buffer.h"
#include "core/report.h"
#include "decode/decode.h"
#include "pdl/library_load.h"
#include "pdl/pdl_parse.h"
#include "pdl/preprocess.h"
#include "pdl/protodb.h"
#include "support.h"

namespace zm_test {

using namespace zm;

// A private database compiled from PDL text; what the parser prints is collected.
struct PdlDb {
    ProtoDb db;
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    explicit PdlDb(std::string_view text = {}) {
        db.set_output(out);
        db.set_current_file("t.pdl");
        if (!text.empty()) {
            EXPECT_EQ(parse(text), PdlResult::ok) << text;
        }
    }
    ~PdlDb() {
        std::fclose(out);
        std::free(buf);
    }
    PdlResult parse(std::string_view text) { return parse_pdl_text(db, text.data(), text.size()); }
    std::string output() {
        std::fflush(out);
        return std::string(buf, len);
    }
    Node* node(const char* name) { return db.find_node(name); }
    Field* field(const char* name) { return db.find_field(nullptr, name); }
};

// A buffer holding `bytes`, sized exactly (no slack behind the data).
struct Packet {
    PacketBuffer* buf;
    explicit Packet(const std::vector<uint8_t>& bytes) {
        buf = buffer_alloc(bytes.empty() ? 1 : static_cast<uint32_t>(bytes.size()));
        if (!bytes.empty()) std::memcpy(buf->data(), bytes.data(), bytes.size());
        buf->tail = static_cast<uint16_t>(buf->head + bytes.size());
        // Move the data to the very end of the record so a read past it is caught.
        uint32_t slack = buf->tailroom();
        std::memmove(buf->data() + slack, buf->data(), bytes.size());
        buf->head = static_cast<uint16_t>(buf->head + slack);
        buf->tail = static_cast<uint16_t>(buf->tail + slack);
    }
    ~Packet() { buffer_free(buf); }
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
};

// Sets the report level for the lifetime of the object, then restores it.
struct LogLevel {
    int saved = log_settings().level;
    explicit LogLevel(int level) { log_settings().level = level; }
    ~LogLevel() { log_settings().level = saved; }
};

// Frames of the shipped library's protocols with their length fields filled in.
inline std::vector<uint8_t> enet_frame(uint16_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01,
                              static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type)};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

// From 10.0.0.1 to 10.0.0.2, "don't fragment".
inline std::vector<uint8_t> ipv4_packet(uint8_t proto, const std::vector<uint8_t>& payload, uint8_t ttl = 64) {
    size_t len = 20 + payload.size();
    std::vector<uint8_t> p = {0x45, 0x00, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len),
                              0x12, 0x34, 0x40, 0x00, ttl, proto, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2};
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

inline std::vector<uint8_t> udp_datagram(uint16_t sport, uint16_t dport, const std::vector<uint8_t>& payload = {}) {
    size_t len = 8 + payload.size();
    std::vector<uint8_t> u = {static_cast<uint8_t>(sport >> 8), static_cast<uint8_t>(sport),
                              static_cast<uint8_t>(dport >> 8), static_cast<uint8_t>(dport),
                              static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len), 0, 0};
    u.insert(u.end(), payload.begin(), payload.end());
    return u;
}

// One token per element: N:name@off, /N, A:name@off, /A, F:name@off/width=value, D:name@off/width;
// "[k]" follows the token of an element inside array element k. `nesting`: the node, array and
// data tokens only.
inline std::string tree(const PacketBuffer* b, bool nesting = false) {
    const DecodeBlock* t = decode_tree(b);
    if (!t) return "<none>";
    std::string s;
    for (const DecodeElement& e : *t) {
        if (nesting && (e.type == DECODE_HDR || e.type == DECODE_FLD)) continue;
        if (!s.empty()) s += ' ';
        bool field = e.type == DECODE_FLD || e.type == DECODE_DATA;
        std::string at = (!e.object ? "" : field ? e.field()->name_ : e.node()->name_) + "@" + std::to_string(e.offset);
        switch (e.type) {
        case DECODE_HDR: s += "HDR"; break;
        case DECODE_NODE: s += "N:" + at; break;
        case DECODE_NODE_END: s += "/N:" + at; break;
        case DECODE_ARRAY: s += "A:" + at; break;
        case DECODE_ARRAY_END: s += "/A:" + at; break;
        case DECODE_FLD: s += "F:" + at + "/" + std::to_string(e.width) + "=" + std::to_string(e.value); break;
        case DECODE_DATA: s += "D:" + at + "/" + std::to_string(e.width); break;
        default: s += "?"; break;
        }
        if ((e.type == DECODE_NODE || e.type == DECODE_FLD) && e.index) s += "[" + std::to_string(e.index) + "]";
    }
    return s;
}

}  // namespace zm_test

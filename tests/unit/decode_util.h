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
    PdlDb(const PdlDb&) = delete;
    PdlDb& operator=(const PdlDb&) = delete;
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

inline std::string name_of(const DecodeElement& e) {
    if (!e.object) return "";
    if (e.type == DECODE_FLD || e.type == DECODE_DATA) return e.field()->name_;
    return e.node()->name_;
}

// One token per element: N:name@off, /N, A:name@off, /A, F:name@off/width=value, D:name@off/width;
// "[k]" follows the token of an element inside array element k.
inline std::string tree(const PacketBuffer* b) {
    const DecodeBlock* t = decode_tree(b);
    if (!t) return "<none>";
    std::string s;
    for (const DecodeElement& e : *t) {
        if (!s.empty()) s += ' ';
        std::string at = name_of(e) + "@" + std::to_string(e.offset);
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

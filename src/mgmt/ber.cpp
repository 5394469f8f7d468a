// BER encoding and decoding for SNMP version 1 messages.
#include "mgmt/ber.h"

namespace zm {

namespace {

constexpr uint64_t kSubIdMax = 0xFFFFFFFFull;
constexpr size_t kMaxLengthBytes = 4;

// Appends one sub-identifier in base 128, most significant group first.
void put_subid(std::vector<uint8_t>& out, uint64_t v) {
    uint8_t groups[10];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v && n < 10);
    while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

// Splits dotted text into numbers; false on any malformed component.
bool split_oid(std::string_view text, std::vector<uint64_t>* parts) {
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    if (text.empty()) return false;
    size_t pos = 0;
    while (true) {
        size_t dot = text.find('.', pos);
        std::string_view part = text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        if (part.empty() || part.size() > 10) return false;
        uint64_t v = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (v > kSubIdMax) return false;
        parts->push_back(v);
        if (dot == std::string_view::npos) return true;
        pos = dot + 1;
    }
}

bool read_int_value(ByteReader& r, int32_t* out) {
    BerTlv t;
    return ber_read_tlv(r, &t) && t.tag == BER_INTEGER && ber_int32(t.contents, out);
}

}  // namespace

void ber_put_header(std::vector<uint8_t>& out, uint8_t tag, size_t length) {
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t bytes[sizeof(size_t)];
    int n = 0;
    for (size_t v = length; v; v >>= 8) bytes[n++] = static_cast<uint8_t>(v & 0xFF);
    out.push_back(static_cast<uint8_t>(0x80 | n));
    while (n > 0) out.push_back(bytes[--n]);
}

void ber_put_tlv(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* contents, size_t length) {
    ber_put_header(out, tag, length);
    out.insert(out.end(), contents, contents + length);
}

std::vector<uint8_t> ber_int_contents(int64_t value) {
    std::vector<uint8_t> out;
    int n = 8;
    // Drop leading bytes that only repeat the sign of the next one.
    while (n > 1) {
        uint8_t top = static_cast<uint8_t>(static_cast<uint64_t>(value) >> ((n - 1) * 8));
        uint8_t next = static_cast<uint8_t>(static_cast<uint64_t>(value) >> ((n - 2) * 8));
        if ((top == 0x00 && !(next & 0x80)) || (top == 0xFF && (next & 0x80)))
            --n;
        else
            break;
    }
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (i * 8)));
    return out;
}

std::vector<uint8_t> ber_uint_contents(uint32_t value) { return ber_int_contents(static_cast<int64_t>(value)); }

std::optional<std::vector<uint8_t>> oid_encode(std::string_view dotted) {
    std::vector<uint64_t> parts;
    if (!split_oid(dotted, &parts) || parts.size() < 2) return std::nullopt;
    if (parts[0] > 2 || (parts[0] < 2 && parts[1] > 39)) return std::nullopt;
    std::vector<uint8_t> out;
    put_subid(out, parts[0] * 40 + parts[1]);
    for (size_t i = 2; i < parts.size(); ++i) put_subid(out, parts[i]);
    return out;
}

std::optional<std::string> oid_decode(const uint8_t* contents, size_t length) {
    if (length == 0) return std::nullopt;
    std::string text;
    uint64_t v = 0;
    bool first = true;
    bool in_subid = false;
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = contents[i];
        if (!in_subid && b == 0x80) return std::nullopt;
        v = (v << 7) | (b & 0x7F);
        // The first sub-identifier holds two components and may reach 2*40 + 2^32-1.
        if (v > kSubIdMax + (first ? 80 : 0)) return std::nullopt;
        if (b & 0x80) {
            in_subid = true;
            continue;
        }
        in_subid = false;
        if (first) {
            uint64_t a = v < 40 ? 0 : v < 80 ? 1 : 2;
            uint64_t rest = v - a * 40;
            if (rest > kSubIdMax) return std::nullopt;
            text = std::to_string(a) + "." + std::to_string(rest);
            first = false;
        } else {
            text += "." + std::to_string(v);
        }
        v = 0;
    }
    if (in_subid) return std::nullopt;
    return text;
}

int oid_compare(std::string_view a, std::string_view b) {
    std::vector<uint64_t> pa, pb;
    if (!split_oid(a, &pa) || !split_oid(b, &pb)) return 0;
    for (size_t i = 0; i < pa.size() && i < pb.size(); ++i)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return pa.size() == pb.size() ? 0 : pa.size() < pb.size() ? -1 : 1;
}

bool oid_in_subtree(std::string_view oid, std::string_view root) {
    std::vector<uint64_t> po, pr;
    if (!split_oid(oid, &po) || !split_oid(root, &pr) || po.size() < pr.size()) return false;
    for (size_t i = 0; i < pr.size(); ++i)
        if (po[i] != pr[i]) return false;
    return true;
}

bool ber_read_tlv(ByteReader& r, BerTlv* out) {
    uint8_t tag = r.u8();
    if (r.truncated() || (tag & 0x1F) == 0x1F) return false;
    uint8_t first = r.u8();
    if (r.truncated()) return false;
    size_t length = first;
    if (first & 0x80) {
        size_t n = first & 0x7F;
        // 0x80 is the indefinite form, 0xFF is reserved.
        if (n == 0 || n > kMaxLengthBytes) return false;
        length = static_cast<size_t>(r.uint_n(n));
        if (r.truncated()) return false;
    }
    if (length > r.remaining()) return false;
    out->tag = tag;
    out->contents = r.sub(length);
    return !out->contents.truncated();
}

bool ber_int32(const ByteReader& contents, int32_t* value) {
    size_t n = contents.size();
    if (n == 0 || n > 4) return false;
    const uint8_t* p = contents.data();
    uint32_t v = (p[0] & 0x80) ? 0xFFFFFFFFu : 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    *value = static_cast<int32_t>(v);
    return true;
}

std::optional<SnmpMessage> parse_snmp_message(const uint8_t* bytes, size_t length, size_t* consumed) {
    ByteReader whole(bytes, length);
    BerTlv outer;
    if (!ber_read_tlv(whole, &outer) || outer.tag != BER_SEQUENCE) return std::nullopt;
    if (consumed) *consumed = whole.offset();
    ByteReader& r = outer.contents;
    SnmpMessage m;
    BerTlv community, pdu;
    if (!read_int_value(r, &m.version)) return std::nullopt;
    if (!ber_read_tlv(r, &community) || community.tag != BER_OCTET_STRING) return std::nullopt;
    m.community = community.contents.string(community.contents.size());
    if (!ber_read_tlv(r, &pdu) || pdu.tag < BER_GET_REQUEST || pdu.tag > BER_SET_REQUEST || !r.at_end())
        return std::nullopt;
    m.pdu_type = pdu.tag;
    ByteReader& p = pdu.contents;
    BerTlv list;
    if (!read_int_value(p, &m.request_id) || !read_int_value(p, &m.error_status) ||
        !read_int_value(p, &m.error_index) || !ber_read_tlv(p, &list) || list.tag != BER_SEQUENCE || !p.at_end())
        return std::nullopt;
    while (!list.contents.at_end()) {
        BerTlv vb, name, value;
        if (!ber_read_tlv(list.contents, &vb) || vb.tag != BER_SEQUENCE) return std::nullopt;
        if (!ber_read_tlv(vb.contents, &name) || name.tag != BER_OID) return std::nullopt;
        if (!ber_read_tlv(vb.contents, &value) || !vb.contents.at_end()) return std::nullopt;
        auto oid = oid_decode(name.contents.data(), name.contents.size());
        if (!oid) return std::nullopt;
        BerBinding b;
        b.oid = std::move(*oid);
        b.tag = value.tag;
        b.value.assign(value.contents.data(), value.contents.data() + value.contents.size());
        m.bindings.push_back(std::move(b));
    }
    return m;
}

std::vector<uint8_t> build_snmp_message(const std::vector<uint8_t>& community_tlv, uint8_t pdu_type,
                                        int32_t request_id, const std::vector<BindingOut>& bindings) {
    std::vector<uint8_t> list;
    for (const BindingOut& b : bindings) {
        std::vector<uint8_t> vb;
        ber_put_tlv(vb, BER_OID, b.oid);
        vb.insert(vb.end(), b.value.begin(), b.value.end());
        ber_put_tlv(list, BER_SEQUENCE, vb);
    }
    std::vector<uint8_t> pdu;
    ber_put_tlv(pdu, BER_INTEGER, ber_int_contents(request_id));
    ber_put_tlv(pdu, BER_INTEGER, ber_int_contents(0));
    ber_put_tlv(pdu, BER_INTEGER, ber_int_contents(0));
    ber_put_tlv(pdu, BER_SEQUENCE, list);
    std::vector<uint8_t> body;
    ber_put_tlv(body, BER_INTEGER, ber_int_contents(0));
    body.insert(body.end(), community_tlv.begin(), community_tlv.end());
    ber_put_tlv(body, pdu_type, pdu);
    std::vector<uint8_t> message;
    ber_put_tlv(message, BER_SEQUENCE, body);
    return message;
}

}  // namespace zm

// SNMP version 1 client engine: types, item encoding, value text, schemes, parties and requests.
#include "mgmt/snmp.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "core/textconv.h"
#include "mgmt/mib_lookup.h"

namespace zm {

namespace {

constexpr const char* kTypeNames[] = {"None",    "Integer", "OctetString", "IPAddr", "Opaque",
                                      "Counter", "Guage",   "TimeTicks",   "ObjectId", "Null"};
constexpr const char* kErrorNames[] = {"noError", "tooBig", "noSuchName", "badValue", "readOnly", "genErr"};
constexpr int kNoSuchName = 2;
constexpr int kGenErr = 5;
// Room the message header takes around the bindings (sequence, version,
// community of at most 16 bytes, PDU, three integers, binding list).
constexpr size_t kMessageOverhead = 64;

bool parse_long(const char* text, long long lo, long long hi, long long* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parse_ipv4(const char* text, uint8_t out[4]) {
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9') return false;
        int v = 0, digits = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + (*p++ - '0');
            if (++digits > 3) return false;
        }
        if (v > 255) return false;
        out[i] = static_cast<uint8_t>(v);
        if (i < 3 && *p++ != '.') return false;
    }
    return *p == '\0';
}

// Hex text: an optional 0x, then only hex digits and colons.
bool hex_bytes(const char* text, std::vector<uint8_t>* out) {
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    for (const char* q = p; *q; ++q)
        if (!std::isxdigit(static_cast<unsigned char>(*q)) && *q != ':') return false;
    *out = asciihex2binary(text, true);
    return true;
}

std::string unsigned_text(const std::vector<uint8_t>& v) {
    if (v.empty()) return "GARBLED";
    if (v[0] & 0x80) return "NEGATIVE";
    size_t i = 0;
    while (i + 1 < v.size() && v[i] == 0) ++i;
    if (v.size() - i > 4) return "OVERFLOW";
    uint32_t n = 0;
    for (; i < v.size(); ++i) n = (n << 8) | v[i];
    return std::to_string(n);
}

std::map<std::string, AuthScheme, std::less<>>& schemes() {
    static std::map<std::string, AuthScheme, std::less<>> table;
    return table;
}

std::map<std::string, Party*, std::less<>>& parties() {
    static std::map<std::string, Party*, std::less<>> table;
    return table;
}

bool accept_all(const uint8_t*, size_t) { return true; }
bool pass_through(std::vector<uint8_t>&) { return true; }

}  // namespace

const char* snmp_type_name(SnmpType type) {
    return type >= SNMP_NONE && type <= SNMP_NULL ? kTypeNames[type] : kTypeNames[0];
}

SnmpType snmp_type_from_name(std::string_view name) {
    for (int i = 0; i <= SNMP_NULL; ++i)
        if (name == kTypeNames[i]) return static_cast<SnmpType>(i);
    return SNMP_NONE;
}

SnmpType snmp_type_from_letter(char letter) {
    switch (letter) {
    case 'I': return SNMP_INTEGER;
    case 'S':
    case 'D': return SNMP_OCTETSTRING;
    case 'A': return SNMP_IPADDR;
    case 'P': return SNMP_OPAQUE;
    case 'C': return SNMP_COUNTER;
    case 'G': return SNMP_GUAGE;
    case 'T': return SNMP_TIMETICKS;
    case 'O': return SNMP_OBJECTID;
    case 'N': return SNMP_NULL;
    default: return SNMP_NONE;
    }
}

const char* snmp_error_name(int status) { return status >= 0 && status <= kGenErr ? kErrorNames[status] : nullptr; }

bool snmp_encode_value(SnmpType type, char letter, const char* text, std::vector<uint8_t>* tlv) {
    long long n = 0;
    std::vector<uint8_t> bytes;
    switch (type) {
    case SNMP_INTEGER:
        if (!parse_long(text, INT32_MIN, INT32_MAX, &n)) return false;
        ber_put_tlv(*tlv, BER_INTEGER, ber_int_contents(n));
        return true;
    case SNMP_OCTETSTRING:
    case SNMP_OPAQUE: {
        uint8_t tag = type == SNMP_OPAQUE ? BER_OPAQUE : BER_OCTET_STRING;
        if (letter == 'D') {
            std::string_view s(text);
            if (s.size() > kSnmpWorkArea) return false;
            ber_put_tlv(*tlv, tag, reinterpret_cast<const uint8_t*>(s.data()), s.size());
            return true;
        }
        if (!hex_bytes(text, &bytes) || bytes.size() > kSnmpWorkArea) return false;
        ber_put_tlv(*tlv, tag, bytes);
        return true;
    }
    case SNMP_IPADDR: {
        uint8_t a[4];
        if (!parse_ipv4(text, a)) return false;
        ber_put_tlv(*tlv, BER_IPADDRESS, a, 4);
        return true;
    }
    case SNMP_COUNTER:
    case SNMP_GUAGE:
    case SNMP_TIMETICKS: {
        if (text[0] == '-' || !parse_long(text, 0, UINT32_MAX, &n)) return false;
        uint8_t tag = type == SNMP_COUNTER ? BER_COUNTER : type == SNMP_GUAGE ? BER_GAUGE : BER_TIMETICKS;
        ber_put_tlv(*tlv, tag, ber_uint_contents(static_cast<uint32_t>(n)));
        return true;
    }
    case SNMP_OBJECTID: {
        auto oid = oid_encode(text);
        if (!oid) return false;
        ber_put_tlv(*tlv, BER_OID, *oid);
        return true;
    }
    default: return false;
    }
}

std::string snmp_value_text(uint8_t tag, const std::vector<uint8_t>& v, char letter) {
    switch (tag) {
    case BER_INTEGER: {
        if (v.empty()) return "GARBLED";
        if (v.size() > 4) return "OVERFLOW";
        int32_t n = 0;
        ber_int32(ByteReader(v.data(), v.size()), &n);
        return std::to_string(n);
    }
    case BER_OCTET_STRING:
    case BER_OPAQUE:
        if (letter == 'D') return std::string(v.begin(), v.end());
        return v.empty() ? std::string() : bin2asciihex(v.data(), v.size(), true);
    case BER_IPADDRESS:
        if (v.size() != 4) return "GARBLED";
        return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
               std::to_string(v[3]);
    case BER_COUNTER:
    case BER_GAUGE:
    case BER_TIMETICKS: return unsigned_text(v);
    case BER_OID: {
        auto oid = oid_decode(v.data(), v.size());
        return oid ? *oid : "GARBLED";
    }
    case BER_NULL: return v.empty() ? "NULL" : "GARBLED";
    default: return "GARBLED";
    }
}

SnmpClientState& snmp_client_state() {
    static SnmpClientState state;
    return state;
}

bool register_auth_scheme(const AuthScheme& scheme) {
    return schemes().emplace(scheme.name, scheme).second;
}

const AuthScheme* find_auth_scheme(std::string_view name) {
    auto it = schemes().find(name);
    return it == schemes().end() ? nullptr : &it->second;
}

void register_builtin_auth_schemes() {
    if (find_auth_scheme("trivial")) return;
    AuthScheme trivial;
    trivial.name = "trivial";
    trivial.accept = accept_all;
    trivial.wrap = pass_through;
    trivial.unwrap = pass_through;
    register_auth_scheme(trivial);
}

Party::~Party() {
    auto it = parties().find(community);
    if (it != parties().end() && it->second == this) parties().erase(it);
}

std::shared_ptr<Party> create_party(std::string_view community, std::string_view scheme, std::string* error) {
    if (community.size() > kCommunityMax) {
        *error = "community string longer than 16 characters";
        return nullptr;
    }
    const AuthScheme* s = find_auth_scheme(scheme);
    if (!s) {
        *error = "unknown authentication scheme " + std::string(scheme);
        return nullptr;
    }
    if (parties().count(community)) {
        *error = "a party for this community exists";
        return nullptr;
    }
    auto p = std::make_shared<Party>();
    p->community = std::string(community);
    ber_put_tlv(p->community_tlv, BER_OCTET_STRING, reinterpret_cast<const uint8_t*>(community.data()),
                community.size());
    p->scheme = s;
    parties()[p->community] = p.get();
    return p;
}

bool snmp_encode_items(SnmpOp op, const std::vector<std::string>& words, std::vector<BindingOut>* out,
                       std::vector<std::string>* oids, std::vector<std::string>* failed) {
    size_t step = op == SnmpOp::set ? 3 : 1;
    size_t total = 0;
    for (size_t i = 0; i + step <= words.size(); i += step) {
        failed->assign(words.begin() + static_cast<long>(i), words.begin() + static_cast<long>(i + step));
        auto oid = oid_encode(words[i]);
        if (!oid) return false;
        BindingOut b;
        b.oid = std::move(*oid);
        if (op == SnmpOp::set) {
            char letter = mib_syntax_letter(words[i]);
            SnmpType type = letter ? snmp_type_from_letter(letter) : snmp_type_from_name(words[i + 1]);
            if (!snmp_encode_value(type, letter, words[i + 2].c_str(), &b.value)) return false;
        } else {
            ber_put_tlv(b.value, BER_NULL, nullptr, 0);
        }
        // Every binding and its headers must fit the work area with the message around it.
        total += b.oid.size() + b.value.size() + 10;
        if (total + kMessageOverhead > kSnmpWorkArea) return false;
        oids->push_back(*oid_decode(b.oid.data(), b.oid.size()));
        out->push_back(std::move(b));
    }
    failed->clear();
    return true;
}

SnmpRequest::SnmpRequest(SnmpOp op, std::shared_ptr<Party> party, std::vector<BindingOut> bindings,
                         std::vector<std::string> oids)
    : op_(op), party_(std::move(party)), bindings_(std::move(bindings)), roots_(oids), current_(std::move(oids)) {
    build(op_ == SnmpOp::get ? BER_GET_REQUEST : op_ == SnmpOp::next ? BER_GET_NEXT_REQUEST : BER_SET_REQUEST);
}

void SnmpRequest::build(uint8_t pdu_type) {
    request_id_ = snmp_client_state().take_request_id();
    message_ = build_snmp_message(party_->community_tlv, pdu_type, request_id_, bindings_);
    party_->scheme->wrap(message_);
}

bool SnmpRequest::on_datagram(const uint8_t* bytes, size_t length) {
    advanced_ = false;
    if (done_ || !party_->scheme->accept(bytes, length)) return false;
    std::vector<uint8_t> copy(bytes, bytes + length);
    if (!party_->scheme->unwrap(copy)) return false;
    auto m = parse_snmp_message(copy.data(), copy.size());
    if (!m || m->version != 0 || m->community != party_->community || m->pdu_type != BER_GET_RESPONSE ||
        m->request_id != request_id_)
        return false;
    if (m->error_status != 0) code_ = m->error_status > 0 && m->error_status <= kGenErr ? m->error_status + 1 : kGenErr + 1;
    if (op_ == SnmpOp::next)
        on_walk_answer(*m);
    else
        on_answer(*m);
    return true;
}

void SnmpRequest::on_answer(const SnmpMessage& m) {
    done_ = true;
    for (const BerBinding& b : m.bindings) values_.push_back(snmp_value_text(b.tag, b.value, mib_syntax_letter(b.oid)));
}

void SnmpRequest::on_walk_answer(const SnmpMessage& m) {
    std::vector<Row> rows;
    for (const BerBinding& b : m.bindings)
        rows.emplace_back(b.oid, snmp_value_text(b.tag, b.value, mib_syntax_letter(b.oid)));
    bool first = rows_.empty();
    bool end = m.error_status != 0 || m.bindings.size() != roots_.size();
    for (size_t i = 0; !end && i < m.bindings.size(); ++i)
        if (!oid_in_subtree(m.bindings[i].oid, roots_[i])) end = true;
    if (!end) {
        // An agent that does not move forward would keep the walk going for ever.
        for (size_t i = 0; i < m.bindings.size(); ++i)
            if (oid_compare(m.bindings[i].oid, current_[i]) <= 0) {
                warning_ = "agent returned " + m.bindings[i].oid + " after " + current_[i] + "; walk ended";
                done_ = true;
                return;
            }
    }
    if (end) {
        done_ = true;
        // The end of the agent's view after some rows is the walk's normal end.
        if (m.error_status == kNoSuchName && !first) code_ = 0;
        if (first) rows_.push_back(std::move(rows));
        return;
    }
    rows_.push_back(std::move(rows));
    bindings_.clear();
    current_.clear();
    for (const BerBinding& b : m.bindings) {
        BindingOut out;
        auto oid = oid_encode(b.oid);
        if (!oid) {
            done_ = true;
            return;
        }
        out.oid = std::move(*oid);
        ber_put_tlv(out.value, BER_NULL, nullptr, 0);
        bindings_.push_back(std::move(out));
        current_.push_back(b.oid);
    }
    build(BER_GET_NEXT_REQUEST);
    advanced_ = true;
}

}  // namespace zm

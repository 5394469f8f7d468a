// The BER codec and the SNMP request engine: OIDs, integers, TLV bounds, messages, value text, walks.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "mgmt/ber.h"
#include "mgmt/snmp.h"

namespace zm {
namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& b) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) s += {d[x >> 4], d[x & 15]};
    return s;
}

std::optional<std::string> decode(const Bytes& b) { return oid_decode(b.data(), b.size()); }

TEST(SnmpBer, OidsEncodeAndDecodeWithinTheirLimits) {
    // A first arc of 2 takes a second arc above 39 into the same sub-identifier.
    EXPECT_EQ(hex(*oid_encode("2.999.3")), "883703");
    EXPECT_EQ(*decode(*oid_encode("2.999.3")), "2.999.3");
    for (const char* bad : {"", ".", "1", "1..2", "1.3.", "3.1", "1.40", "1.3.4294967296", "1.3.x", "1.3.-1"})
        EXPECT_FALSE(oid_encode(bad)) << bad;
    // Empty, unterminated, padded with 0x80, or a sub-identifier above 2^32-1.
    for (const Bytes& bad : {Bytes{}, Bytes{0x2B, 0x86}, Bytes{0x2B, 0x80, 0x01}, Bytes{0x2B, 0x90, 0x80, 0x80, 0x80, 0x00}})
        EXPECT_FALSE(decode(bad)) << hex(bad);
    EXPECT_TRUE(oid_in_subtree("1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1"));
    EXPECT_FALSE(oid_in_subtree("1.3.6.1.2.1.10.1", "1.3.6.1.2.1.1"));
    EXPECT_LT(oid_compare("1.3.6.1.2.1.1.9", "1.3.6.1.2.1.1.10"), 0);
}

TEST(SnmpBer, TlvReaderRefusesWhatItCannotBound) {
    auto read = [](const Bytes& b) {
        ByteReader r(b.data(), b.size());
        BerTlv t;
        return ber_read_tlv(r, &t) ? static_cast<long>(t.contents.size()) : -1L;
    };
    Bytes long_form{0x04, 0x82, 0x01, 0x00};
    long_form.resize(4 + 256);
    EXPECT_EQ(read(long_form), 256);
    EXPECT_EQ(read({0x04, 0x81, 0x05, 1, 2, 3, 4, 5}), 5);
    EXPECT_EQ(read({0x30, 0x80, 0x00, 0x00}), -1);                 // indefinite
    EXPECT_EQ(read({0x04, 0x85, 0, 0, 0, 0, 1, 0}), -1);           // five length bytes
    EXPECT_EQ(read({0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0}), -1);  // beyond the data
    EXPECT_EQ(read({0x1F, 0x01, 0x01, 0x00}), -1);                 // multi-byte tag
    EXPECT_EQ(read({0x04}), -1);
}

Bytes tlv(uint8_t tag, const Bytes& contents) {
    Bytes out;
    ber_put_tlv(out, tag, contents);
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes community(const char* c) { return tlv(BER_OCTET_STRING, Bytes(c, c + std::strlen(c))); }
Bytes integer(int32_t v) { return tlv(BER_INTEGER, ber_int_contents(v)); }
BindingOut binding(const char* oid, const Bytes& value_tlv) { return {*oid_encode(oid), value_tlv}; }

// A reply as an agent builds it: the request layout with another PDU type and statuses.
Bytes reply(const char* comm, int32_t id, int32_t status, const std::vector<BindingOut>& vbs) {
    Bytes list;
    for (const BindingOut& b : vbs) list = list + tlv(BER_SEQUENCE, tlv(BER_OID, b.oid) + b.value);
    Bytes pdu = integer(id) + integer(status) + integer(status ? 1 : 0) + tlv(BER_SEQUENCE, list);
    return tlv(BER_SEQUENCE, integer(0) + community(comm) + tlv(BER_GET_RESPONSE, pdu));
}

TEST(SnmpBer, MessagesRoundTripAndEveryCutIsRefused) {
    Bytes msg = build_snmp_message(community("public"), BER_GET_REQUEST, 0x1234,
                                   {binding("1.3.6.1.2.1.1.1.0", tlv(BER_NULL, {}))});
    EXPECT_EQ(hex(msg), "302702010004067075626C6963A01A02021234020100020100"
                        "300E300C06082B060102010101000500");
    size_t used = 0;
    auto m = parse_snmp_message(msg.data(), msg.size(), &used);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->bindings.size(), 1u);
    EXPECT_EQ(std::make_tuple(used, m->community, m->request_id, m->bindings[0].oid, m->bindings[0].tag),
              std::make_tuple(msg.size(), std::string("public"), 0x1234, std::string("1.3.6.1.2.1.1.1.0"), BER_NULL));
    for (size_t n = 0; n < msg.size(); ++n) EXPECT_FALSE(parse_snmp_message(msg.data(), n)) << n;
    // Nested lengths that overrun their parent, and a byte left over inside the PDU.
    for (size_t at : {26, 28}) {
        Bytes overrun = msg;
        overrun[at] += 1;
        EXPECT_FALSE(parse_snmp_message(overrun.data(), overrun.size())) << at;
    }
    Bytes extra = msg;
    extra[1] += 1, extra[14] += 1;
    extra.push_back(0);
    EXPECT_FALSE(parse_snmp_message(extra.data(), extra.size()));
}

TEST(SnmpValues, TextOfEveryType) {
    const std::tuple<uint8_t, Bytes, char, const char*> cases[] = {
        {BER_INTEGER, {0xFF, 0xFE}, 0, "-2"}, {BER_INTEGER, {0, 1, 2, 3, 4}, 0, "OVERFLOW"},
        {BER_INTEGER, {}, 0, "GARBLED"}, {BER_COUNTER, {0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0, "4294967295"},
        {BER_GAUGE, {0x01, 0, 0, 0, 0}, 0, "OVERFLOW"}, {BER_TIMETICKS, {0x80}, 0, "NEGATIVE"},
        {BER_IPADDRESS, {10, 0, 0, 255}, 0, "10.0.0.255"}, {BER_IPADDRESS, {10, 0, 0}, 0, "GARBLED"},
        {BER_OCTET_STRING, {'h', 'i'}, 0, "0x6869"}, {BER_OPAQUE, {'h', 'i'}, 'D', "hi"},
        {BER_OID, {0x2B, 0x06, 0x01}, 0, "1.3.6.1"}, {BER_OID, {0x2B, 0x86}, 0, "GARBLED"}};
    for (const auto& [tag, contents, letter, text] : cases)
        EXPECT_EQ(snmp_value_text(tag, contents, letter), text) << int(tag) << " " << hex(contents);
}

TEST(SnmpValues, EncodingChecksTheText) {
    const std::tuple<SnmpType, const char*, char, const char*> cases[] = {
        {SNMP_INTEGER, "-129", 0, "0202FF7F"}, {SNMP_INTEGER, "128", 0, "02020080"},
        {SNMP_INTEGER, "-2147483648", 0, "020480000000"}, {SNMP_INTEGER, "2147483648", 0, "fails"},
        {SNMP_OCTETSTRING, "0xABC", 0, "04020ABC"}, {SNMP_OCTETSTRING, "lab 3", 'D', "04056C61622033"},
        {SNMP_OCTETSTRING, "lab 3", 0, "fails"}, {SNMP_IPADDR, "192.168.0.1", 0, "4004C0A80001"},
        {SNMP_IPADDR, "1.2.3.256", 0, "fails"}, {SNMP_IPADDR, "1.2.3.4.5", 0, "fails"},
        {SNMP_IPADDR, "1.2.3.4 ", 0, "fails"}, {SNMP_IPADDR, "a.b.c.d", 0, "fails"},
        {SNMP_COUNTER, "4294967295", 0, "410500FFFFFFFF"}, {SNMP_TIMETICKS, "-1", 0, "fails"},
        {SNMP_GUAGE, "4294967296", 0, "fails"}, {SNMP_OBJECTID, "1.3.6.1", 0, "06032B0601"},
        {SNMP_NULL, "", 0, "fails"}};
    for (const auto& [type, text, letter, encoded] : cases) {
        Bytes out;
        EXPECT_EQ(snmp_encode_value(type, letter, text, &out) ? hex(out) : "fails", encoded) << text;
    }
    EXPECT_EQ(snmp_type_from_name("Guage"), SNMP_GUAGE);
    EXPECT_EQ(snmp_type_from_name("Gauge"), SNMP_NONE);
}

class SnmpRequestTest : public ::testing::Test {
protected:
    void SetUp() override { register_builtin_auth_schemes(); }

    std::shared_ptr<Party> party(const char* c = "public") {
        std::string error;
        auto p = create_party(c, "trivial", &error);
        EXPECT_TRUE(p) << error;
        return p;
    }
    static SnmpRequest make(SnmpOp op, std::shared_ptr<Party> p, std::vector<std::string> oids) {
        std::vector<BindingOut> b;
        for (const auto& o : oids) b.push_back(binding(o.c_str(), tlv(BER_NULL, {})));
        return SnmpRequest(op, std::move(p), std::move(b), std::move(oids));
    }
    static bool feed(SnmpRequest& r, const Bytes& b) { return r.on_datagram(b.data(), b.size()); }
};

// A walk keeps the answers inside the subtree and the first answer even when
// it leaves it; an agent with nothing past the start gives code 3. (The end of
// a real agent's view, code 0, is checked against snmpd by the script tests.)
TEST_F(SnmpRequestTest, WalkRowsAndEndings) {
    const char* root = "1.3.6.1.2.1.1.9";
    auto r = make(SnmpOp::next, party(), {root});
    int32_t first = r.request_id();
    ASSERT_TRUE(feed(r, reply("public", first, 0, {binding("1.3.6.1.2.1.1.9.1", integer(1))})));
    EXPECT_TRUE(r.advanced());
    EXPECT_NE(r.request_id(), first);
    feed(r, reply("public", r.request_id(), 0, {binding("1.3.6.1.2.1.1.9.2", integer(2))}));
    feed(r, reply("public", r.request_id(), 0, {binding("1.3.6.1.2.1.1.10.0", integer(3))}));
    EXPECT_TRUE(r.done());
    EXPECT_EQ(r.code(), 0);
    ASSERT_EQ(r.rows().size(), 2u);
    EXPECT_EQ(r.rows()[1][0], (SnmpRequest::Row{"1.3.6.1.2.1.1.9.2", "2"}));

    auto past = make(SnmpOp::next, party("p2"), {root});
    feed(past, reply("p2", past.request_id(), 0, {binding("1.3.6.1.2.1.2.1.0", integer(3))}));
    EXPECT_EQ(past.rows().size(), 1u);

    auto none = make(SnmpOp::next, party("p4"), {"1.3.6.1.6"});
    feed(none, reply("p4", none.request_id(), 2, {binding("1.3.6.1.6", tlv(BER_NULL, {}))}));
    EXPECT_EQ(none.code(), 3);
}

TEST_F(SnmpRequestTest, BindingsMustFitOneMessage) {
    std::vector<BindingOut> out;
    std::vector<std::string> oids, failed;
    std::string big(1990 * 2, 'A');
    EXPECT_FALSE(snmp_encode_items(SnmpOp::set, {"1.3.6.1.2.1.1.6.0", "OctetString", big}, &out, &oids, &failed));
    EXPECT_EQ(failed[1], "OctetString");
}

}  // namespace
}  // namespace zm

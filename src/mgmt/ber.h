// Basic Encoding Rules (X.690) for SNMP version 1 messages: tag-length-value
// encoding and decoding, integers, object identifiers, and the message layout.
//
// This is the one place that encodes and decodes BER. Decoding never reads
// past the bytes it was given: every length is checked against its parent,
// indefinite lengths and multi-byte tags are refused, and integers and
// sub-identifiers longer than their type are refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"

namespace zm {

enum BerTag : uint8_t {
    BER_INTEGER = 0x02,
    BER_OCTET_STRING = 0x04,
    BER_NULL = 0x05,
    BER_OID = 0x06,
    BER_SEQUENCE = 0x30,
    BER_IPADDRESS = 0x40,  // application 0
    BER_COUNTER = 0x41,    // application 1
    BER_GAUGE = 0x42,      // application 2
    BER_TIMETICKS = 0x43,  // application 3
    BER_OPAQUE = 0x44,     // application 4
    BER_GET_REQUEST = 0xA0,
    BER_GET_NEXT_REQUEST = 0xA1,
    BER_GET_RESPONSE = 0xA2,
    BER_SET_REQUEST = 0xA3,
};

// ---- encoding -------------------------------------------------------------

// Appends a tag and a definite length (short form below 128, else long form).
void ber_put_header(std::vector<uint8_t>& out, uint8_t tag, size_t length);
// Appends a whole TLV.
void ber_put_tlv(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* contents, size_t length);
inline void ber_put_tlv(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& contents) {
    ber_put_tlv(out, tag, contents.data(), contents.size());
}
// The shortest two's-complement contents of a signed number.
std::vector<uint8_t> ber_int_contents(int64_t value);
// The contents of an unsigned number (a leading zero byte when the top bit is set).
std::vector<uint8_t> ber_uint_contents(uint32_t value);

// The contents octets of a dotted OID ("1.3.6.1.2.1.1.1.0", a leading "." allowed).
// Nothing when the text is not an OID: an empty or non-numeric component, fewer
// than two components, a first component above 2, a second above 39 under a
// first of 0 or 1, or a component above 2^32-1.
std::optional<std::vector<uint8_t>> oid_encode(std::string_view dotted);
// The dotted text of OID contents octets; nothing when they are empty, end
// inside a sub-identifier, pad a sub-identifier with a leading 0x80, or hold
// a sub-identifier above 2^32-1.
std::optional<std::string> oid_decode(const uint8_t* contents, size_t length);
// True when `oid` lies inside the subtree `root` (component-wise prefix).
bool oid_in_subtree(std::string_view oid, std::string_view root);
// Orders two dotted OIDs component by component (-1, 0, 1); texts that are
// not OIDs compare as equal.
int oid_compare(std::string_view a, std::string_view b);

// ---- decoding -------------------------------------------------------------

struct BerTlv {
    uint8_t tag = 0;
    ByteReader contents;  // exactly the value's contents octets
};

// Reads one TLV from `r`; false (the reader may have moved) when the tag is
// a multi-byte tag, the length is indefinite, longer than 4 length bytes, or
// runs past what `r` holds.
bool ber_read_tlv(ByteReader& r, BerTlv* out);
// A signed INTEGER of at most 4 contents bytes.
bool ber_int32(const ByteReader& contents, int32_t* value);

// One variable binding as received: the OID text and the value's tag and contents.
struct BerBinding {
    std::string oid;
    uint8_t tag = 0;
    std::vector<uint8_t> value;
};

// An SNMP version 1 message taken apart.
struct SnmpMessage {
    int32_t version = 0;
    std::string community;
    uint8_t pdu_type = 0;
    int32_t request_id = 0;
    int32_t error_status = 0;
    int32_t error_index = 0;
    std::vector<BerBinding> bindings;
};

// Parses the message at the start of `bytes` (bytes after its outer SEQUENCE
// are not looked at; `consumed`, when given, receives the SEQUENCE's whole
// size). Nothing when any part is malformed or anything is left over inside it.
std::optional<SnmpMessage> parse_snmp_message(const uint8_t* bytes, size_t length,
                                              size_t* consumed = nullptr);

// Builds a whole message: version 0, the community as given (already encoded
// as an OCTET STRING TLV), a PDU of `pdu_type` with the request-id, zero
// error-status and error-index, and the bindings (each an OID's contents and a
// value TLV).
struct BindingOut {
    std::vector<uint8_t> oid;    // contents octets
    std::vector<uint8_t> value;  // a whole TLV
};
std::vector<uint8_t> build_snmp_message(const std::vector<uint8_t>& community_tlv, uint8_t pdu_type,
                                        int32_t request_id, const std::vector<BindingOut>& bindings);

}  // namespace zm

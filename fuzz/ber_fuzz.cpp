// Fuzzes the BER message parser and the SNMP answer handling with arbitrary reply bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mgmt/ber.h"
#include "mgmt/snmp.h"

namespace {

// Walks nested constructed TLVs to a bounded depth.
void walk(zm::ByteReader r, int depth) {
    while (!r.at_end() && depth < 16) {
        zm::BerTlv t;
        if (!zm::ber_read_tlv(r, &t)) return;
        if (t.tag & 0x20) walk(t.contents, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    walk(zm::ByteReader(data, size), 0);
    zm::oid_decode(data, size);
    size_t used = 0;
    auto m = zm::parse_snmp_message(data, size, &used);
    if (m) {
        for (const auto& b : m->bindings) {
            zm::snmp_value_text(b.tag, b.value, 0);
            zm::snmp_value_text(b.tag, b.value, 'D');
            zm::oid_encode(b.oid);
        }
    }
    // A get and a walk fed the bytes as their reply; the request-id of the
    // input is taken over, so matching replies reach the answer handlers.
    zm::register_builtin_auth_schemes();
    std::string error;
    for (zm::SnmpOp op : {zm::SnmpOp::get, zm::SnmpOp::next}) {
        auto party = zm::create_party(m ? m->community.substr(0, zm::kCommunityMax) : "public", "trivial", &error);
        if (!party) return 0;
        std::vector<zm::BindingOut> b(1);
        b[0].oid = *zm::oid_encode("1.3.6.1.2.1.1");
        zm::ber_put_tlv(b[0].value, zm::BER_NULL, nullptr, 0);
        if (m) zm::snmp_client_state().next_request_id = static_cast<uint32_t>(m->request_id);
        zm::SnmpRequest req(op, party, b, {"1.3.6.1.2.1.1"});
        req.on_datagram(data, size);
    }
    return 0;
}

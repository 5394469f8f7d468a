// The SNMP engine's own cost per request, without sockets: encoding the items,
// building the message and taking a reply apart (what the client adds to
// each round trip to the agent).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "mgmt/ber.h"
#include "mgmt/snmp.h"

namespace {

// A GetResponse for `oid` carrying a 40-byte string.
std::vector<uint8_t> reply(const std::vector<uint8_t>& community_tlv, int32_t id, const std::string& oid) {
    zm::BindingOut b;
    b.oid = *zm::oid_encode(oid);
    std::vector<uint8_t> text(40, 'x');
    zm::ber_put_tlv(b.value, zm::BER_OCTET_STRING, text);
    return zm::build_snmp_message(community_tlv, zm::BER_GET_RESPONSE, id, {b});
}

void get_request(benchmark::State& state) {
    zm::register_builtin_auth_schemes();
    std::string error;
    for (auto _ : state) {
        auto party = zm::create_party("public", "trivial", &error);
        std::vector<zm::BindingOut> bindings;
        std::vector<std::string> oids, failed;
        zm::snmp_encode_items(zm::SnmpOp::get, {"1.3.6.1.2.1.1.5.0"}, &bindings, &oids, &failed);
        zm::SnmpRequest req(zm::SnmpOp::get, party, std::move(bindings), std::move(oids));
        auto answer = reply(party->community_tlv, req.request_id(), "1.3.6.1.2.1.1.5.0");
        req.on_datagram(answer.data(), answer.size());
        benchmark::DoNotOptimize(req.values());
    }
}
BENCHMARK(get_request);

void walk_row(benchmark::State& state) {
    zm::register_builtin_auth_schemes();
    std::string error;
    auto party = zm::create_party("walk", "trivial", &error);
    std::vector<zm::BindingOut> bindings;
    std::vector<std::string> oids, failed;
    zm::snmp_encode_items(zm::SnmpOp::next, {"1.3.6.1.2.1.1"}, &bindings, &oids, &failed);
    zm::SnmpRequest req(zm::SnmpOp::next, party, std::move(bindings), std::move(oids));
    uint32_t row = 0;
    for (auto _ : state) {
        auto answer = reply(party->community_tlv, req.request_id(), "1.3.6.1.2.1.1.9.1." + std::to_string(++row));
        req.on_datagram(answer.data(), answer.size());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(walk_row);

}  // namespace

BENCHMARK_MAIN();

// SNMP version 1 client engine: value types, item encoding, value text,
// authentication schemes and parties, and one request (get, set or a
// get-next walk) fed with the datagrams its host receives.
//
// Free of Tcl: the command layer (snmp_cmds.cpp) owns the transports, the
// waiting and the reports.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mgmt/ber.h"

namespace zm {

inline constexpr size_t kSnmpWorkArea = 2048;  // request bindings and received messages
inline constexpr size_t kSnmpMaxItems = 20;
inline constexpr size_t kCommunityMax = 16;
inline constexpr int kSnmpDefaultRetries = 3;
inline constexpr int kSnmpNoAnswer = 7;  // completion code after the last retry

enum SnmpType {
    SNMP_NONE = 0,
    SNMP_INTEGER,
    SNMP_OCTETSTRING,
    SNMP_IPADDR,
    SNMP_OPAQUE,
    SNMP_COUNTER,
    SNMP_GUAGE,
    SNMP_TIMETICKS,
    SNMP_OBJECTID,
    SNMP_NULL,
};

const char* snmp_type_name(SnmpType type);
// The type with that exact name, or SNMP_NONE.
SnmpType snmp_type_from_name(std::string_view name);
// The type a MIB syntax letter stands for (SNMP_NONE for any other letter).
SnmpType snmp_type_from_letter(char letter);
// "noError" .. "genErr"; null outside 0..5.
const char* snmp_error_name(int status);

// The value TLV of `text` as `type`; `letter` is the object's MIB syntax
// letter ('D' makes octet strings text). False when the text does not fit the type.
bool snmp_encode_value(SnmpType type, char letter, const char* text, std::vector<uint8_t>* tlv);
// A received value as text, by its tag ("OVERFLOW", "NEGATIVE", "GARBLED"
// where the bytes do not make a value of the type).
std::string snmp_value_text(uint8_t tag, const std::vector<uint8_t>& value, char letter);

// ---- process-wide client state --------------------------------------------

struct SnmpClientState {
    int busy = 0;
    uint32_t next_request_id = 0;
    int retries = kSnmpDefaultRetries;
    int local_port = 0;  // kept from the last call that gave -lport
    bool started = false;
    // Takes the current request-id and advances the counter.
    int32_t take_request_id() { return static_cast<int32_t>(next_request_id++); }
};
SnmpClientState& snmp_client_state();

// ---- authentication schemes and parties -----------------------------------

struct AuthScheme {
    std::string name;
    bool (*accept)(const uint8_t* message, size_t length) = nullptr;  // take this incoming message?
    bool (*wrap)(std::vector<uint8_t>& message) = nullptr;            // outgoing, in place
    bool (*unwrap)(std::vector<uint8_t>& message) = nullptr;          // incoming, in place
};
// False when a scheme of that name exists.
bool register_auth_scheme(const AuthScheme& scheme);
const AuthScheme* find_auth_scheme(std::string_view name);
// Registers "trivial" (accepts everything, changes nothing) once.
void register_builtin_auth_schemes();

// The community and scheme of one call. Only one party per community exists
// at a time; it leaves the registry when the last reference goes.
struct Party {
    std::string community;
    std::vector<uint8_t> community_tlv;  // the community as an OCTET STRING
    const AuthScheme* scheme = nullptr;
    ~Party();
};
// Null (with the reason in *error) when the community is longer than 16
// characters, the scheme is unknown, or a party for the community exists.
std::shared_ptr<Party> create_party(std::string_view community, std::string_view scheme, std::string* error);

// ---- one request ----------------------------------------------------------

enum class SnmpOp { get, next, set };

// Encodes the items of a command: OIDs (get, next) or OID, type, value
// triples (set). False with the failing item's words in *failed.
bool snmp_encode_items(SnmpOp op, const std::vector<std::string>& words, std::vector<BindingOut>* out,
                       std::vector<std::string>* oids, std::vector<std::string>* failed);

class SnmpRequest {
public:
    using Row = std::pair<std::string, std::string>;  // {oid value}

    SnmpRequest(SnmpOp op, std::shared_ptr<Party> party, std::vector<BindingOut> bindings,
                std::vector<std::string> oids);

    // The message to send for the current step (a new request-id per step).
    const std::vector<uint8_t>& message() const { return message_; }
    int32_t request_id() const { return request_id_; }

    // Feeds one received datagram. Replies that are malformed, refused by the
    // scheme, or carry another version, community, PDU type or request-id are
    // ignored. Returns true when it answered the current step.
    bool on_datagram(const uint8_t* bytes, size_t length);

    bool done() const { return done_; }
    // True after an answer that moved the walk on: message() is the next step.
    bool advanced() const { return advanced_; }
    int code() const { return code_; }
    void set_code(int code) { code_ = code; }
    // get and set: one value text per binding; next: one row list per answer.
    const std::vector<std::string>& values() const { return values_; }
    const std::vector<std::vector<Row>>& rows() const { return rows_; }
    // Set when a walk was ended because the agent did not move forward.
    const std::string& warning() const { return warning_; }

private:
    void on_answer(const SnmpMessage& m);
    void on_walk_answer(const SnmpMessage& m);
    void build(uint8_t pdu_type);

    SnmpOp op_;
    std::shared_ptr<Party> party_;
    std::vector<BindingOut> bindings_;
    std::vector<std::string> roots_;    // the requested OIDs (the walk's subtrees)
    std::vector<std::string> current_;  // OIDs of the step in flight
    std::vector<uint8_t> message_;
    int32_t request_id_ = 0;
    bool done_ = false;
    bool advanced_ = false;
    int code_ = 0;
    std::vector<std::string> values_;
    std::vector<std::vector<Row>> rows_;
    std::string warning_;
};

}  // namespace zm

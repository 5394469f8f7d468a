// Evaluation of protocol-database expressions (field widths, child conditions, selectors) during a decode.
//
// Values are signed 32-bit; arithmetic wraps. Division and remainder by zero
// yield 0. A field reference yields the field's current value (the cell the
// decoder wrote for the last packet decoded). `peek`, `pdu_length` and
// `frag_offset` read the decode globals below, which are meaningful only
// while decode_packet runs.
//
// Errors: an expression of an unknown type reports "Bad Expression Type %lu"
// (Fault, module DECODE/decode) and yields 0; so does one nested deeper than
// kMaxExprDepth. A negative width is reported (Warning) and taken as 0.
#pragma once

#include <cstdint>

namespace zm {

struct Expr;
struct PacketBuffer;
enum class Evaluator : uint8_t;

// Process-wide state of the decode in progress.
struct DecodeGlobals {
    uint32_t total_bits = 0;      // bits of the area being decoded (pdu_length)
    uint32_t node_start = 0;      // start bit of the node being decoded (frag_offset)
    uint32_t current = 0;         // bit offset of the field being decoded
    const PacketBuffer* buffer = nullptr;  // the buffer being decoded (peek)
    const uint8_t* data = nullptr;         // its first data byte
    uint32_t length = 0;                   // its data length in bytes
};
DecodeGlobals& decode_globals();

constexpr int kMaxExprDepth = 1000;
constexpr int kMaxCallArgs = 10;

int32_t eval_expr(const Expr* expr);
// The width an expression gives a field: a negative result reports
// "width expression for field "%s" is negative" (Warning) and gives 0.
uint32_t field_width(const char* field_name, const Expr* expr);

// `width` (1..32) bits at `bit_offset` of `length` bytes at `data`; bits
// beyond the end read as 0 (nothing past `length` is touched).
uint32_t read_bits(const uint8_t* data, uint32_t length, uint64_t bit_offset, uint32_t width);

// A built-in function: `call` is the name or call record (its calc_ holds the
// calculated-value descriptor), `argv` the argument values in source order.
// The decoder implements peek, pdu_length and frag_offset; the others yield
// 0 unless their owner (the encoder) installs an implementation here.
using BuiltinFn = int32_t (*)(const Expr* call, int argc, const int32_t* argv);
void set_builtin(Evaluator which, BuiltinFn fn);

}  // namespace zm

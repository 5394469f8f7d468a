// Expression evaluation for the decoder: operators, constants, field references and the built-ins.
#include "decode/expr.h"

#include <array>
#include <climits>

#include "core/bits.h"
#include "core/report.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "DECODE/decode";

int32_t builtin_peek(const Expr*, int argc, const int32_t* argv) {
    if (argc < 2 || argv[0] < 0 || argv[1] <= 0) return 0;
    const DecodeGlobals& g = decode_globals();
    uint32_t width = argv[1] > 32 ? 32u : static_cast<uint32_t>(argv[1]);
    return static_cast<int32_t>(read_bits(g.data, g.length, static_cast<uint64_t>(argv[0]), width));
}

int32_t builtin_pdu_length(const Expr*, int, const int32_t*) {
    return static_cast<int32_t>(decode_globals().total_bits);
}

int32_t builtin_frag_offset(const Expr*, int, const int32_t*) {
    return static_cast<int32_t>(decode_globals().node_start);
}

constexpr size_t kEvaluators = static_cast<size_t>(Evaluator::frag_offset) + 1;

std::array<BuiltinFn, kEvaluators>& builtins() {
    static std::array<BuiltinFn, kEvaluators> table = [] {
        std::array<BuiltinFn, kEvaluators> t{};
        t[static_cast<size_t>(Evaluator::peek)] = builtin_peek;
        t[static_cast<size_t>(Evaluator::pdu_length)] = builtin_pdu_length;
        t[static_cast<size_t>(Evaluator::frag_offset)] = builtin_frag_offset;
        return t;
    }();
    return table;
}

BuiltinFn builtin_for(Evaluator e) {
    size_t i = static_cast<size_t>(e);
    return i < kEvaluators ? builtins()[i] : nullptr;
}

// Wrapping arithmetic on the 32-bit value domain (no signed overflow).
int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }

int32_t eval(const Expr* e, int depth);

int32_t eval_term(const Expr* e) {
    switch (e->evaluator_) {
    case Evaluator::field_value:
        return e->field_ ? static_cast<int32_t>(e->field_->cur_value_) : 0;
    case Evaluator::none:
    case Evaluator::zero:
        return 0;
    default:
        if (BuiltinFn fn = builtin_for(e->evaluator_)) return fn(e, 0, nullptr);
        return 0;
    }
}

int32_t eval_call(const Expr* e, int depth) {
    BuiltinFn fn = builtin_for(e->evaluator_);
    if (!fn) return 0;
    // The list is last argument first: filling the array from its end puts
    // the values in source order.
    int n = 0;
    for (const ArgCell* a = e->args_; a && n < kMaxCallArgs; a = a->next_) ++n;
    int32_t values[kMaxCallArgs] = {};
    int i = n;
    for (const ArgCell* a = e->args_; a && i > 0; a = a->next_) values[--i] = eval(a->expr_, depth + 1);
    return fn(e, n, values);
}

int32_t eval(const Expr* e, int depth) {
    if (!e) return 0;
    if (depth > kMaxExprDepth) {
        report(nullptr, kModule, __LINE__, LOG_FAULT, "Expression nested deeper than %d levels", kMaxExprDepth);
        return 0;
    }
    switch (e->type_) {
    case EXPR_NUMBER:
        return static_cast<int32_t>(e->value_);
    case EXPR_NAME:
        return eval_term(e);
    case EXPR_NOT:
        return eval(e->left_, depth + 1) == 0;
    case EXPR_AND:
        return eval(e->left_, depth + 1) != 0 && eval(e->right_, depth + 1) != 0;
    case EXPR_OR:
        return eval(e->left_, depth + 1) != 0 || eval(e->right_, depth + 1) != 0;
    case EXPR_CALL:
        return eval_call(e, depth);
    default:
        break;
    }
    if (!e->is_binary()) {
        report(nullptr, kModule, __LINE__, LOG_FAULT, "Bad Expression Type %lu",
               static_cast<unsigned long>(static_cast<uint32_t>(e->type_)));
        return 0;
    }
    int32_t a = eval(e->left_, depth + 1);
    int32_t b = eval(e->right_, depth + 1);
    uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
    switch (e->type_) {
    case EXPR_LT: return a < b;
    case EXPR_GT: return a > b;
    case EXPR_BAND: return wrap(ua & ub);
    case EXPR_BOR: return wrap(ua | ub);
    case EXPR_ADD: return wrap(ua + ub);
    case EXPR_SUB: return wrap(ua - ub);
    case EXPR_MUL: return wrap(ua * ub);
    case EXPR_DIV:
        if (b == 0) return 0;
        if (a == INT32_MIN && b == -1) return INT32_MIN;
        return a / b;
    case EXPR_MOD:
        if (b == 0 || b == -1) return 0;
        return a % b;
    case EXPR_NE: return a != b;
    case EXPR_EQ: return a == b;
    default: return 0;
    }
}

}  // namespace

DecodeGlobals& decode_globals() {
    static DecodeGlobals globals;
    return globals;
}

int32_t eval_expr(const Expr* expr) { return eval(expr, 0); }

uint32_t field_width(const char* field_name, const Expr* expr) {
    int32_t w = expr && expr->type_ == EXPR_NUMBER ? static_cast<int32_t>(expr->value_) : eval(expr, 0);
    if (w < 0) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "width expression for field \"%s\" is negative",
               field_name ? field_name : "");
        return 0;
    }
    return static_cast<uint32_t>(w);
}

uint32_t read_bits(const uint8_t* data, uint32_t length, uint64_t bit_offset, uint32_t width) {
    if (width == 0 || !data) return 0;
    if (width > 32) width = 32;
    uint64_t byte = bit_offset / 8;
    int off = static_cast<int>(bit_offset % 8);
    if (byte >= length) return 0;
    // get_bits reads four bytes, and a fifth when the field crosses it.
    if (byte + 5 <= length) return get_bits(data + byte, off, static_cast<int>(width));
    uint8_t tmp[5] = {0, 0, 0, 0, 0};
    for (uint64_t i = 0; i < 5 && byte + i < length; ++i) tmp[i] = data[byte + i];
    return get_bits(tmp, off, static_cast<int>(width));
}

void set_builtin(Evaluator which, BuiltinFn fn) {
    size_t i = static_cast<size_t>(which);
    if (i >= kEvaluators) return;
    // The decoder's own built-ins stay: they read the decode in progress.
    if (which == Evaluator::peek || which == Evaluator::pdu_length || which == Evaluator::frag_offset) return;
    builtins()[i] = fn;
}

}  // namespace zm

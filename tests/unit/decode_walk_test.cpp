// The decoder on small descriptions: element sequences, widths, children, arrays, expressions and bounds.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/report.h"
#include "decode/decode.h"
#include "decode/expr.h"
#include "filter/filter.h"
#include "filter/match.h"
#include "pdl/protodb.h"
#include "decode_util.h"
#include "test_interp.h"

using namespace zm;
using zm_test::Packet;
using zm_test::PdlDb;

namespace {

std::string decode(Node* base, const std::vector<uint8_t>& bytes, DecodeContext* ctx = nullptr) {
    Packet p(bytes);
    EXPECT_TRUE(decode_packet(p.buf, base, ctx));
    return zm_test::tree(p.buf);
}

}  // namespace

TEST(DecodeWalk, PlainFieldsOfOddWidthsAndTheirCells) {
    PdlDb d("HDR { a : 3; b : 13; c : 0; d : 40; e : 32; };");
    std::vector<uint8_t> bytes = {0xA1, 0x23, 1, 2, 3, 4, 5, 0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(decode(d.node("HDR"), bytes),
              "HDR N:HDR@0 F:a@0/3=5 F:b@3/13=291 F:c@16/0=0 F:d@16/40=0 F:e@56/32=3735928559 /N:HDR@0");
    EXPECT_EQ(d.field("HDR.a")->cur_value_, 5u);
}

TEST(DecodeWalk, WidthsCutToThePacketAndNegativeWidths) {
    zm_test::LogLevel all(0);
    ReportCapture cap;
    PdlDb d("HDR { a : 16; b : 32; c : 8; }; M { a : 8; b : a - 10; c : 8; };");
    EXPECT_EQ(decode(d.node("HDR"), {0x12, 0x34, 0x56}), "HDR N:HDR@0 F:a@0/16=4660 F:b@16/8=86 /N:HDR@0");
    EXPECT_TRUE(cap.contains("Bad field width 32 in field \"HDR.b\" during receive - offset is 16 total bits are 24"));
    EXPECT_EQ(decode(d.node("M"), {3, 7}), "HDR N:M@0 F:a@0/8=3 F:b@8/0=0 F:c@8/8=7 /N:M@0");
    EXPECT_TRUE(cap.contains("width expression for field \"b\" is negative"));
}

TEST(DecodeWalk, ChildSelectionAndChildWidth) {
    PdlDb d("A { a : 8; }; B { b : 8; }; C { c : 8; };\n"
            "HDR { t : 8; u : 8; child(t) : 0 : { A(1), B(u == 9), C(3, -8) }; };\n"  // C starts one byte back
            "IN { x : 8; y : 8; z : 8; }; LEN { len : 8; child(0) : len * 8 : { IN(default) }; after : 8; };");
    Node* n = d.node("HDR");
    EXPECT_EQ(decode(n, {1, 0, 0x11}), "HDR N:HDR@0 F:t@0/8=1 F:u@8/8=0 N:A@16 F:a@16/8=17 /N:A@16 /N:HDR@0");
    // Conditions are tried in list order (newest first): C's value does not match, B's condition holds.
    EXPECT_EQ(decode(n, {7, 9, 0x22}), "HDR N:HDR@0 F:t@0/8=7 F:u@8/8=9 N:B@16 F:b@16/8=34 /N:B@16 /N:HDR@0");
    EXPECT_EQ(decode(n, {3, 9, 0x22}), "HDR N:HDR@0 F:t@0/8=3 F:u@8/8=9 N:C@8 F:c@8/8=9 /N:C@8 /N:HDR@0");
    // No match and no default: the rest is DATA with the child field's width, the walk ends.
    EXPECT_EQ(decode(n, {5, 0, 0x22}), "HDR N:HDR@0 F:t@0/8=5 F:u@8/8=0 D:child@16/0 /N:HDR@0");
    d.db.set_current_node(n);
    d.db.add_child("A", nullptr, 0);  // default
    EXPECT_EQ(decode(n, {5, 0, 0x22}), "HDR N:HDR@0 F:t@0/8=5 F:u@8/8=0 N:A@16 F:a@16/8=34 /N:A@16 /N:HDR@0");

    // The child may start fields only within len bytes; the parent goes on after the child area.
    EXPECT_EQ(decode(d.node("LEN"), {1, 0xA, 0xB, 0xC}),
              "HDR N:LEN@0 F:len@0/8=1 N:IN@8 F:x@8/8=10 /N:IN@8 F:after@16/8=11 /N:LEN@0");
    EXPECT_EQ(decode(d.node("LEN"), {2, 0xA, 0xB, 0xC}),
              "HDR N:LEN@0 F:len@0/8=2 N:IN@8 F:x@8/8=10 F:y@16/8=11 /N:IN@8 F:after@24/8=12 /N:LEN@0");
}

TEST(DecodeWalk, Arrays) {
    PdlDb d("opt { type : 8; len : (type > 1) * 8; }; HDR { count : 8; opt[count] : 0; tail : 8; };\n"
            "o { k : 8; }; M { o[o.k == 0] : 0; tail : 8; };\n"
            "p { q : 8; }; K { p[] : 0; tail : 8; };");
    EXPECT_EQ(decode(d.node("HDR"), {0, 0xEE}), "HDR N:HDR@0 F:count@0/8=0 A:opt@8 /A:opt@8 F:tail@8/8=238 /N:HDR@0");
    EXPECT_EQ(decode(d.node("HDR"), {2, 1, 7, 3, 0xEE}),
              "HDR N:HDR@0 F:count@0/8=2 A:opt@8 N:opt@8[1] F:type@8/8=1[1] F:len@16/0=0[1] /N:opt@8 "
              "N:opt@16[2] F:type@16/8=7[2] F:len@24/8=3[2] /N:opt@16 /A:opt@8 F:tail@32/8=238 /N:HDR@0");
    // Until equal: stops after the element whose type reads 0.
    EXPECT_EQ(decode(d.node("M"), {5, 6, 0, 0xEE}),
              "HDR N:M@0 A:o@0 N:o@0[1] F:k@0/8=5[1] /N:o@0 N:o@8[2] F:k@8/8=6[2] /N:o@8 "
              "N:o@16[3] F:k@16/8=0[3] /N:o@16 /A:o@0 F:tail@24/8=238 /N:M@0");
    // Unbounded brackets with a zero width: one empty element.
    EXPECT_EQ(decode(d.node("K"), {0xEE}), "HDR N:K@0 A:p@0 N:p@0[1] /N:p@0 /A:p@0 F:tail@0/8=238 /N:K@0");
}

TEST(DecodeWalk, SelfReferenceAndEmptyElementsStop) {
    ReportCapture cap;
    PdlDb d("LOOP { z : 0; child(0) : 0 : { LOOP(default) }; }; el { w : 0; }; N { el[] : 8; };");
    std::string t = decode(d.node("LOOP"), {1, 2});
    // Balanced however deep it went.
    size_t opens = 0, closes = 0;
    for (size_t i = t.find("N:"); i != std::string::npos; i = t.find("N:", i + 1)) (t[i - 1] == '/' ? closes : opens)++;
    EXPECT_EQ(opens, static_cast<size_t>(kMaxDecodeDepth));
    EXPECT_EQ(opens, closes);
    EXPECT_TRUE(cap.contains("Decode stopped: descriptions nested too deeply"));

    // An array whose elements consume nothing ends instead of spinning.
    EXPECT_EQ(decode(d.node("N"), {1}), "HDR N:N@0 A:el@0 N:el@0[1] F:w@0/0=0[1] /N:el@0 /A:el@0 /N:N@0");
}

TEST(DecodeWalk, DecodedOnceLentBlocksAndGrowth) {
    PdlDb d("HDR { a : 8; }; b { x : 8; }; K { b[100] : 0; };");
    Node* n = d.node("HDR");
    Packet once({1, 0});
    ASSERT_TRUE(decode_packet(once.buf, n, nullptr));
    once.buf->data()[0] = 2;
    ASSERT_TRUE(decode_packet(once.buf, n, nullptr));  // already decoded: unchanged
    EXPECT_EQ((*decode_tree(once.buf))[2].value, 1u);

    // A lent block is filled in place and survives the buffer's release with its owner.
    DecodeBlock lent(7);
    {
        Packet e({1});
        e.buf->decode = &lent;
        ASSERT_TRUE(decode_packet(e.buf, n, nullptr));
        EXPECT_EQ(lent.count(), 4u);
    }
    EXPECT_EQ(lent.count(), 4u);

    // A tree beyond the block's room grows and stays balanced.
    Packet big(std::vector<uint8_t>(100, 0x5A));
    ASSERT_TRUE(decode_packet(big.buf, d.node("K"), nullptr));
    EXPECT_EQ(decode_tree(big.buf)->count(), 305u);  // HDR, K, array, 100 x (node, field, end), two ends

    // No base node: no tree.
    Packet none({1});
    EXPECT_FALSE(decode_packet(none.buf, nullptr, nullptr));
    EXPECT_EQ(none.buf->decode, nullptr);
}

TEST(DecodeExpr, OperatorsAndBounds) {
    ReportCapture cap;
    PdlDb d("HDR { a : 8; };");
    d.field("HDR.a")->cur_value_ = 7;
    d.db.set_current_node(d.node("HDR"));
    ProtoDb& db = d.db;
    auto num = [&](int32_t v) { return db.make_number(static_cast<uint32_t>(v)); };
    auto ev = [&](int type, int32_t x, int32_t y) { return eval_expr(db.make_expression(type, num(x), num(y))); };
    // Signed 32-bit arithmetic that wraps; division by zero and INT32_MIN / -1 do not trap.
    EXPECT_EQ(eval_expr(db.make_expression(EXPR_NOT, num(0), nullptr)), 1);
    EXPECT_EQ((std::vector<int32_t>{ev(EXPR_LT, -1, 0), ev(EXPR_GT, -1, 0), ev(EXPR_ADD, INT32_MAX, 1),
                                    ev(EXPR_MUL, -4, 6), ev(EXPR_DIV, -7, 2), ev(EXPR_MOD, -7, 2)}),
              (std::vector<int32_t>{1, 0, INT32_MIN, -24, -3, -1}));
    EXPECT_EQ((std::vector<int32_t>{ev(EXPR_DIV, 7, 0), ev(EXPR_MOD, 7, 0), ev(EXPR_DIV, INT32_MIN, -1),
                                    ev(EXPR_MOD, INT32_MIN, -1)}),
              (std::vector<int32_t>{0, 0, INT32_MIN, 0}));
    EXPECT_EQ(eval_expr(db.make_expression(EXPR_MUL, db.make_name("a"), num(3))), 21);
    EXPECT_TRUE(cap.lines.empty());
    // Short circuit: the bad right operand is never evaluated.
    Expr* bad = db.make_expression(99, num(1), num(2));
    EXPECT_EQ(eval_expr(db.make_expression(EXPR_AND, num(0), bad)), 0);
    EXPECT_EQ(eval_expr(db.make_expression(EXPR_OR, num(3), bad)), 1);
    EXPECT_TRUE(cap.lines.empty());
    EXPECT_EQ(eval_expr(bad), 0);
    EXPECT_TRUE(cap.contains("Bad Expression Type 99"));
}

TEST(DecodeExpr, BuiltinsReadTheDecodeInProgress) {
    // Widths from peek (the low nibble of byte 0, in source argument order), pdu_length and frag_offset;
    // a peek beyond the packet reads zeros and touches nothing past it.
    PdlDb d("IN { rest : pdu_length - frag_offset; };\n"
            "HDR { p : peek(4, 4) * 8; child(0) : 0 : { IN(default) }; };\n"
            "M { q : peek(12, 4) * 1; r : peek(800, 8); };");
    EXPECT_EQ(decode(d.node("HDR"), {0x01, 0xAA, 0xBB, 0xCC}),
              "HDR N:HDR@0 F:p@0/8=1 N:IN@8 F:rest@8/24=11189196 /N:IN@8 /N:HDR@0");
    EXPECT_EQ(decode(d.node("M"), {0x00, 0x08}), "HDR N:M@0 F:q@0/8=0 F:r@8/0=0 /N:M@0");
}

// The walk drives the filter engine: an empty node is still "entered", fields
// are read with their bytes, and owner cells tell the result after the decode.
// A string value may be shorter than its field (the rest is NULs); other values never.
TEST(DecodeWalk, FilterPassInTheSameWalk) {
    PdlDb d("EMPTY { };\n"
            "HDR { t : 8; name : 64 : display = \"name %str\"; nib : 4; blob : 40; pad : 4;\n"
            "  child(t) : 0 : { EMPTY(1) }; };");
    Node* n = d.node("HDR");
    DecodeContext* ctx = create_context();
    int cells[5] = {};
    const char* texts[] = {"EMPTY", "HDR t=1", "HDR name=hello", "HDR blob=0x0102030405", "HDR blob=0x01020304"};
    for (int i = 0; i < 5; ++i) {
        std::unique_ptr<Filter> f = compile_filter(d.db, texts[i], n, false);
        ASSERT_TRUE(f) << texts[i];
        insert_instance(zm_test_interp(), ctx, texts[i], &cells[i], f.release());
    }
    auto run = [&](const std::vector<uint8_t>& bytes) {
        Packet p(bytes);
        EXPECT_TRUE(decode_packet(p.buf, n, ctx));
        EXPECT_EQ(ctx->buffer, nullptr);  // cleared after the decode
        std::string s;
        for (int c : cells) s += std::to_string(c);
        return s;
    };
    // t, "hello" and three NULs, nib 0xA, blob 01 02 03 04 05 from bit 76, pad, one more byte.
    std::vector<uint8_t> p = {1, 'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0xA0, 0x10, 0x20, 0x30, 0x40, 0x50, 0xEE};
    EXPECT_EQ(run(p), "11110");
    // The child is reached only while bytes remain.
    EXPECT_EQ(run(std::vector<uint8_t>(p.begin(), p.end() - 1)), "01110");
    p[0] = 2;
    EXPECT_EQ(run(p), "00110");
    p[0] = 1;
    p[13] = 0x41;
    EXPECT_EQ(run(p), "11100");
    p[5] = 'p';
    EXPECT_EQ(run(p), "11000");
    // The name cut short ends the packet before the child: no EMPTY, no name match,
    // and the comparison reads nothing past the packet.
    EXPECT_EQ(run({1, 'h', 'e', 'l', 'l'}), "01000");
    release_context(ctx);
    for (Node* x = d.db.first_node(); x; x = x->next_) EXPECT_EQ(x->match_points_, nullptr);
}

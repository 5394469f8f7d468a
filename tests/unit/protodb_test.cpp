// Protocol database and PDL parser: the structures built from PDL text, and the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "core/debug_flags.h"
#include "core/report.h"
#include "encode/checksum/checksum.h"
#include "filter/sequence.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
#include "decode_util.h"

using namespace zm;

namespace {

using Db = zm_test::PdlDb;

// The shape of an expression, fully parenthesised: names, numbers and operator codes.
std::string shape(const Expr* e) {
    if (!e) return "?";
    switch (e->type_) {
    case EXPR_NUMBER: return std::to_string(e->value_);
    case EXPR_NAME: return e->name_;
    case EXPR_CALL: return e->name_ + "()";
    case EXPR_NOT: return "(!" + shape(e->left_) + ")";
    default: return "(" + shape(e->left_) + " " + std::to_string(e->type_) + " " + shape(e->right_) + ")";
    }
}

std::string width_of(Db& d, const std::string& expr) {
    static int n = 0;
    std::string node = "W" + std::to_string(++n);
    EXPECT_EQ(d.parse(node + " { a : 1; b : 2; c : 3; x : " + expr + "; };"), PdlResult::ok) << expr;
    Field* f = d.db.find_field(d.db.find_node(node), "x");
    return f ? shape(f->width_) : "";
}

std::vector<uint32_t> numbers(const Symbol* s) {
    std::vector<uint32_t> v;
    for (; s; s = s->next_) v.push_back(s->number());
    return v;
}

}  // namespace

TEST(PdlExpressions, PrecedenceAndAssociativity) {
    Db d;
    EXPECT_EQ(width_of(d, "a + b * c"), "(a 6 (b 8 c))");
    EXPECT_EQ(width_of(d, "a == b & c"), "((a 15 b) 4 c)");
    EXPECT_EQ(width_of(d, "a | b && c"), "((a 5 b) 16 c)");
    EXPECT_EQ(width_of(d, "! a + b"), "((!a) 6 b)");
    EXPECT_EQ(width_of(d, "a - b - c"), "((a 7 b) 7 c)");
    EXPECT_EQ(width_of(d, "a || b && c != 1"), "(a 17 (b 16 (c 14 1)))");
    EXPECT_EQ(width_of(d, "a < b + 1 % c"), "(a 2 (b 6 (1 10 c)))");
    EXPECT_EQ(width_of(d, "(a + b) * c"), "((a 6 b) 8 c)");
}

TEST(PdlExpressions, NamesResolveToFieldsBuiltInsOrLater) {
    Db d;
    ASSERT_EQ(d.parse("N { a : 8; b : a * 8 + pdu_length - node; c : later; later : 8; };"), PdlResult::ok);
    Field* b = d.field("N.b");
    ASSERT_TRUE(b);
    EXPECT_TRUE(d.field("N.a")->flags_ & FLD_REFERENCED);
    const Expr* sum = b->width_->left_;  // (a * 8) + pdu_length
    EXPECT_EQ(sum->left_->left_->evaluator_, Evaluator::field_value);
    EXPECT_EQ(sum->left_->left_->field_, d.field("N.a"));
    EXPECT_EQ(sum->right_->evaluator_, Evaluator::pdu_length);
    EXPECT_EQ(b->width_->right_->evaluator_, Evaluator::frag_start);  // "node" is frag_start

    Field* c = d.field("N.c");
    EXPECT_EQ(c->width_->field_, nullptr);
    EXPECT_EQ(d.db.unresolved_count(), 1u);
    d.db.resolve_unresolved();
    EXPECT_EQ(c->width_->field_, d.field("N.later"));
    EXPECT_EQ(d.output(), "");
}

TEST(PdlExpressions, CallsArgumentsAndCalculatedValues) {
    Db d;
    ReportCapture cap;
    ASSERT_EQ(d.parse("P { a : 8; b : f() + g(1,,2) : send = checksum(udp, ip_offset, ip_offset);\n"
                      "  c : 16 : send = length(node, pdu) - 40;\n"
                      "  d : 16 : send = checksum(nosuch, node, pdu);\n"
                      "  e : 16 : send = length(Q, R);\n"
                      "  s : 8 : send = bitswap; };"),
              PdlResult::ok);
    Field* b = d.field("P.b");
    EXPECT_EQ(b->width_->left_->args_, nullptr);
    const ArgCell* g = b->width_->right_->args_;  // last argument first, the empty one dropped
    EXPECT_EQ(std::make_tuple(g->expr_->value_, g->next_->expr_->value_, g->next_->next_),
              std::make_tuple(2u, 1u, nullptr));

    const Symbol* sum = b->value_source_;
    ASSERT_TRUE(sum);
    EXPECT_EQ(std::make_tuple(sum->kind_, sum->range_start_, sum->range_end_, sum->field_),
              std::make_tuple(SYM_CHECKSUM, Evaluator::ip_offset, Evaluator::frag_start, b));
    EXPECT_EQ(sum->checksum_fn_, find_checksum("udp"));
    const Symbol* len = d.field("P.c")->value_source_;
    ASSERT_TRUE(len);
    EXPECT_EQ(std::make_tuple(len->kind_, len->range_start_, len->range_end_),
              std::make_tuple(SYM_LENGTH, Evaluator::frag_start, Evaluator::pdu_end));

    EXPECT_EQ(d.field("P.d")->value_source_, nullptr);
    EXPECT_TRUE(cap.contains("unknown checksum type \"nosuch\""));

    const Symbol* e = d.field("P.e")->value_source_;  // Q and R are not nodes yet
    EXPECT_EQ(std::make_tuple(e->range_start_, e->range_end_, d.db.find_node("P")->range_start_node_),
              std::make_tuple(Evaluator::frag_start, Evaluator::frag_end, nullptr));
    EXPECT_TRUE(d.field("P.s")->flags_ & FLD_BITSWAP);
}

TEST(PdlScanner, NumbersModesFieldNamesAndLineDirectives) {
    Db d;
    ASSERT_EQ(d.parse("H { a : 0x1234 : default = 0x123456789;\n"
                      "  b : 4294967297 : default = 0x;\n"
                      "  c : 8 : legal_values = (A = 0xffffffff, B = 0x0102030405, \"ab\", \"abcdef\"); };"),
              PdlResult::ok);
    Field* a = d.field("H.a");
    EXPECT_EQ(a->width_->value_, 4660u);
    const Symbol* dflt = a->value_source_;
    ASSERT_EQ(dflt->length_, 5u);
    EXPECT_EQ(std::vector<uint8_t>(dflt->value_at(), dflt->value_at() + 5),
              (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89}));
    Field* b = d.field("H.b");
    EXPECT_EQ(b->width_->value_, 1u);  // decimal wraps at 32 bits
    EXPECT_EQ(b->value_source_->length_, 0u);
    EXPECT_EQ(b->value_source_->number(), 0u);
    Symbol* lv = d.field("H.c")->legal_values_;  // newest first
    EXPECT_EQ(lv->text(), "abcdef");
    EXPECT_EQ(lv->next_->text(), "ab");
    EXPECT_EQ(lv->next_->next_->length_, 5u);
    EXPECT_EQ(lv->next_->next_->next_->number(), 0xffffffffu);

    // Attribute words are keywords only after ":"; node attributes use plain names.
    ASSERT_EQ(d.parse("K { default : 8 : display = \"%dec\"; index : 8; } display = \"k node\", index = 3;"),
              PdlResult::ok);
    EXPECT_EQ(d.field("K.default")->display_format_, DISP_DEC);
    Node* k = d.db.find_node("K");
    EXPECT_EQ(find_node_attr(k, NATTR_DISPLAY)->text_, "k node");
    EXPECT_EQ(find_node_attr(k, NATTR_INDEX)->number_, 3u);
    EXPECT_EQ(d.parse("K2 { a : index; };"), PdlResult::syntax);
    EXPECT_EQ(d.parse("K3 { a : 0X1; };"), PdlResult::syntax);

    ASSERT_EQ(d.parse("# 5 \"ip.pdl\" 1\nIP { len : 16; };\n# 20 \"other.pdl\"\n"
                      "O { r : 8 : legal_values = (X:IP.len, IP.len, O.nope); };\n"),
              PdlResult::ok);
    EXPECT_STREQ(d.db.find_node("IP")->file_, "ip.pdl");
    EXPECT_STREQ(d.db.find_node("O")->file_, "other.pdl");
    Symbol* refs = d.field("O.r")->legal_values_;
    EXPECT_EQ(refs->kind_, SYM_FIELD_REF);
    EXPECT_EQ(refs->ref_field_, nullptr);  // O.nope: own node, reported
    EXPECT_EQ(refs->next_->ref_field_, d.field("IP.len"));
    EXPECT_EQ(refs->next_->next_->ref_field_, d.field("IP.len"));

    // Blanks around the point make three tokens; the error shows the line.
    EXPECT_EQ(d.parse("\n\nB { a : IP . len; };"), PdlResult::syntax);
    EXPECT_EQ(d.parse("# 7 \"x.pdl\" 1 3\n"), PdlResult::syntax);
    EXPECT_EQ(d.parse("T { a : 8 : tags = (bare); };"), PdlResult::syntax);
    EXPECT_EQ(d.parse(""), PdlResult::ok);
    EXPECT_EQ(d.parse("   /* only a comment */ \n"), PdlResult::ok);
    EXPECT_EQ(d.output(),
              "t.pdl(1): parse error: 'index'\n"
              "t.pdl(1): parse error: 'X1'\n"
              "other.pdl(3): parse error: '.'\n"
              "x.pdl(6): parse error: '3'\n"
              "x.pdl(1): parse error: 'bare'\n");
}

TEST(PdlScanner, StackOverflowAndTokenTrace) {
    Db d;
    std::string deep = "D { a : " + std::string(20000, '(') + "1" + std::string(20000, ')') + "; };";
    EXPECT_EQ(d.parse(deep), PdlResult::syntax);
    EXPECT_EQ(d.output().substr(0, 45), "t.pdl(1): parser stack overflow: '('\n");

    // The trace names each token and its kind, one line each.
    Db t;
    debug_flags().show_tokens = 1;
    t.parse("Z { default : 0x10; };");
    debug_flags().show_tokens = 0;
    std::string trace = t.output();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 8);
    for (const char* tok : {"\"Z\" (NAME)", "\"{\" (<123>)", "\"default\" (NAME)", "\"0x10\" (NUMBER)"})
        EXPECT_NE(trace.find(std::string("): token=") + tok), std::string::npos) << tok;
}

TEST(PdlScanner, ReadFailureEndsOnlyThatParse) {
    Db d;
    FILE* dir = std::fopen("/", "r");  // opens, but every read fails
    ASSERT_TRUE(dir);
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_pdl(d.db, dir), PdlResult::scan_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "input in flex scanner failed\n");
    std::fclose(dir);
    EXPECT_EQ(d.parse("R { a : 8; };"), PdlResult::ok);
}

TEST(PdlSymbols, DuplicatesDefaultsAndRanges) {
    Db d;
    ReportCapture cap;
    ASSERT_EQ(d.parse("S { a : 8 : legal_values = (A = 1, B = 1, C = 2);\n"
                      "  b : 8 : default = 2, legal_values = (X = 1, Y = 2);\n"
                      "  r : 8 : legal_values = (N = 1 - 3, 7 - 9, M = 5 - 4);\n"
                      "  h : 8 : legal_values = (P = 0x616263646566, Q = 0x616263646566); };"),
              PdlResult::ok);
    EXPECT_TRUE(cap.contains("Symbol \"B\" defined w/ same value, \"1\", as symbol \"A\""));
    EXPECT_TRUE(cap.contains("Symbol \"Q\" defined w/ same value, \"abcdef\", as symbol \"P\""));
    Field* a = d.field("S.a");
    EXPECT_EQ(numbers(a->legal_values_), (std::vector<uint32_t>{2, 1}));
    EXPECT_STREQ(a->legal_values_->next_->name(), "B");

    Field* b = d.field("S.b");
    EXPECT_STREQ(b->value_source_->name(), "Y");  // bound to the legal value
    EXPECT_EQ(numbers(b->legal_values_), (std::vector<uint32_t>{2, 1}));

    Symbol* r = d.field("S.r")->legal_values_;
    EXPECT_EQ(numbers(r), (std::vector<uint32_t>{7, 9, 1, 2, 3}));
    EXPECT_EQ(std::make_tuple(r->kind_, r->next_->kind_), std::make_tuple(SYM_RANGE_LOW, SYM_RANGE_HIGH));
    EXPECT_STREQ(r->next_->next_->next_->next_->name(), "N");

    // A huge named range stays a pair of bounds instead of billions of symbols.
    Symbol* big = d.db.make_range_symbols("ALL", 0, 0xffffffffu);
    EXPECT_EQ(numbers(big), (std::vector<uint32_t>{0, 0xffffffffu}));
}

TEST(PdlNodes, ArraysAndChildren) {
    Db d;
    ReportCapture cap;
    ASSERT_EQ(d.parse("A { n : 8; o[] : 32; p[3] : 0; q[n] : 0; r[n == 0] : 0; s[n < 2] : 0; t[zz] : 0;\n"
                      "  child(n) : 0 : { B(1), C(2, 8), B(3, -4), D(default) }; };\n"),
              PdlResult::ok);
    Node* a = d.db.find_node("A");
    Field* o = d.field("A.o");
    EXPECT_EQ(o->array_, nullptr);
    EXPECT_TRUE(o->flags_ & FLD_SUBNODES);
    ASSERT_TRUE(o->element_node_);
    const ChildLink* up = o->element_node_->parents_;
    EXPECT_EQ(std::make_tuple(o->element_node_->flags_, up->node_, up->flags_),
              std::make_tuple(NODE_ARRAY_ELEMENT, a, LINK_ARRAY));
    EXPECT_EQ(d.field("A.p")->array_->count_, 3u);
    EXPECT_EQ(d.field("A.q")->array_->count_field_, d.field("A.n"));
    EXPECT_EQ(d.field("A.r")->array_->op_, EXPR_EQ);
    EXPECT_EQ(d.field("A.s")->array_->op_, EXPR_LT);
    EXPECT_TRUE(cap.contains("width expression for field \"unknown\" must have == or != as operator"));
    EXPECT_TRUE(cap.contains("unknown field \"zz\" in array expression in node \"A\""));

    // Children newest first, with constants, offsets and the default link.
    std::vector<std::string> kids;
    for (ChildLink* l = a->children_; l; l = l->next_)
        kids.push_back(l->node_->name_ + "/" + std::to_string(l->flags_) + "/" + std::to_string(l->value_) + "/" +
                       std::to_string(l->offset_));
    EXPECT_EQ(kids, (std::vector<std::string>{"D/1/0/0", "B/2/3/-4", "C/2/2/8", "B/2/1/0"}));
    EXPECT_EQ(a->default_child_, a->children_);
    EXPECT_EQ(a->selector_->field_, d.field("A.n"));
}

TEST(PdlNodes, RedefinitionAbandonsTheText) {
    Db d;
    ASSERT_EQ(d.parse("R1 { a : 8; };"), PdlResult::ok);
    d.db.set_current_file("second.pdl");
    EXPECT_EQ(d.parse("R0 { a : 8; }; R1 { b : 8; }; R2 { c : 8; };"), PdlResult::abandoned);
    EXPECT_TRUE(d.db.find_node("R0")->defined());  // compiled before the redefinition: kept
    EXPECT_EQ(d.db.find_node("R2"), nullptr);
    EXPECT_EQ(d.field("R1.b"), nullptr);
    EXPECT_FALSE(d.db.abandoned() && d.parse("R3 { a : 8; };") != PdlResult::ok);
}

TEST(PdlLookups, FindFieldTagsAndDisplayCodes) {
    Db d;
    ASSERT_EQ(d.parse("IP_HDR { ip_len : 16 : tags = (\"len\", \"sz\", 5), display = \"a %ipa\";\n"
                      "  ip_x : 8 : tags = (\"len\", \"len\"), display = \"address %mac\"; } tags = len;\n"
                      "U { u : 8 : display = \"plain\"; v : 8 : display = \"%zzz\"; w : 8 : display = \"%dec\"; };"),
              PdlResult::ok);
    Field* len = d.field("IP_HDR.ip_len");
    Node* u = d.db.find_node("U");
    EXPECT_EQ(d.db.find_field(u, "X:IP_HDR.ip_len"), len);
    EXPECT_EQ(d.db.find_field(u, "NOPE.ip_len"), nullptr);
    EXPECT_EQ(d.db.find_field(u, "u"), d.field("U.u"));
    EXPECT_EQ(len->display_format_at_, 2);
    // Unknown or absent conversions display in hex.
    EXPECT_EQ(zm_test::each(std::vector<const char*>{"IP_HDR.ip_len", "IP_HDR.ip_x", "U.u", "U.v", "U.w"},
                            [&](const char* n) { return d.field(n)->display_format_; }),
              (std::vector<int>{DISP_IPA, DISP_MAC, DISP_HEX, DISP_HEX, DISP_DEC}));

    // Tag lists are listed by the script tests of pdf withtag; a number tag is kept as its text.
    EXPECT_EQ(d.db.find_tag("len"), d.db.intern_tag("len"));
    EXPECT_TRUE(d.db.find_tag("5"));
}

TEST(PdlExpressions, DepthIsBoundedAndLongNamesKept) {
    Db d;
    ReportCapture cap;
    std::string chain = "1";
    for (int i = 0; i < 5000; ++i) chain += " + 1";
    EXPECT_EQ(d.parse("L { a : " + chain + "; };"), PdlResult::syntax);
    EXPECT_TRUE(cap.contains("expression in node \"L\" nests more than 1000 operators deep"));
    std::string name(5000, 'f');
    EXPECT_EQ(d.parse("# 1 \"" + name + "\"\nLONG { a : 8; };\n"), PdlResult::ok);
    EXPECT_EQ(std::string(d.db.find_node("LONG")->file_), name);
    EXPECT_EQ(d.parse("E { a : 8; }"), PdlResult::syntax);  // the error is at the end of the text
    EXPECT_EQ(d.output().substr(d.output().rfind('(')), "(1): parse error: ''\n");
}

TEST(PdlSequences, StepsInWrittenOrderWithFieldLists) {
    Db d;
    ASSERT_EQ(d.parse("FIRST { z : 8; }; SQ { f : 8; g : 8; };\n"
                      "sequence seq_t { filter \"SQ f=1\"; save SQ.f g SQ.g; append \"x\"; other \"y\"; };"),
              PdlResult::ok);
    Sequence* s = sequences().find("seq_t");
    ASSERT_TRUE(s);
    std::vector<std::string> steps;
    for (SeqStep* st = s->steps_; st; st = st->next_)
        steps.push_back(std::to_string(st->type_) + ":" + st->text_ + (st->known_keyword_ ? "" : "?"));
    EXPECT_EQ(steps, (std::vector<std::string>{"0:SQ f=1", "1:", "3:x", "0:y?"}));
    // Field lists stay newest first; only NODE.field names resolve (against the first node).
    SeqRef* r = s->steps_->next_->refs_;
    EXPECT_EQ(r->field_, d.field("SQ.g"));
    EXPECT_EQ(r->next_->field_, nullptr);
    EXPECT_EQ(r->next_->text_, "g");
    EXPECT_EQ(r->next_->next_->field_, d.field("SQ.f"));
}

// Filter language: tokens, identifier classification, grammar actions and their messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/debug_flags.h"
#include "core/report.h"
#include "filter/filter.h"
#include "pdl/protodb.h"
#include "support.h"

namespace {

using namespace zm;

struct Compiled {
    std::unique_ptr<Filter> filter;
    std::string out;  // what the compiler printed
};

Compiled compile(const char* text, bool send = false, Node* base = nullptr) {
    testing::internal::CaptureStdout();
    Compiled c;
    c.filter = compile_filter(zm_test::shipped_database(), text, base, send);
    c.out = testing::internal::GetCapturedStdout();
    return c;
}

std::string hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return s;
}

// The conditions of the innermost node: "field=v1|v2" per condition, each value the 32-bit key
// a field of up to 32 bits is compared with, or the value's bytes in hex for a wider field;
// "<error>" when the text does not compile.
std::string conditions(const char* text, Node* base = nullptr) {
    Compiled c = compile(text, false, base);
    if (!c.filter) return "<error>";
    std::string s;
    for (const Condition* k = c.filter->first_->conditions_; k; k = k->next_) {
        s += (s.empty() ? "" : " ") + k->field_->name_ + "=";
        const Expr* w = k->field_->width_;
        bool narrow = w && w->type_ == EXPR_NUMBER && w->value_ <= 32;
        for (uint32_t i = 0; i < k->value_count_; ++i)
            s += (i ? "|" : "") + (narrow ? std::to_string(k->keys_[i]) : "0x" + hex(k->value(i), k->value_size_));
    }
    return s;
}

// The filter's nodes outermost first, a nested one followed by "<" and the node enclosing it;
// checks that the links inwards and outwards agree.
std::string nodes(const Filter* f) {
    std::string s;
    for (const FilterNode* n = f->last_; n; n = n->prev_) {
        EXPECT_EQ(n->prev_ ? n->prev_->next_ : f->first_, n);
        s += (s.empty() ? "" : " ") + n->node_->name_ + (n->enclosing_ ? "<" + n->enclosing_->node_->name_ : "");
    }
    return s;
}

struct FlagGuard {
    DebugFlags saved = debug_flags();
    ~FlagGuard() { debug_flags() = saved; }
};

TEST(FilterLanguage, ValuesOfEachKind) {
    Node* enet = zm_test::shipped_database().find_node("ENET_HDR");
    const std::pair<const char*, const char*> rows[] = {
        {"IP_HDR ip_ttl=64", "ip_ttl=64"},
        {"UDP_HDR udp_dest_port=(53|137|138)", "udp_dest_port=53|137|138"},
        // Commas inside a value list separate values; the node stays current.
        {"IP_HDR ip_proto=(TCP,UDP) ip_ttl=5", "ip_proto=6|17 ip_ttl=5"},
        // A legal-value name is a value only after its own field.
        {"IP_HDR ip_ttl=UDP", "<error>"},
        {"ENET_HDR dst=0x123456789", "dst=0x0123456789"},
        {"ENET_HDR src=00:a0:24:11:22:33", "src=0x00a024112233"},
        {"IP_HDR ip_src_address=10.1.2.3", "ip_src_address=167838211"},  // 0x0a010203
        {"MAC_HEADER type=IP", "type=2048"},  // the base node given: ENET_HDR
        {"IP_HDR ip_ttl>5 ip_tos&1", "ip_ttl=5 ip_tos=1"},  // other operators are matched as equality
    };
    for (const auto& [text, want] : rows) EXPECT_EQ(conditions(text, enet), want) << text;
    EXPECT_STREQ(compile("ENET_HDR src=00:a0:24:11:22:33").filter->first_->conditions_->value_text_,
                 "00:a0:24:11:22:33");

    Compiled three = compile("ENET_HDR, IP_HDR || UDP_HDR");
    ASSERT_TRUE(three.filter);
    EXPECT_EQ(nodes(three.filter.get()), "ENET_HDR IP_HDR UDP_HDR");
    EXPECT_NE(three.out.find("filt(120): LOGICAL_OR not implemented...\n"), std::string::npos);
}

TEST(FilterLanguage, DebugSwitches) {
    FlagGuard guard;
    debug_flags().show_tokens = 1;
    debug_flags().rop_warn = 1;
    debug_flags().display_filter_tree = 1;
    struct Row {
        const char* text;
        std::vector<std::string> tokens;
        bool compiles;
    };
    const Row rows[] = {
        {"IP_HDR ip_ttl=0x1234", {"\"0x1234\" (HEX_NUMBER)"}, true},
        {"IP_HDR ip_ttl=0X12", {"\"0\" (NUMBER)", "\"X12\" (STRING)"}, false},
        {"IP_HDR ip_ttl=256.1.1.1", {"\"256.1\" (FLOAT_NUMBER)"}, false},
        {"IP_HDR ip_ttl=123:456", {"\"123\" (NUMBER)", "\":\" (<58>)"}, false},
        {"UDP_HDR udp_dest_port=seq_a:UDP_HDR.udp_src_port", {"(SEQUENCE_SPEC)"}, true},
        {"UDP_HDR udp_dest_port=abc:UDP_HDR.udp_src_port", {"(SEQUENCE_SPEC_ERR)"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        Compiled c = compile(r.text);
        for (const std::string& t : r.tokens) EXPECT_NE(c.out.find(t), std::string::npos) << t;
        EXPECT_EQ(c.filter != nullptr, r.compiles);
    }
    // The wording for unknown operators, and a nested node in a dump (whose layout the reference
    // page's example checks).
    Compiled c = compile("IP_HDR < UDP_HDR > ip_ttl=(1|64) ip_tos&1");
    EXPECT_NE(c.out.find("unsupported relational operator \"<unknown_rop>\", continuing...\n"), std::string::npos);
    EXPECT_NE(c.out.find("  fnode->node->name = \"UDP_HDR\"\n    subnode = \"IP_HDR\"\n"), std::string::npos) << c.out;
    testing::internal::CaptureStdout();
    dump_filter(nullptr, stdout);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no filter...\n"), std::string::npos);
}

TEST(FilterLanguage, NestingAndItsStack) {
    Compiled c = compile("ENET_HDR < IP_HDR ip_ttl=1 > type=IP, UDP_HDR");
    ASSERT_TRUE(c.filter);
    EXPECT_EQ(nodes(c.filter.get()), "ENET_HDR IP_HDR<ENET_HDR UDP_HDR");
    ASSERT_TRUE(c.filter->last_->conditions_);  // the fields after ">" are the enclosing node's
    EXPECT_EQ(c.filter->last_->conditions_->field_->name_, "type");

    std::string deep = "ENET_HDR";
    for (int i = 0; i < 21; ++i) deep += " < IP_HDR";
    for (int i = 0; i < 21; ++i) deep += " >";
    Compiled d = compile(deep.c_str());
    EXPECT_TRUE(d.filter);
    EXPECT_NE(d.out.find("lex_node_stack blown!\n"), std::string::npos);

    // The parser's stack is bounded too.
    std::string abyss = "ENET_HDR";
    for (int i = 0; i < 5000; ++i) abyss += " < IP_HDR";
    Compiled a = compile(abyss.c_str());
    EXPECT_FALSE(a.filter);
    EXPECT_NE(a.out.find("parser stack overflow\n"), std::string::npos);
    EXPECT_TRUE(compile("IP_HDR < UDP_HDR >").filter);
}

TEST(FilterLanguage, ScannerLimitsSendOnlyTokensAndSendValues) {
    ReportCapture cap;
    Compiled raw = compile("UDP_HDR, RAWDATA 0x0102");
    EXPECT_FALSE(raw.filter);
    EXPECT_TRUE(cap.contains("RAWDATA is illegal in receive filters"));

    // In a send filter RAWDATA is a node of its own bytes; an odd digit count is padded in front.
    for (auto [text, bytes] : {std::pair{"UDP_HDR, RAWDATA 0x010203", "010203"}, {"RAWDATA abc", "0abc"}}) {
        Compiled c = compile(text, true);
        ASSERT_TRUE(c.filter) << text;
        EXPECT_EQ(c.filter->first_->node_, nullptr);
        EXPECT_EQ(hex(c.filter->first_->raw_, c.filter->first_->raw_bits_ / 8), bytes);
    }

    EXPECT_FALSE(compile("MAC_HEADER").filter);
    EXPECT_TRUE(cap.contains("no base node for filter"));

    std::string huge = "IP_HDR ip_ttl=" + std::string(9000, '7');
    EXPECT_FALSE(compile(huge.c_str()).filter);
    EXPECT_TRUE(cap.contains("token too large, exceeds YYLMAX"));

    // Bytes above 127 are ordinary characters to the scanner's tables: a
    // parse error, never a read outside them or a scan that does not end.
    EXPECT_FALSE(compile("DATA data=0x010\xCC" "5", true).filter);
    EXPECT_FALSE(compile("IP_HDR \xFF\x80 ip_ttl=\xE9").filter);

    // A scanner reused after an abandoned text starts clean.
    EXPECT_TRUE(compile("IP_HDR ip_ttl=64").filter);

    // Send values are bounded.
    std::string big = "ENET_HDR dst=0x" + std::string(2 * 157, 'a');
    EXPECT_FALSE(compile(big.c_str(), true).filter);
    EXPECT_TRUE(cap.contains("more than the 156 bytes"));
    Compiled recv = compile(big.c_str());
    ASSERT_TRUE(recv.filter);
    const Condition* c = recv.filter->first_->conditions_;
    EXPECT_EQ(c->value_size_, 157u);
    EXPECT_EQ(c->send_value_len_, 156u);

    // Four legal values take 4 x 52 bytes: fine to match, too many to send.
    EXPECT_TRUE(compile("IP_HDR ip_proto=(TCP|UDP|ICMP|OSPF)").filter);
    EXPECT_FALSE(compile("IP_HDR ip_proto=(TCP|UDP|ICMP|OSPF)", true).filter);
    EXPECT_TRUE(compile("IP_HDR ip_proto=(TCP|UDP|ICMP)", true).filter);
}

}  // namespace

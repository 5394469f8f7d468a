// Filter language: tokens, identifier classification, grammar actions and their messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <unistd.h>

#include "core/debug_flags.h"
#include "core/report.h"
#include "filter/filter.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
#include "support.h"

namespace {

using namespace zm;

ProtoDb& shipped() { return zm_test::shipped_database(); }

struct Compiled {
    std::unique_ptr<Filter> filter;
    std::string out;  // what the compiler printed
};

Compiled compile(const char* text, bool send = false, Node* base = nullptr) {
    ProtoDb& db = shipped();
    testing::internal::CaptureStdout();
    Compiled c;
    c.filter = compile_filter(db, text, base, send);
    c.out = testing::internal::GetCapturedStdout();
    return c;
}

int count_nodes(const Filter* f) {
    int n = 0;
    for (const FilterNode* p = f->first_; p; p = p->next_) ++n;
    return n;
}

struct FlagGuard {
    DebugFlags saved = debug_flags();
    ~FlagGuard() { debug_flags() = saved; }
};

TEST(FilterLanguage, NodesConditionsAndCommas) {
    Compiled c = compile("IP_HDR ip_ttl=64");
    ASSERT_TRUE(c.filter);
    ASSERT_EQ(count_nodes(c.filter.get()), 1);
    const Condition* cond = c.filter->first_->conditions_;
    ASSERT_TRUE(cond);
    EXPECT_EQ(std::make_tuple(cond->next_, cond->field_->name_, cond->value_count_, cond->keys_[0]),
              std::make_tuple(nullptr, std::string("ip_ttl"), 1u, 64u));

    // Written order ENET, IP, UDP: innermost first, next leads outwards.
    Compiled three = compile("ENET_HDR, IP_HDR || UDP_HDR");
    ASSERT_TRUE(three.filter);
    const FilterNode* first = three.filter->first_;
    EXPECT_EQ(std::make_tuple(first->node_->name_, first->next_->node_->name_, first->next_->next_),
              std::make_tuple("UDP_HDR", "IP_HDR", three.filter->last_));
    EXPECT_EQ(three.filter->last_->prev_, first->next_);
    EXPECT_NE(three.out.find("filt(120): LOGICAL_OR not implemented...\n"), std::string::npos);
}

TEST(FilterLanguage, ValueListsAndTheirTypes) {
    Compiled c = compile("UDP_HDR udp_dest_port=(53|137|138)");
    ASSERT_TRUE(c.filter);
    const Condition* cond = c.filter->first_->conditions_;
    ASSERT_EQ(cond->value_count_, 3u);
    EXPECT_EQ(std::vector<uint32_t>(cond->keys_, cond->keys_ + 3), (std::vector<uint32_t>{53, 137, 138}));

    // Commas inside a value list separate values; the node stays current.
    Compiled commas = compile("IP_HDR ip_proto=(TCP,UDP) ip_ttl=5");
    ASSERT_TRUE(commas.filter);
    cond = commas.filter->first_->conditions_;
    ASSERT_EQ(cond->value_count_, 2u);
    EXPECT_EQ(std::vector<uint32_t>(cond->keys_, cond->keys_ + 2), (std::vector<uint32_t>{6, 17}));
    ASSERT_TRUE(cond->next_);
    EXPECT_EQ(cond->next_->field_->name_, "ip_ttl");

    // A legal-value name is a value only after its own field.
    EXPECT_FALSE(compile("IP_HDR ip_ttl=UDP").filter);

    Compiled hex = compile("ENET_HDR dst=0x123456789");
    ASSERT_TRUE(hex.filter);
    cond = hex.filter->first_->conditions_;
    ASSERT_EQ(cond->value_size_, 5u);
    const uint8_t want[] = {0x01, 0x23, 0x45, 0x67, 0x89};
    EXPECT_EQ(std::memcmp(cond->value(0), want, 5), 0);

    Compiled mac = compile("ENET_HDR src=00:a0:24:11:22:33");
    ASSERT_TRUE(mac.filter);
    cond = mac.filter->first_->conditions_;
    ASSERT_EQ(cond->value_size_, 6u);
    EXPECT_EQ(cond->value(0)[1], 0xa0);
    EXPECT_STREQ(cond->value_text_, "00:a0:24:11:22:33");

    Compiled ip = compile("IP_HDR ip_src_address=10.1.2.3");
    ASSERT_TRUE(ip.filter);
    EXPECT_EQ(ip.filter->first_->conditions_->keys_[0], 0x0A010203u);
}

TEST(FilterLanguage, TokenTrace) {
    FlagGuard guard;
    debug_flags().show_tokens = 1;
    Compiled c = compile("IP_HDR ip_ttl=0x1234");
    EXPECT_NE(c.out.find("token=\"0x1234\" (HEX_NUMBER)"), std::string::npos) << c.out;
    c = compile("IP_HDR ip_ttl=0X12");
    EXPECT_NE(c.out.find("token=\"0\" (NUMBER)"), std::string::npos);
    EXPECT_NE(c.out.find("token=\"X12\" (STRING)"), std::string::npos);

    c = compile("IP_HDR ip_ttl=256.1.1.1");
    EXPECT_NE(c.out.find("token=\"256.1\" (FLOAT_NUMBER)"), std::string::npos);
    EXPECT_FALSE(c.filter);

    c = compile("IP_HDR ip_ttl=123:456");
    EXPECT_NE(c.out.find("token=\"123\" (NUMBER)"), std::string::npos);
    EXPECT_NE(c.out.find("token=\":\" (<58>)"), std::string::npos);

    c = compile("UDP_HDR udp_dest_port=seq_a:UDP_HDR.udp_src_port");
    EXPECT_NE(c.out.find("(SEQUENCE_SPEC)"), std::string::npos);
    EXPECT_TRUE(c.filter);
    c = compile("UDP_HDR udp_dest_port=abc:UDP_HDR.udp_src_port");
    EXPECT_NE(c.out.find("(SEQUENCE_SPEC_ERR)"), std::string::npos);
    EXPECT_FALSE(c.filter);
}

TEST(FilterLanguage, OperatorsAreMatchedAsEquality) {
    FlagGuard guard;
    debug_flags().rop_warn = 1;
    Compiled loud = compile("IP_HDR ip_ttl>5 ip_tos&1");
    ASSERT_TRUE(loud.filter);
    EXPECT_EQ(loud.filter->first_->conditions_->keys_[0], 5u);
    EXPECT_NE(loud.out.find("unsupported relational operator \"<unknown_rop>\", continuing...\n"), std::string::npos);
    EXPECT_EQ(compile("IP_HDR ip_ttl=5").out.find("unsupported"), std::string::npos);
}

TEST(FilterLanguage, NestingAndItsStack) {
    Compiled c = compile("ENET_HDR < IP_HDR ip_ttl=1 > type=IP, UDP_HDR");
    ASSERT_TRUE(c.filter);
    // Written order: ENET, IP (nested in ENET), UDP.
    const FilterNode* enet = c.filter->last_;
    ASSERT_EQ(enet->node_->name_, "ENET_HDR");
    ASSERT_TRUE(enet->conditions_);
    EXPECT_EQ(enet->conditions_->field_->name_, "type");
    const FilterNode* ip = enet->prev_;
    EXPECT_EQ(ip->node_->name_, "IP_HDR");
    EXPECT_EQ(ip->enclosing_, enet);
    EXPECT_EQ(ip->prev_->node_->name_, "UDP_HDR");
    EXPECT_EQ(ip->prev_->enclosing_, nullptr);

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

TEST(FilterLanguage, ScannerLimitsAndSendOnlyTokens) {
    ReportCapture cap;
    Compiled raw = compile("UDP_HDR, RAWDATA 0x0102");
    EXPECT_FALSE(raw.filter);
    EXPECT_TRUE(cap.contains("RAWDATA is illegal in receive filters"));

    Compiled sraw = compile("UDP_HDR, RAWDATA 0x010203", true);
    ASSERT_TRUE(sraw.filter);
    EXPECT_EQ(std::make_tuple(sraw.filter->first_->node_, sraw.filter->first_->raw_bits_, sraw.filter->first_->raw_[2]),
              std::make_tuple(nullptr, 24u, uint8_t{3}));
    Compiled odd = compile("RAWDATA abc", true);  // an odd digit count is padded in front
    ASSERT_TRUE(odd.filter);
    EXPECT_EQ(std::make_tuple(odd.filter->first_->raw_bits_, odd.filter->first_->raw_[0]), std::make_tuple(16u, uint8_t{0x0a}));

    EXPECT_FALSE(compile("MAC_HEADER").filter);
    EXPECT_TRUE(cap.contains("no base node for filter"));
    Node* enet = shipped().find_node("ENET_HDR");
    Compiled mh = compile("MAC_HEADER type=IP", false, enet);
    ASSERT_TRUE(mh.filter);
    EXPECT_EQ(mh.filter->first_->node_, enet);
    EXPECT_EQ(mh.filter->first_->conditions_->keys_[0], 0x0800u);

    std::string huge = "IP_HDR ip_ttl=" + std::string(9000, '7');
    EXPECT_FALSE(compile(huge.c_str()).filter);
    EXPECT_TRUE(cap.contains("token too large, exceeds YYLMAX"));

    // Bytes above 127 are ordinary characters to the scanner's tables: a
    // parse error, never a read outside them or a scan that does not end.
    EXPECT_FALSE(compile("DATA data=0x010\xCC" "5", true).filter);
    EXPECT_FALSE(compile("IP_HDR \xFF\x80 ip_ttl=\xE9").filter);

    // A scanner reused after an abandoned text starts clean.
    EXPECT_TRUE(compile("IP_HDR ip_ttl=64").filter);
}

TEST(FilterLanguage, SendValueBound) {
    ReportCapture cap;
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

TEST(FilterLanguage, EmptyFiltersAndNumbers) {
    Compiled a = compile("");
    Compiled b = compile("   ");
    ASSERT_TRUE(a.filter && b.filter);
    EXPECT_TRUE(a.filter->empty_);
    EXPECT_EQ(b.filter->number_, a.filter->number_ + 1);
    EXPECT_EQ(a.filter->first_, nullptr);
}

TEST(FilterLanguage, Dump) {
    FlagGuard guard;
    debug_flags().display_filter_tree = 1;
    Compiled c = compile("IP_HDR < UDP_HDR > ip_ttl=(1|64)");
    ASSERT_TRUE(c.filter);
    // The layout of a dump is checked by the reference page's example; here, a nested node.
    EXPECT_NE(c.out.find("  fnode->node->name = \"UDP_HDR\"\n    subnode = \"IP_HDR\"\n"), std::string::npos) << c.out;

    testing::internal::CaptureStdout();
    dump_filter(nullptr, stdout);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no filter...\n"), std::string::npos);
}

}  // namespace

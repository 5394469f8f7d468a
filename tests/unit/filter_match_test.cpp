// Filter matching in the decoder's walk, and send-filter completion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/report.h"
#include "decode_util.h"
#include "filter/filter.h"
#include "pdl/protodb.h"

namespace {

using namespace zm;
using zm_test::PdlDb;

// A small description: ETH (base) > IPX > UDPX > TFTPX.
// UDPX's children are chosen by conditions on either port.
const char* const kSmall =
    "ETH { dst : 48; type : 16; child(type) : 0 : { IPX(0x800) }; } BASE = ETHER;\n"
    "IPX { ttl : 8; proto : 8; child(proto) : 0 : { UDPX(17), SIB(6) }; };\n"
    "UDPX { sport : 16; dport : 16; child(0) : 0 : { TFTPX(sport == 69), TFTPX(dport == 69) }; };\n"
    "TFTPX { name : 64; };\n"
    "SIB { s : 8; }; ORPHAN { x : 8; };";

// Ethernet / IPv4 / UDP from port 1234.
std::vector<uint8_t> udp_frame(uint16_t dport, uint8_t ttl = 64) {
    return zm_test::enet_frame(0x800, zm_test::ipv4_packet(17, zm_test::udp_datagram(1234, dport), ttl));
}

// Decodes `bytes` from `base`, the filters of `ctx` matched in the same walk.
void decode(DecodeContext* ctx, Node* base, const std::vector<uint8_t>& bytes) {
    zm_test::Packet p(bytes);
    EXPECT_TRUE(decode_packet(p.buf, base, ctx));
}

struct Shipped : testing::Test {
    ProtoDb& db = zm_test::shipped_database();
    Node* enet = db.find_node("ENET_HDR");
    Node* udp = db.find_node("UDP_HDR");
    DecodeContext* ctx = create_context();
    size_t points_before = live_match_points();  // other tests of the process may keep filters
    void TearDown() override {
        release_context(ctx);
        EXPECT_EQ(live_match_points(), points_before);
    }
    Filter* add(const std::string& text, int* cell, DecodeContext* into = nullptr) {
        Filter* f = compile_filter(db, text.c_str(), enet, false).release();
        EXPECT_TRUE(f) << text;
        insert_instance(nullptr, into ? into : ctx, "t", cell, f);
        return f;
    }
    void run(const std::vector<uint8_t>& p) { decode(ctx, enet, p); }
};

// Matching by port, value list, address and MAC is checked end to end by the
// reference page's example; here, what it cannot show.
TEST_F(Shipped, MatchesNodeHitsAndTheCleanSlate) {
    int c[6] = {};
    add("UDP_HDR udp_dest_port=53", &c[0]);
    add("IP_HDR ip_ttl=(1|64), UDP_HDR", &c[1]);
    add("IP_HDR ip_ttl=64, TCP_HDR", &c[2]);  // a node the packet lacks: never a match
    add("VLAN_HDR, VLAN_HDR", &c[3]);         // needs two occurrences
    add("IP_HDR", &c[4]);
    add("   ", &c[5]);                        // blank: the empty filter, met by every packet
    auto cells = [&] { return std::vector<int>(c, c + 6); };
    run(udp_frame(53));
    EXPECT_EQ(cells(), (std::vector<int>{1, 1, 0, 0, 1, 1}));
    // The next packet starts from a clean slate: cells of the last match are cleared.
    run(udp_frame(54, 2));
    EXPECT_EQ(cells(), (std::vector<int>{0, 0, 0, 0, 1, 1}));
    run(udp_frame(54, 1));
    EXPECT_EQ(c[1], 1);
    // Stacked VLAN tags: two occurrences satisfy both points.
    std::vector<uint8_t> tags = {0, 1, 0x81, 0x00, 0, 2, 0x08, 0x00}, ip = zm_test::ipv4_packet(17, {});
    tags.insert(tags.end(), ip.begin(), ip.end());
    run(zm_test::enet_frame(0x8100, tags));
    EXPECT_EQ(c[3], 1);
}

// More than a handful of points on one field: values are looked up, lists included. With debug
// reports wanted every point is walked and reported instead; the outcome is the same.
TEST_F(Shipped, ThousandFiltersListsAndContexts) {
    std::vector<int> cells(1000, 0);
    std::vector<Filter*> filters;
    for (int i = 0; i < 1000; ++i) {
        std::string a = std::to_string(1000 + i), b = std::to_string(3000 + i);
        filters.push_back(add("UDP_HDR udp_dest_port=(" + a + "|" + b + "|" + b + ")", &cells[i]));
    }
    auto only = [&](int hit) {
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(cells[i], i == hit ? 1 : 0) << i;
    };
    run(udp_frame(1500));
    only(500);
    run(udp_frame(3007));
    only(7);

    ReportCapture cap;
    zm_test::LogLevel debug(1);
    run(udp_frame(1003));
    only(3);
    std::string who = "filter " + std::to_string(filters[3]->number_) + " instance " +
                      std::to_string(filters[3]->instances_[0]->number_);
    EXPECT_TRUE(cap.contains(who + " field udp_dest_port val 3eb, match 1 out of 2"));
    EXPECT_TRUE(cap.contains("field udp_dest_port val bb8, NO match"));
    EXPECT_TRUE(cap.contains(who + " matched completely"));
    EXPECT_TRUE(cap.contains("node UDP_HDR match 1 out of 2"));

    // An instance of another context is not advanced by this context's decode.
    DecodeContext* other = create_context();
    int mine = 0;
    add("UDP_HDR udp_dest_port=1001", &mine, other);
    run(udp_frame(1001));
    EXPECT_EQ(mine, 0);
    decode(other, enet, udp_frame(1001));
    EXPECT_EQ(mine, 1);
    release_context(other);

    // Removing filters takes their points off the database.
    size_t before = live_match_points();
    remove_filter(ctx->instances->filter_, true);
    EXPECT_EQ(live_match_points(), before - 2);
}

TEST_F(Shipped, ComparisonsStayInsideTheBytes) {
    int cell = 0;
    add("UDP_HDR udp_dest_port=53", &cell);
    Field* dport = db.find_field(udp, "udp_dest_port");
    uint8_t bytes[2] = {0, 53};
    for (uint32_t readable : {1u, 2u}) {  // with 1, the field runs past what is readable
        node_entered(ctx, udp);
        field_read(ctx, dport, bytes, 0, 16, readable);
        finish_decode(ctx);
        EXPECT_EQ(cell, readable == 2 ? 1 : 0);
    }
}

struct Completion : testing::Test {
    PdlDb s{kSmall};
    zm_test::LogLevel debug{1};
    std::unique_ptr<Filter> send(const char* text) { return compile_filter(s.db, text, s.node("ETH"), true); }
    static std::vector<std::string> names(const FilterNode* outer) {
        std::vector<std::string> v;
        for (; outer; outer = outer->prev_) v.push_back(outer->node_ ? outer->node_->name_ : "RAWDATA");
        return v;
    }
};

TEST_F(Completion, ParentsAndBaseNode) {
    ReportCapture cap;
    auto f = send("UDPX dport=53");
    FilterNode* outer = complete_send_filter(s.node("ETH"), f.get());
    ASSERT_TRUE(outer);
    EXPECT_EQ(names(outer), (std::vector<std::string>{"ETH", "IPX", "UDPX"}));
    EXPECT_TRUE(cap.contains("Adding parent for node \"UDPX\", parent is \"IPX\""));
    // IPX and the appended base node are already linked: no report for that pair.
    EXPECT_FALSE(cap.contains("Adding parent for node \"IPX\""));
    ASSERT_TRUE(outer->child_link_);
    EXPECT_EQ(outer->child_link_->value_, 0x800u);
    EXPECT_EQ(outer->prev_->child_link_->value_, 17u);

    // No base node: nothing is appended, so nothing lies between.
    f = send("UDPX dport=53");
    EXPECT_EQ(names(complete_send_filter(nullptr, f.get())), (std::vector<std::string>{"UDPX"}));
    EXPECT_TRUE(cap.contains("no basenode for this filter"));

    f = send("ORPHAN x=1");
    EXPECT_EQ(complete_send_filter(s.node("ETH"), f.get()), nullptr);
    EXPECT_TRUE(cap.contains("send filter can not be completed - node \"ORPHAN\" has no parents"));
    EXPECT_EQ(complete_send_filter(s.node("ETH"), nullptr), nullptr);
}

TEST_F(Completion, ChildLinkByConditionAndCommonParents) {
    // Two links lead from UDPX to TFTPX: the one whose condition holds is taken.
    for (const char* port : {"sport", "dport"}) {
        auto f = send((std::string("UDPX ") + port + "=69, TFTPX").c_str());
        FilterNode* outer = complete_send_filter(s.node("ETH"), f.get());
        ASSERT_TRUE(outer);
        const FilterNode* u = outer->prev_->prev_;
        ASSERT_EQ(u->node_->name_, "UDPX");
        ASSERT_TRUE(u->child_link_);
        EXPECT_EQ(u->child_link_->selector_->left_->name_, port);
    }
    // UDPX and SIB share the parent IPX: IPX's link leads to the inner one.
    auto f = send("IPX, UDPX, SIB");
    FilterNode* outer = complete_send_filter(s.node("ETH"), f.get());
    ASSERT_TRUE(outer);
    EXPECT_EQ(names(outer), (std::vector<std::string>{"ETH", "IPX", "UDPX", "SIB"}));
    EXPECT_EQ(outer->prev_->child_link_->value_, 6u);
}

TEST(FilterCompletion, AmbiguityAndLoopsAreBounded) {
    // C(i) has two parents: D and, first in its list, C(i+1). L1 and L2 are each other's only parent.
    std::string text = "B { t : 8; child(t) : 0 : { C12(1) }; } BASE = X;\nD { child(0) : 0 : { C0(default)";
    for (int i = 1; i <= 11; ++i) text += ", C" + std::to_string(i) + "(default)";
    text += " }; };\n";
    for (int i = 12; i >= 1; --i)
        text += "C" + std::to_string(i) + " { child(0) : 0 : { C" + std::to_string(i - 1) + "(default) }; };\n";
    text += "L1 { child(0) : 0 : { L2(default) }; }; L2 { child(0) : 0 : { L1(default) }; };";
    PdlDb db(text);
    Node* base = db.node("B");

    ReportCapture cap;
    auto f = compile_filter(db.db, "C0", base, true);
    ASSERT_TRUE(f);
    EXPECT_EQ(complete_send_filter(base, f.get()), nullptr);
    EXPECT_TRUE(cap.contains("Ambiguous parentage for node \"C0\", assuming parent \"C1\""));
    EXPECT_TRUE(cap.contains("Excessive parentage errors.  Send aborted"));

    auto loop = compile_filter(db.db, "L1", base, true);
    EXPECT_EQ(complete_send_filter(base, loop.get()), nullptr);
    EXPECT_TRUE(cap.contains("never reach node \"B\""));
}

TEST(FilterCompletion, SendTimeExpressions) {
    PdlDb s(kSmall);
    ProtoDb& db = s.db;
    auto f = compile_filter(db, "IPX ttl=7, UDPX sport=100", nullptr, true);
    ASSERT_TRUE(f);
    const FilterNode* udp = f->first_;
    db.set_current_node(s.node("UDPX"));
    bool failed = false;
    // The nearest outer node's condition answers for ttl.
    Expr* e = db.make_expression(EXPR_ADD, db.make_name("sport"), db.make_name("IPX.ttl"));
    EXPECT_EQ(eval_send_expr(e, udp, &failed), 107);
    EXPECT_FALSE(failed);
    EXPECT_EQ(find_send_condition(udp, s.field("IPX.ttl"))->keys_[0], 7u);
    EXPECT_EQ(find_send_condition(udp, s.field("UDPX.dport")), nullptr);
    eval_send_expr(db.make_name("dport"), udp, &failed);
    EXPECT_TRUE(failed);
    failed = false;
    for (int op : {EXPR_DIV, EXPR_MOD})
        EXPECT_EQ(eval_send_expr(db.make_expression(op, db.make_number(5), db.make_number(0)), udp, &failed), 0);
    ReportCapture cap;
    EXPECT_EQ(eval_send_expr(db.make_call("peek", nullptr), udp, &failed), 0);
    EXPECT_TRUE(cap.contains("Bad Expression Type 13"));
}

}  // namespace

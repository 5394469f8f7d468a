// Filter matching and send-filter completion, driven through the decoder's calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "core/report.h"
#include "filter/filter.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
#include "support.h"

namespace {

using namespace zm;

ProtoDb& shipped() { return zm_test::shipped_database(); }

// A small description: ETH (base) > IPX > UDPX > TFTPX, with a string and odd-offset wide fields.
struct SmallDb {
    ProtoDb db;
    SmallDb() {
        db.set_output(std::tmpfile());
        db.set_current_file("small.pdl");
        Node* n = db.begin_node("ETH");
        db.add_field("dst", db.make_number(48), nullptr, nullptr, nullptr);
        db.add_field("type", db.make_number(16), nullptr, nullptr, nullptr);
        db.add_field("child", db.make_number(0), nullptr, nullptr, db.make_name("type"));
        db.add_child("IPX", db.make_number(0x800), 0);
        db.end_node(n, db.set_nodeattr("BASE", "ETHER", 0));

        n = db.begin_node("IPX");
        db.add_field("ttl", db.make_number(8), nullptr, nullptr, nullptr);
        db.add_field("proto", db.make_number(8), nullptr, nullptr, nullptr);
        db.add_field("child", db.make_number(0), nullptr, nullptr, db.make_name("proto"));
        db.add_child("UDPX", db.make_number(17), 0);
        db.add_child("SIB", db.make_number(6), 0);
        db.end_node(n, nullptr);

        n = db.begin_node("UDPX");
        db.add_field("sport", db.make_number(16), nullptr, nullptr, nullptr);
        db.add_field("dport", db.make_number(16), nullptr, nullptr, nullptr);
        db.add_field("child", db.make_number(0), nullptr, nullptr, nullptr);
        db.add_child("TFTPX", db.make_expression(EXPR_EQ, db.make_name("sport"), db.make_number(69)), 0);
        db.add_child("TFTPX", db.make_expression(EXPR_EQ, db.make_name("dport"), db.make_number(69)), 0);
        db.end_node(n, nullptr);

        n = db.begin_node("TFTPX");
        db.add_field("name", db.make_number(64), db.addfldattr(FATTR_DISPLAY, std::string_view("name %str")), nullptr,
                     nullptr);
        db.add_field("nib", db.make_number(4), nullptr, nullptr, nullptr);
        db.add_field("blob", db.make_number(40), nullptr, nullptr, nullptr);
        db.end_node(n, nullptr);

        n = db.begin_node("SIB");
        db.add_field("s", db.make_number(8), nullptr, nullptr, nullptr);
        db.end_node(n, nullptr);
        n = db.begin_node("ORPHAN");
        db.add_field("x", db.make_number(8), nullptr, nullptr, nullptr);
        db.end_node(n, nullptr);
    }
    Node* node(const char* name) { return db.find_node(name); }
};

// What the decoder does for fixed-width fields: enter each node, read each field, finish.
void walk(DecodeContext* ctx, const std::vector<uint8_t>& pkt, std::initializer_list<Node*> nodes) {
    uint32_t bit = 0;
    for (Node* n : nodes) {
        node_entered(ctx, n);
        for (Field* f = n->first_field_; f; f = f->next_) {
            if (f->is_child() || f->element_node_ || !f->width_ || f->width_->type_ != EXPR_NUMBER) continue;
            uint32_t w = f->width_->value_;
            if (bit + w > pkt.size() * 8) break;
            field_read(ctx, f, pkt.data() + bit / 8, static_cast<int>(bit % 8), w,
                       static_cast<uint32_t>(pkt.size() - bit / 8));
            bit += w;
        }
    }
    finish_decode(ctx);
}

std::vector<uint8_t> udp_frame(uint16_t dport, uint8_t ttl = 64) {
    std::vector<uint8_t> p = {0x00, 0xa0, 0x24, 0x11, 0x22, 0x33, 0x02, 0, 0, 0, 0, 1, 0x08, 0x00,  // ethernet
                              0x45, 0,    0,    28,   0,    1,    0,    0, ttl, 17, 0, 0,          // ipv4
                              10,   0,    0,    1,    10,   0,    0,    2,                          //
                              0x04, 0xd2, static_cast<uint8_t>(dport >> 8), static_cast<uint8_t>(dport), 0, 8, 0, 0};
    return p;
}

struct Shipped : testing::Test {
    ProtoDb& db = shipped();
    Node* enet = db.find_node("ENET_HDR");
    Node* ip = db.find_node("IP_HDR");
    Node* udp = db.find_node("UDP_HDR");
    DecodeContext* ctx = create_context();
    size_t points_before = live_match_points();  // other tests of the process may keep filters
    void TearDown() override {
        release_context(ctx);
        EXPECT_EQ(live_match_points(), points_before);
    }
    Filter* add(const char* text, int* cell) {
        Filter* f = compile_filter(db, text, enet, false).release();
        EXPECT_TRUE(f) << text;
        insert_instance(nullptr, ctx, "t", cell, f);
        return f;
    }
    void run(const std::vector<uint8_t>& p) { walk(ctx, p, {enet, ip, udp}); }
};

// Matching by port, value list, address and MAC is checked end to end by the
// reference page's example; here, what it cannot show.
TEST_F(Shipped, MatchesAndNonMatches) {
    int port = 0, ttls = 0, tcp = 0;
    add("UDP_HDR udp_dest_port=53", &port);
    add("IP_HDR ip_ttl=(1|64), UDP_HDR", &ttls);
    add("IP_HDR ip_ttl=64, TCP_HDR", &tcp);  // a node the packet lacks: never a match
    run(udp_frame(53));
    EXPECT_EQ(std::make_tuple(port, ttls, tcp), std::make_tuple(1, 1, 0));
    EXPECT_TRUE(ctx->completed);
    // The next packet starts from a clean slate: cells of the last match are cleared.
    run(udp_frame(54, 2));
    EXPECT_EQ(std::make_tuple(port, ttls), std::make_tuple(0, 0));
    run(udp_frame(54, 1));
    EXPECT_EQ(ttls, 1);
}

TEST_F(Shipped, NodeHitAndEmptyFilter) {
    int twice = 0, once = 0, empty = 0;
    add("IP_HDR, IP_HDR", &twice);
    add("IP_HDR", &once);
    add("", &empty);
    run(udp_frame(53));
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(empty, 1);
    // IP in IP: two occurrences satisfy both points.
    std::vector<uint8_t> p = udp_frame(53);
    walk(ctx, p, {enet, ip, ip, udp});
    EXPECT_EQ(twice, 1);
}

TEST_F(Shipped, ThousandFiltersAndContexts) {
    std::vector<int> cells(1000, 0);
    for (int i = 0; i < 1000; ++i) {
        std::string t = "UDP_HDR udp_dest_port=" + std::to_string(1000 + i);
        add(t.c_str(), &cells[i]);
    }
    run(udp_frame(1500));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(cells[i], i == 500 ? 1 : 0) << i;
    run(udp_frame(1001));
    EXPECT_EQ(cells[500], 0);
    EXPECT_EQ(cells[1], 1);

    // An instance of another context is not advanced by this context's decode.
    DecodeContext* other = create_context();
    int mine = 0;
    Filter* f = compile_filter(db, "UDP_HDR udp_dest_port=1001", enet, false).release();
    insert_instance(nullptr, other, "o", &mine, f);
    run(udp_frame(1001));
    EXPECT_EQ(mine, 0);
    walk(other, udp_frame(1001), {enet, ip, udp});
    EXPECT_EQ(mine, 1);
    release_context(other);

    // Removing filters takes their points off the database.
    size_t before = live_match_points();
    Filter* first = ctx->instances->filter_;
    remove_filter(first, true);
    EXPECT_EQ(live_match_points(), before - 2);
}

TEST_F(Shipped, IndexedValueListsAgreeWithTheTracedPath) {
    // More than a handful of points on the field: values are looked up, lists included.
    std::vector<int> cells(20, 0);
    for (int i = 0; i < 20; ++i) {
        std::string t = "UDP_HDR udp_dest_port=(" + std::to_string(2000 + i) + "|" + std::to_string(3000 + i) + "|" +
                        std::to_string(3000 + i) + ")";
        add(t.c_str(), &cells[i]);
    }
    run(udp_frame(3007));
    for (int i = 0; i < 20; ++i) EXPECT_EQ(cells[i], i == 7 ? 1 : 0) << i;

    // With debug reports wanted every point is walked and reported; the outcome is the same.
    int saved = log_settings().level;
    log_settings().level = 1;
    {
        ReportCapture cap;
        run(udp_frame(2003));
        log_settings().level = saved;
        for (int i = 0; i < 20; ++i) EXPECT_EQ(cells[i], i == 3 ? 1 : 0) << i;
        uint32_t f3 = ctx->completed->filter_->number_;
        uint32_t i3 = ctx->completed->number_;
        std::string hit = "filter " + std::to_string(f3) + " instance " + std::to_string(i3) +
                          " field udp_dest_port val 7d3, match 1 out of 2";
        EXPECT_TRUE(cap.contains(hit)) << hit;
        EXPECT_TRUE(cap.contains("field udp_dest_port val bb8, NO match"));
        EXPECT_TRUE(cap.contains("filter " + std::to_string(f3) + " instance " + std::to_string(i3) +
                                 " matched completely"));
        EXPECT_TRUE(cap.contains("node UDP_HDR match 1 out of 2"));
    }
}

TEST_F(Shipped, ComparisonsStayInsideTheBytes) {
    int cell = 0;
    add("UDP_HDR udp_dest_port=53", &cell);
    Field* dport = db.find_field(udp, "udp_dest_port");
    uint8_t bytes[2] = {0, 53};
    node_entered(ctx, udp);
    field_read(ctx, dport, bytes, 0, 16, 1);  // the field runs past what is readable
    finish_decode(ctx);
    EXPECT_EQ(cell, 0);
    node_entered(ctx, udp);
    field_read(ctx, dport, bytes, 0, 16, 2);
    finish_decode(ctx);
    EXPECT_EQ(cell, 1);
}

TEST(FilterMatch, StringAndOddWideFields) {
    SmallDb s;
    DecodeContext* ctx = create_context();
    int str = 0, blob = 0, nostr = 0, shortval = 0;
    auto add = [&](const char* t, int* cell) {
        Filter* f = compile_filter(s.db, t, nullptr, false).release();
        ASSERT_TRUE(f) << t;
        insert_instance(nullptr, ctx, "t", cell, f);
    };
    add("TFTPX name=boot", &str);
    add("TFTPX name=boat", &nostr);
    add("TFTPX blob=0x0102030405", &blob);
    add("TFTPX blob=0x01020304", &shortval);  // shorter than the field: never equal
    // name "boot\0\0\0\0", nib 0xA, blob 01 02 03 04 05 starting at bit 68.
    std::vector<uint8_t> p = {'b', 'o', 'o', 't', 0, 0, 0, 0, 0xA0, 0x10, 0x20, 0x30, 0x40, 0x50};
    walk(ctx, p, {s.node("TFTPX")});
    EXPECT_EQ(str, 1);
    EXPECT_EQ(nostr, 0);
    EXPECT_EQ(blob, 1);
    EXPECT_EQ(shortval, 0);
    p[12] = 0x41;
    walk(ctx, p, {s.node("TFTPX")});
    EXPECT_EQ(blob, 0);
    release_context(ctx);
}

struct Completion : testing::Test {
    SmallDb s;
    int saved_level = log_settings().level;
    void SetUp() override { log_settings().level = 1; }
    void TearDown() override { log_settings().level = saved_level; }
    Filter* send(const char* text) { return compile_filter(s.db, text, s.node("ETH"), true).release(); }
    static std::vector<std::string> names(const FilterNode* outer) {
        std::vector<std::string> v;
        for (; outer; outer = outer->prev_) v.push_back(outer->node_ ? outer->node_->name_ : "RAWDATA");
        return v;
    }
};

TEST_F(Completion, ParentsAndBaseNode) {
    ReportCapture cap;
    Filter* f = send("UDPX dport=53");
    FilterNode* outer = complete_send_filter(s.node("ETH"), f);
    ASSERT_TRUE(outer);
    EXPECT_EQ(names(outer), (std::vector<std::string>{"ETH", "IPX", "UDPX"}));
    EXPECT_TRUE(cap.contains("Adding parent for node \"UDPX\", parent is \"IPX\""));
    // IPX and the appended base node are already linked: no report for that pair.
    EXPECT_FALSE(cap.contains("Adding parent for node \"IPX\""));
    ASSERT_TRUE(outer->child_link_);
    EXPECT_EQ(outer->child_link_->value_, 0x800u);
    EXPECT_EQ(outer->prev_->child_link_->value_, 17u);
    free_filter(f);

    // No base node: nothing is appended, so nothing lies between.
    f = send("UDPX dport=53");
    outer = complete_send_filter(nullptr, f);
    EXPECT_TRUE(cap.contains("no basenode for this filter"));
    EXPECT_EQ(names(outer), (std::vector<std::string>{"UDPX"}));
    free_filter(f);

    f = send("ORPHAN x=1");
    EXPECT_EQ(complete_send_filter(s.node("ETH"), f), nullptr);
    EXPECT_TRUE(cap.contains("send filter can not be completed - node \"ORPHAN\" has no parents"));
    free_filter(f);
    EXPECT_EQ(complete_send_filter(s.node("ETH"), nullptr), nullptr);
}

TEST_F(Completion, ChildLinkByConditionAndCommonParents) {
    Filter* f = send("UDPX sport=69, TFTPX");
    FilterNode* outer = complete_send_filter(s.node("ETH"), f);
    ASSERT_TRUE(outer);
    const FilterNode* u = outer->prev_->prev_;
    ASSERT_EQ(u->node_->name_, "UDPX");
    ASSERT_TRUE(u->child_link_);
    EXPECT_EQ(u->child_link_->selector_->left_->name_, "sport");
    free_filter(f);
    f = send("UDPX dport=69, TFTPX");
    u = complete_send_filter(s.node("ETH"), f)->prev_->prev_;
    EXPECT_EQ(u->child_link_->selector_->left_->name_, "dport");
    free_filter(f);

    // UDPX and SIB share the parent IPX: IPX's link leads to the inner one.
    f = send("IPX, UDPX, SIB");
    outer = complete_send_filter(s.node("ETH"), f);
    ASSERT_TRUE(outer);
    EXPECT_EQ(names(outer), (std::vector<std::string>{"ETH", "IPX", "UDPX", "SIB"}));
    EXPECT_EQ(outer->prev_->child_link_->value_, 6u);
    free_filter(f);
}

TEST(FilterCompletion, AmbiguityAndLoopsAreBounded) {
    ProtoDb db;
    db.set_output(std::tmpfile());
    db.set_current_file("chain.pdl");
    Node* base = db.begin_node("B");
    db.add_field("t", db.make_number(8), nullptr, nullptr, nullptr);
    db.add_field("child", db.make_number(0), nullptr, nullptr, db.make_name("t"));
    db.add_child("C12", db.make_number(1), 0);
    db.end_node(base, db.set_nodeattr("BASE", "X", 0));
    // C(i) has two parents: D and, first in its list, C(i+1).
    Node* d = db.begin_node("D");
    db.add_field("child", db.make_number(0), nullptr, nullptr, nullptr);
    for (int i = 0; i <= 11; ++i) db.add_child("C" + std::to_string(i), nullptr, 0);
    db.end_node(d, nullptr);
    for (int i = 12; i >= 1; --i) {
        Node* n = db.begin_node("C" + std::to_string(i));
        db.add_field("child", db.make_number(0), nullptr, nullptr, nullptr);
        db.add_child("C" + std::to_string(i - 1), nullptr, 0);
        db.end_node(n, nullptr);
    }
    // L1 and L2 are each other's only parent.
    Node* l1 = db.begin_node("L1");
    db.add_field("child", db.make_number(0), nullptr, nullptr, nullptr);
    db.add_child("L2", nullptr, 0);
    db.end_node(l1, nullptr);
    Node* l2 = db.begin_node("L2");
    db.add_field("child", db.make_number(0), nullptr, nullptr, nullptr);
    db.add_child("L1", nullptr, 0);
    db.end_node(l2, nullptr);

    ReportCapture cap;
    auto f = compile_filter(db, "C0", base, true);
    ASSERT_TRUE(f);
    EXPECT_EQ(complete_send_filter(base, f.get()), nullptr);
    EXPECT_TRUE(cap.contains("Ambiguous parentage for node \"C0\", assuming parent \"C1\""));
    EXPECT_TRUE(cap.contains("Excessive parentage errors.  Send aborted"));

    auto loop = compile_filter(db, "L1", base, true);
    EXPECT_EQ(complete_send_filter(base, loop.get()), nullptr);
    EXPECT_TRUE(cap.contains("never reach node \"B\""));
}

TEST(FilterCompletion, SendTimeExpressions) {
    SmallDb s;
    auto f = compile_filter(s.db, "IPX ttl=7, UDPX sport=100", nullptr, true);
    ASSERT_TRUE(f);
    const FilterNode* udp = f->first_;
    Field* ttl = s.db.find_field(s.node("IPX"), "ttl");
    Field* dport = s.db.find_field(s.node("UDPX"), "dport");
    s.db.set_current_node(s.node("UDPX"));
    bool failed = false;
    // The nearest outer node's condition answers for ttl.
    Expr* e = s.db.make_expression(EXPR_ADD, s.db.make_name("sport"), s.db.make_name("IPX.ttl"));
    EXPECT_EQ(eval_send_expr(e, udp, &failed), 107);
    EXPECT_FALSE(failed);
    EXPECT_EQ(find_send_condition(udp, ttl)->keys_[0], 7u);
    EXPECT_EQ(find_send_condition(udp, dport), nullptr);
    eval_send_expr(s.db.make_name("dport"), udp, &failed);
    EXPECT_TRUE(failed);
    failed = false;
    EXPECT_EQ(eval_send_expr(s.db.make_expression(EXPR_DIV, s.db.make_number(5), s.db.make_number(0)), udp, &failed),
              0);
    EXPECT_EQ(eval_send_expr(s.db.make_expression(EXPR_MOD, s.db.make_number(5), s.db.make_number(0)), udp, &failed),
              0);
    ReportCapture cap;
    EXPECT_EQ(eval_send_expr(s.db.make_call("peek", nullptr), udp, &failed), 0);
    EXPECT_TRUE(cap.contains("Bad Expression Type 13"));
}

}  // namespace

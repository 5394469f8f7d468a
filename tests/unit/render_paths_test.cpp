// Path patterns and the matcher of saved-packet field paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/pkttree.h"

using namespace zm;

namespace {

// A reg path from its text: names, numbers as member indices, the last
// component as the field.
RegPath reg(const std::vector<std::string>& parts) {
    RegPath r;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        bool index = !parts[i].empty() && parts[i][0] >= '0' && parts[i][0] <= '9';
        r.entries.push_back(index ? PathEntry{PATH_INDEX, {}, std::stoul(parts[i])} : PathEntry{PATH_NAME, parts[i], 0});
    }
    r.entries.push_back({PATH_FIELD, parts.back(), 0});
    r.entries.push_back({PATH_END, {}, 0});
    return r;
}

bool matches(const std::string& pattern, const RegPath& r, bool full = true) {
    std::vector<PathEntry> p;
    std::string error;
    EXPECT_TRUE(parse_pattern(pattern, true, p, error)) << error;
    return match_path(r, p, full);
}

}  // namespace

TEST(RenderPaths, WildcardsNamesAndIndices) {
    RegPath ttl = reg({"ENET_HDR", "IP_HDR", "ip_ttl"});
    RegPath nb = reg({"ENET_HDR", "IP_HDR", "OSPF_HELLO", "OSPF_NEIGHBOR", "1", "neighbor"});
    // The plain wildcard forms are checked through pkt_val by the script tests.
    EXPECT_TRUE(matches("*.ENET_HDR.*.ip_ttl", ttl));  // "*" also matches nothing
    EXPECT_FALSE(matches("+.ENET_HDR.IP_HDR.ip_ttl", ttl));
    EXPECT_TRUE(matches("@.@.ip_ttl", ttl));
    EXPECT_FALSE(matches("@.ip_ttl", ttl));
    EXPECT_FALSE(matches("ENET_HDR.IP_HDR", ttl));  // a path must reach its field
    EXPECT_TRUE(matches("ENET_HDR.IP_HDR", ttl, false));
    EXPECT_TRUE(matches("", ttl, false));
    EXPECT_FALSE(matches("*.OSPF_NEIGHBOR.0.neighbor", nb));
    EXPECT_FALSE(matches("*.1.*.1.neighbor", nb));
    EXPECT_TRUE(matches("*.*.*.*.@", nb));
}

// Pattern texts the parser refuses are checked through pkt_val and pkt_set by
// the script tests; a component of exactly the longest length is accepted.
TEST(RenderPaths, MatcherErrorAndLongRuns) {
    std::vector<PathEntry> p;
    std::string error;
    EXPECT_TRUE(parse_pattern(std::string(63, 'x'), true, p, error));
    // A pattern holding a field entry cannot come from text; the matcher says so.
    std::vector<PathEntry> bad{{PATH_FIELD, "x", 0}, {PATH_END, {}, 0}};
    EXPECT_FALSE(match_path(reg({"A", "x"}), bad, true, &error));
    EXPECT_EQ(error, "Error in match - FLD found in reg");

    // Thousands of "*" against a deep path that does not match: the memo keeps this quick.
    std::string stars;
    for (int i = 0; i < 2000; ++i) stars += "*.";
    std::vector<std::string> deep(40, "N");
    deep.push_back("f");
    EXPECT_FALSE(matches(stars + "nosuch", reg(deep)));
    EXPECT_TRUE(matches(stars + "f", reg(deep)));
}

// OSPF advertisement records: the sequence number skips all ones when it wraps
// (the script tests cannot advance it that far).
#include <gtest/gtest.h>

#include "util/ospf_lsdb.h"

namespace zm {

TEST(OspfLsdb, SequenceSkipsAllOnes) {
    OspfLsa lsa;
    lsa.ls_seq = 0xFFFFFFFDu;
    ospf_advance_seq(lsa);
    EXPECT_EQ(lsa.ls_seq, 0xFFFFFFFEu);
    ospf_advance_seq(lsa);
    EXPECT_EQ(lsa.ls_seq, kOspfInitialSeq);
}

}  // namespace zm

// OSPF advertisement records: the sequence wrap and the hex of a router LSA.
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

TEST(OspfLsdb, ChecksumTextZeroesAgeAndChecksum) {
    OspfLsa lsa;
    lsa.ls_type = kSummaryNetLsa;
    lsa.ls_age = 99;
    lsa.ls_chksum = 0xabcd;
    lsa.ls_id = "10.0.0.0";
    lsa.adv_rtr = "1.2.3.4";
    lsa.ls_length = 28;
    lsa.mask = 0xff000000;
    lsa.metric = 0x123456;
    EXPECT_EQ(ospf_lsa_hex(lsa, true), "0x000000030a00000001020304800000010000001cff00000000123456");
    EXPECT_EQ(ospf_lsa_hex(lsa).substr(0, 4), "0063");
}

}  // namespace zm

// Interface internals: the saved-buffer table, the write queue against a media that blocks, a pause outlasted by disable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <random>
#include <tuple>

#include "core/buffer.h"
#include "core/groups.h"
#include "core/report.h"
#include "media/media.h"
#include "netif/netif.h"
#include "pdl/pdl_parse.h"
#include "pdl/protodb.h"
#include "test_interp.h"

namespace zm {
namespace {

TEST(NetifFrameTable, MatchesAMapThroughInsertsAndErases) {
    std::vector<PacketBuffer> store(600);
    FrameTable table;
    std::map<uint32_t, PacketBuffer*> model;
    std::mt19937 rng(7);
    for (int round = 0; round < 20000; ++round) {
        uint32_t frame = 1 + rng() % 600;
        PacketBuffer* b = &store[frame - 1];
        b->frame = frame;
        if (rng() % 3) {
            table.insert(b);
            model[frame] = b;
        } else {
            table.erase(frame);
            model.erase(frame);
        }
        if (round % 97 == 0)
            for (uint32_t f = 1; f <= 600; ++f) {
                auto it = model.find(f);
                ASSERT_EQ(table.find(f), it == model.end() ? nullptr : it->second) << "frame " << f;
            }
    }
}

// A media class for the tests: reads `g_frames` small frames and has writes
// block while `g_block` is set.
int g_frames = 0;
bool g_block = false;
int g_written = 0;

struct FakeState : MediaState {
    int fd = -1;
    uint32_t produced = 0;
    ~FakeState() override {
        if (fd >= 0) ::close(fd);
    }
};

int fake_open(MediaPort& port, int, const char**) {
    auto s = std::make_unique<FakeState>();
    s->fd = ::open("/dev/null", O_RDWR);
    port.descriptor = s->fd;
    port.generic_events = true;
    port.mode = "rw";
    port.state = std::move(s);
    return 0;
}
void fake_close(MediaPort& port) { port.state.reset(); }
PacketBuffer* fake_read(MediaPort& port) {
    auto* s = static_cast<FakeState*>(port.state.get());
    if (s->produced >= static_cast<uint32_t>(g_frames)) return media_end_of_input();
    PacketBuffer* b = pool_get(port.pool);
    b->append(20);
    b->frame = ++s->produced;
    return b;
}
int fake_write(MediaPort&, PacketBuffer* b) {
    if (b && !g_block) ++g_written;
    buffer_free(b);  // null is ignored
    if (!g_block) return 0;
    errno = EWOULDBLOCK;
    return -1;
}

class NetifFake : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Tcl_Interp* interp = zm_test_interp();
        register_media_group(interp);
        register_netif_group(interp);
        MediaClass cls;
        cls.name = "netif_unit_fake";
        cls.open = fake_open;
        cls.close = fake_close;
        cls.read = fake_read;
        cls.write = fake_write;
        cls.overflow = media_flow_control;
        register_media_class(cls);
        const std::string pdl = "NETIF_UNIT_HDR { a : 16; } BASE = UNIT, maxmtu = 200;";
        parse_pdl_text(protodb(), pdl.c_str(), pdl.size());
    }
    void SetUp() override {
        g_frames = 0;
        g_block = false;
        g_written = 0;
        ASSERT_EQ(eval("netif q netif_unit_fake NETIF_UNIT_HDR"), TCL_OK);
        netif_ = find_netif("q");
        ASSERT_NE(netif_, nullptr);
    }
    void TearDown() override { eval("q close"); }

    int eval(const char* script) { return Tcl_Eval(zm_test_interp(), script); }

    Netif* netif_ = nullptr;
};

TEST_F(NetifFake, WriteQueueFillsToWritehwThenDropsAndDrainsWhenWritable) {
    ASSERT_EQ(eval("q configure -writehw 3"), TCL_OK);
    g_block = true;
    ReportCapture capture;
    // The first write would block: the interface waits for writability.
    EXPECT_EQ(netif_send_buffer(netif_, pool_get(&netif_->pool_)), 1);
    EXPECT_TRUE(netif_->event_mask_ & TCL_WRITABLE);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(netif_send_buffer(netif_, pool_get(&netif_->pool_)), 1);
    EXPECT_EQ(std::make_tuple(netif_->wqueue_.length, netif_->wdropcount_, netif_->wpktcount_),
              std::make_tuple(3L, 2u, 6u));
    EXPECT_TRUE(capture.contains("Buffer dropped due to write queue overflow for \"q\""));

    g_block = false;
    for (int i = 0; i < 100 && g_written < 3; ++i) Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    EXPECT_EQ(std::make_pair(g_written, netif_->wqueue_.length), std::make_pair(3, 0L));
    EXPECT_FALSE(netif_->event_mask_ & TCL_WRITABLE);
    EXPECT_EQ(netif_send_buffer(netif_, pool_get(&netif_->pool_)), 0);
    EXPECT_EQ(g_written, 4);
}

TEST_F(NetifFake, DisableDuringAPauseOutlastsTheResume) {
    g_frames = 50;
    ASSERT_EQ(eval("q configure -readhw 4 -readlw 2; q register -internal null_internal; q enable"), TCL_OK);
    for (int i = 0; i < 1000 && !netif_->paused_; ++i) Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    ASSERT_TRUE(netif_->paused_);
    ASSERT_EQ(eval("q disable"), TCL_OK);
    for (int i = 0; i < 1000; ++i) Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    EXPECT_EQ(netif_->rqueue_.length, 0);
    EXPECT_EQ(netif_->rpktcount_, 5u);
    EXPECT_FALSE(netif_->event_mask_ & TCL_READABLE);
}

}  // namespace
}  // namespace zm

// Media classes through their operation tables, as an interface drives them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "core/groups.h"
#include "core/report.h"
#include "media/media.h"
#include "support.h"
#include "test_interp.h"

namespace zm {
namespace {

std::string scratch(const std::string& name) { return zm_test::scratch("media_" + name); }

// A port as the netif sets it up, with a pool of its own.
struct TestPort {
    explicit TestPort(const char* base = "ENET_HDR") {
        pool_init(&pool, 1518);
        port.interp = zm_test_interp();
        port.name = "if0";
        port.base_node = base;
        port.pool = &pool;
    }
    ~TestPort() {
        for (PacketBuffer* b : held) buffer_free(b);
        if (cls && port.state) cls->close(port);
        pool_destroy(&pool);
    }
    int open(const char* class_name, std::vector<const char*> words) {
        cls = find_media_class(class_name);
        if (!cls) return -1;
        words.insert(words.begin(), {"netif", "if0", class_name, port.base_node});
        int argc = static_cast<int>(words.size());
        words.push_back(nullptr);
        return cls->open(port, argc, words.data());
    }
    PacketBuffer* packet(uint32_t len, uint8_t fill) {
        PacketBuffer* b = pool_get(&pool);
        b->append(len);
        memset(b->data(), fill, len);
        b->sec = 1700000000;
        b->usec = 5;
        return b;
    }
    std::vector<PacketBuffer*> read_all() {
        std::vector<PacketBuffer*> out;
        for (int i = 0; i < 100; ++i) {
            PacketBuffer* b = cls->read(port);
            if (is_end_of_input(b)) break;
            if (b) held.push_back(b), out.push_back(b);
        }
        return out;
    }
    std::string info() {
        Tcl_ResetResult(port.interp);
        EXPECT_EQ(cls->info(port, port.interp), TCL_OK);
        return Tcl_GetStringResult(port.interp);
    }
    Pool pool;
    MediaPort port;
    MediaClass* cls = nullptr;
    std::vector<PacketBuffer*> held;
};

TEST(PcapClass, HeaderMessages) {
    register_builtin_media();
    std::string path = scratch("bad.cap");
    struct Case {
        std::string bytes;
        std::string message;
    };
    std::string good("\xFA\xBC\xDE\xFF\0\0\0\1\0\0\0\1\0\0\xA8\xC0\0\0\0\x10\0\0\0\x50\0\0\0\0\0\0\0\0", 32);
    std::string v2 = good;
    v2[7] = 2;
    std::string magic = good;
    magic[0] = 0;
    const Case cases[] = {
        {good.substr(0, 20), "Bad pcap header in file \"" + path + "\""},
        {magic, path + " is not a recognized capture file"},
        {v2, "Version 2 is not supported by this program"},
    };
    {
        ReportCapture cap;
        TestPort none, help;
        EXPECT_NE(none.open("pcap", {}), 0);
        EXPECT_TRUE(cap.contains("Pcap media requires a -file option"));
        EXPECT_NE(help.open("pcap", {"-help"}), 0);
        EXPECT_TRUE(cap.contains("Bogus arguments to file open"));
    }
    for (const Case& c : cases) {
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        ReportCapture cap;
        TestPort tp;
        EXPECT_NE(tp.open("pcap", {"-file", path.c_str()}), 0);
        EXPECT_TRUE(cap.contains(c.message)) << c.message;
    }
}

TEST(SnifferClass, WritePerPacketThenReplayWithInfo) {
    register_builtin_media();
    std::string path = scratch("save.snf");
    {
        TestPort w;
        ASSERT_EQ(w.open("sniffer", {"-save", "-file", path.c_str()}), 0);
        EXPECT_STREQ(w.port.mode, "w");
        EXPECT_EQ(w.cls->write(w.port, w.packet(60, 7)), 0);
        EXPECT_EQ(w.cls->write(w.port, w.packet(61, 8)), 0);
        std::string info = w.info();
        EXPECT_NE(info.find("is_compressed FALSE"), std::string::npos) << info;
        EXPECT_NE(info.find("sniffer_version 4.9"), std::string::npos) << info;
        ReportCapture cap;
        EXPECT_EQ(w.cls->read(w.port), nullptr);
        EXPECT_TRUE(cap.contains("sniffer file is open for writing"));
    }  // closing writes the end-of-file record
    TestPort r;
    ReportCapture cap;
    ASSERT_EQ(r.open("sniffer", {"-file", path.c_str()}), 0);
    std::string info = r.info();
    EXPECT_EQ(info.rfind("if_file_name " + path + " sniffer_version 4.9 creation_date {", 0), 0u) << info;
    EXPECT_NE(info.find("} is_compressed FALSE network_type ENET time_type {PC = 0.0838096}"), std::string::npos)
        << info;
    auto got = r.read_all();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1]->data()[0], 8);
    EXPECT_NE(r.cls->write(r.port, r.packet(10, 0)), 0);
    EXPECT_TRUE(cap.contains("sniffer file is open for reading"));
    PacketBuffer* again = r.cls->fetch(r.port, 2);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->length(), 61u);
    buffer_free(again);
}

}  // namespace
}  // namespace zm

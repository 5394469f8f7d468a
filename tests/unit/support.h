// Fixtures shared by the unit tests: scratch files, a time-zone switch, the shipped protocol library,
// a reader fixture for capture formats, and a helper to compare a column of results at once.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/buffer.h"
#include "media/media.h"
#include "pdl/library_load.h"
#include "pdl/protodb.h"

namespace zm_test {

// A path in the tests' scratch directory ($ZEMKO_TEST_DATA, else /tmp).
inline std::string scratch(const std::string& name) {
    const char* dir = std::getenv("ZEMKO_TEST_DATA");
    std::string d = dir ? dir : "/tmp";
    mkdir(d.c_str(), 0755);
    return d + "/" + name;
}

inline void put_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> get_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sets TZ for the lifetime of the object, then restores it.
class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone() {
        old_ ? setenv("TZ", old_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

// Compiles library/pdl/all.pdlc into the process-wide database once; true
// when its nodes are there (also when another test loaded them first).
inline bool load_shipped_library() { return zm::load_shipped_library(); }

// The shipped library compiled once into a database of the tests' own, apart
// from the process-wide one (its messages are discarded).
inline zm::ProtoDb& shipped_database() {
    static zm::ProtoDb* db = [] {
        auto* d = new zm::ProtoDb;
        std::FILE* sink = std::tmpfile();
        zm::compile_pdl_file(*d, zm::shipped_library_path(), sink);
        if (sink) std::fclose(sink);
        return d;
    }();
    return *db;
}

// `f` applied to each item, in order: one comparison instead of one per item.
template <class C, class F>
auto each(const C& items, F f) {
    std::vector<decltype(f(*items.begin()))> out;
    for (const auto& x : items) out.push_back(f(x));
    return out;
}

// A pool of 1518-byte buffers and a reader's output kept until the test ends.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override { zm::pool_init(&pool_, 1518); }
    void TearDown() override {
        for (zm::PacketBuffer* b : held_) zm::buffer_free(b);
        zm::pool_destroy(&pool_);
    }
    // Reads until end of input (at most `limit` calls); skipped records give nullptr.
    template <class Reader>
    std::vector<zm::PacketBuffer*> read_all(Reader& r, int limit = 100) {
        std::vector<zm::PacketBuffer*> out;
        for (int i = 0; i < limit; ++i) {
            zm::PacketBuffer* b = r.read(&pool_);
            if (zm::is_end_of_input(b)) break;
            out.push_back(b);
            if (b) held_.push_back(b);
        }
        return out;
    }
    zm::Pool pool_;
    std::vector<zm::PacketBuffer*> held_;
};

}  // namespace zm_test

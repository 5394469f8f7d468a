// Fixtures shared by the unit tests: scratch files, a time-zone switch, the shipped protocol library.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    bool had_ = false;
    std::string old_;
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

}  // namespace zm_test

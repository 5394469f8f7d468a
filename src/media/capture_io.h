// Capture-file I/O: a file read in large chunks with positioned re-reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/timeutil.h"

namespace zm {

// One open capture file. Sequential reads go through a chunk buffer of
// kChunkSize bytes, so a replay costs one system call per chunk, not per
// record; positioned reads (`read_at`) bypass the chunk and leave the
// sequential position alone. The descriptor is closed by the destructor.
// Failures set errno and are returned, never thrown.
class CaptureFile {
public:
    static constexpr size_t kChunkSize = 256 * 1024;

    CaptureFile() = default;
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    bool open_read(const std::string& path);
    // Creates or truncates the file (permissions 0644) for writing.
    bool open_write(const std::string& path);
    // An anonymous file for reading and writing (in $TMPDIR or /tmp), gone
    // when closed.
    bool open_temporary();
    void close();
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Sequential reading: copies up to n bytes, fewer only at end of file or
    // on an error.
    size_t read(void* dst, size_t n);
    // Moves the sequential position; positions past the end are allowed (the
    // next read then returns 0 bytes).
    void seek(uint64_t pos);
    uint64_t tell() const { return pos_; }
    // Reads up to n bytes at pos without moving the sequential position.
    size_t read_at(uint64_t pos, void* dst, size_t n) const;

    // Appends bytes through the write buffer; false on a write error.
    bool write(const void* src, size_t n);
    bool write_zeros(size_t n);
    bool flush();

private:
    bool fill();

    int fd_ = -1;
    std::vector<uint8_t> chunk_;
    uint64_t chunk_start_ = 0;  // file offset of chunk_[0]
    size_t chunk_len_ = 0;      // valid bytes in chunk_
    uint64_t pos_ = 0;          // sequential position (reading)
    std::vector<uint8_t> out_;  // pending output (writing)
};

}  // namespace zm

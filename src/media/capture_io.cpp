// Capture-file I/O: chunked sequential reads, positioned reads, buffered writes.
#include "media/capture_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zm {

CaptureFile::~CaptureFile() { close(); }

bool CaptureFile::open_read(const std::string& path) {
    close();
    // Without blocking, so a FIFO with no writer cannot hang the caller; only
    // a regular file is a capture file.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        errno = EINVAL;
        return false;
    }
    return true;
}

bool CaptureFile::open_write(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool CaptureFile::open_temporary() {
    close();
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir && *dir ? dir : "/tmp";
    fd_ = ::open(base.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
    // File systems without O_TMPFILE: a named file, unlinked at once.
    std::string name = base + "/zemko-spill-XXXXXX";
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    ::unlink(name.c_str());
    return true;
}

void CaptureFile::close() {
    if (fd_ < 0) return;
    flush();
    ::close(fd_);
    fd_ = -1;
    chunk_.clear();
    chunk_.shrink_to_fit();
    chunk_start_ = 0;
    chunk_len_ = 0;
    pos_ = 0;
}

// Loads the chunk that starts at the sequential position.
bool CaptureFile::fill() {
    if (chunk_.size() != kChunkSize) chunk_.resize(kChunkSize);
    chunk_start_ = pos_;
    chunk_len_ = read_at(pos_, chunk_.data(), chunk_.size());
    return chunk_len_ > 0;
}

size_t CaptureFile::read(void* dst, size_t n) {
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (done < n) {
        if (pos_ < chunk_start_ || pos_ >= chunk_start_ + chunk_len_) {
            // Large reads go straight to the caller's memory.
            if (n - done >= kChunkSize) {
                size_t got = read_at(pos_, out + done, n - done);
                pos_ += got;
                done += got;
                break;
            }
            if (!fill()) break;
        }
        size_t off = static_cast<size_t>(pos_ - chunk_start_);
        size_t take = std::min(n - done, chunk_len_ - off);
        std::memcpy(out + done, chunk_.data() + off, take);
        done += take;
        pos_ += take;
    }
    return done;
}

void CaptureFile::seek(uint64_t pos) { pos_ = pos; }

size_t CaptureFile::read_at(uint64_t pos, void* dst, size_t n) const {
    if (fd_ < 0) {
        errno = EBADF;
        return 0;
    }
    if (pos > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(pos + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool CaptureFile::write(const void* src, size_t n) {
    const auto* in = static_cast<const uint8_t*>(src);
    out_.insert(out_.end(), in, in + n);
    return out_.size() < kChunkSize || flush();
}

bool CaptureFile::write_zeros(size_t n) {
    out_.insert(out_.end(), n, 0);
    return out_.size() < kChunkSize || flush();
}

bool CaptureFile::flush() {
    size_t done = 0;
    bool ok = true;
    while (done < out_.size()) {
        if (fd_ < 0) {
            ok = false;
            break;
        }
        ssize_t put = ::write(fd_, out_.data() + done, out_.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(put);
    }
    out_.clear();
    return ok;
}

}  // namespace zm

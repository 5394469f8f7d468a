// Bounds-checked byte reader and writer over a span: big-endian integers,
// bit fields, byte runs. A read or write that would pass the end does nothing,
// marks the cursor truncated and returns zero / false; nothing ever touches
// memory outside the span. Used for wire formats (BER, LSAs, checksummed
// headers) where every length comes from the data itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/bits.h"

namespace zm {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t offset() const { return pos_; }
    int bit_offset() const { return bit_; }
    size_t size() const { return size_; }
    size_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
    bool at_end() const { return remaining() == 0; }
    // True once any read asked for more than was there.
    bool truncated() const { return truncated_; }
    const uint8_t* data() const { return data_; }
    const uint8_t* here() const { return data_ + pos_; }

    bool can_read(size_t n) const { return bit_ == 0 && n <= remaining(); }

    uint8_t u8() { return static_cast<uint8_t>(take(1) ? data_[pos_ - 1] : 0); }
    uint16_t u16() { return take(2) ? get_net16(data_ + pos_ - 2) : 0; }
    uint32_t u32() { return take(4) ? get_net32(data_ + pos_ - 4) : 0; }
    // `n` bytes (0..8) as one big-endian number.
    uint64_t uint_n(size_t n) {
        if (n > 8 || !take(n)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | data_[pos_ - n + i];
        return v;
    }
    // Copies `n` bytes out; false (nothing copied) when fewer remain.
    bool bytes(void* out, size_t n) {
        if (!take(n)) return false;
        if (n) std::memcpy(out, data_ + pos_ - n, n);
        return true;
    }
    std::string string(size_t n) {
        if (!take(n)) return {};
        return std::string(reinterpret_cast<const char*>(data_ + pos_ - n), n);
    }
    bool skip(size_t n) { return take(n); }
    // A reader over the next `n` bytes, which this reader skips; an empty,
    // truncated reader when fewer remain.
    ByteReader sub(size_t n) {
        if (!take(n)) {
            ByteReader r;
            r.truncated_ = true;
            return r;
        }
        return ByteReader(data_ + pos_ - n, n);
    }
    // Moves to an absolute byte offset (bit offset 0); past the end truncates.
    bool seek(size_t offset) {
        if (offset > size_) {
            truncated_ = true;
            return false;
        }
        pos_ = offset;
        bit_ = 0;
        return true;
    }

    // Bit fields of 1..32 bits, most significant bit first, continuing from
    // the current bit position.
    uint32_t bits(int width) {
        if (width < 1 || width > 32 || !bits_fit(width)) {
            truncated_ = true;
            return 0;
        }
        uint32_t v = get_bits(data_ + pos_, bit_, width);
        advance_bits(width);
        return v;
    }

private:
    bool take(size_t n) {
        if (bit_ != 0 || n > remaining()) {
            truncated_ = true;
            return false;
        }
        pos_ += n;
        return true;
    }
    bool bits_fit(int width) const {
        size_t need = (static_cast<size_t>(bit_) + static_cast<size_t>(width) + 7) / 8;
        return need <= remaining();
    }
    void advance_bits(int width) {
        int total = bit_ + width;
        pos_ += static_cast<size_t>(total / 8);
        bit_ = total % 8;
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    int bit_ = 0;
    bool truncated_ = false;
};

class ByteWriter {
public:
    ByteWriter(uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t offset() const { return pos_; }
    size_t size() const { return size_; }
    size_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
    // True once any write asked for more room than was there.
    bool truncated() const { return truncated_; }
    uint8_t* data() const { return data_; }

    bool u8(uint8_t v) { return put(&v, 1); }
    bool u16(uint16_t v) {
        uint8_t b[2];
        put_net16(b, v);
        return put(b, 2);
    }
    bool u32(uint32_t v) {
        uint8_t b[4];
        put_net32(b, v);
        return put(b, 4);
    }
    bool bytes(const void* src, size_t n) { return put(src, n); }
    bool fill(uint8_t value, size_t n) {
        if (!room(n)) return false;
        std::memset(data_ + pos_, value, n);
        pos_ += n;
        return true;
    }
    // Overwrites 2 bytes at an absolute offset already written (a length or
    // checksum filled in afterwards).
    bool patch16(size_t at, uint16_t v) {
        if (at > pos_ || pos_ - at < 2) {
            truncated_ = true;
            return false;
        }
        put_net16(data_ + at, v);
        return true;
    }
    // Reserves `n` bytes and returns where they start (null when there is no room).
    uint8_t* reserve(size_t n) {
        if (!room(n)) return nullptr;
        uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }

private:
    bool room(size_t n) {
        if (n > remaining()) {
            truncated_ = true;
            return false;
        }
        return true;
    }
    bool put(const void* src, size_t n) {
        if (!room(n)) return false;
        if (n) std::memcpy(data_ + pos_, src, n);
        pos_ += n;
        return true;
    }

    uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool truncated_ = false;
};

}  // namespace zm

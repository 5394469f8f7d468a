// The MIB-text scanner's interface: raw token kinds and a scanner over a byte range.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>

namespace zm {

enum MibRawToken {
    kMibRawEnd = 0,
    kMibRawWord = 1,
    kMibRawQuoted,
    kMibRawLParen,
    kMibRawRParen,
    kMibRawLBrace,
    kMibRawRBrace,
    kMibRawComma,
    kMibRawSemi,
};

struct MibScanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct MibScanState {};

// Splits MIB text into raw tokens. The text must outlive the scanner (it is
// copied once by the scanner itself). Not copyable.
class MibScanner {
public:
    MibScanner(const char* data, size_t size);
    ~MibScanner();
    MibScanner(const MibScanner&) = delete;
    MibScanner& operator=(const MibScanner&) = delete;

    // The next token's kind (kMibRawEnd at the end), its text and its line.
    int next(std::string& text, int& line);

private:
    MibScanState state_;
    void* scanner_ = nullptr;
    void* buffer_ = nullptr;
    bool ended_ = false;
};

}  // namespace zm

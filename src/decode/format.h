// Field formatting (display text of decoded fields by display code) and the hexadecimal dump.
//
// All routines read only the `length` bytes of packet data they are given
// (bytes a format needs beyond them read as 0) and write at most `max`
// characters of text. Nothing here allocates per call once a caller's text
// has grown to its working size. Reports go to module pktprocess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zm {

struct DecodeElement;
struct Field;

enum CharSet : int { CHARSET_ASCII = 0, CHARSET_EBCDIC = 1 };

// The display text of a DECODE_FLD element of the packet `data` (`length`
// bytes): the field's symbolic name when its legal values name the value,
// otherwise format_field_value. Bit-swapped and byte-swapped fields are shown
// in their natural order. `text` is replaced.
void format_field(const DecodeElement& element, const uint8_t* data, uint32_t length, std::string& text,
                  size_t max);
// The numeric text of a DECODE_FLD element by its field's display code, without symbol lookup.
void format_field_value(const DecodeElement& element, const uint8_t* data, uint32_t length, std::string& text,
                        size_t max);

// Formats a value of `width` bits of `field` (display code, name for reports)
// whose first bit is at bit `bit_offset` (0..7) of `bytes` (`avail` readable
// bytes). `value` is used for widths 1..32; `element_offset` only names the
// place in the "Bad format" report. `text` is replaced.
void format_value(const Field* field, uint32_t width, uint32_t bit_offset, uint32_t value, const uint8_t* bytes,
                  size_t avail, uint32_t element_offset, std::string& text, size_t max);

// Text forms shared with other commands.
std::string ipv6_text(const uint8_t bytes[16]);
std::string oid_text(const uint8_t* bytes, size_t count);  // at most 256 characters

// Appends a dump of `count` bytes to `out`: lines of 16 bytes "\n%5lx:  "
// ("\n\r%5lx:  " with `crlf`), groups of four, and a character column; ends
// with "\n".
void hex_dump(const uint8_t* bytes, size_t count, std::string& out, bool crlf, CharSet charset);

// The EBCDIC-to-character table of the dump.
uint8_t ebcdic_to_char(uint8_t c);

}  // namespace zm

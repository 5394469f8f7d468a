// Comparison of integers of any length written in binary, hexadecimal or decimal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zm {

enum class NumRelation { eq, neq, lte, gte, gt, lt };

// Compares the numbers of one command's argument words (the words after the
// command name: A B, A BASE-A B, A B BASE-B or A BASE-A B BASE-B).
// On success stores whether the relation holds in *holds and returns true;
// otherwise returns false with the command's error text in *error.
bool numcmp_words(NumRelation rel, const std::vector<std::string_view>& words, bool* holds,
                  std::string* error);

// Validates `number` against `base` (a base name, any letter case) and
// compares it as a signed integer of any length with `other` in `other_base`.
// Returns -1, 0 or 1 in *result, or false with the error text in *error.
bool numcmp_compare(std::string_view a, std::string_view base_a, std::string_view b,
                    std::string_view base_b, int* result, std::string* error);

}  // namespace zm

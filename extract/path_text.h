#pragma once
// Path text operations, unit by unit. The backslash (0x5C) is the only path
// separator; a forward slash is an ordinary unit. No UTF-16 surrogate equals
// a backslash, so a character outside the Basic Multilingual Plane never
// splits a path.

#include "text.h"

// A set over the unit values 0 to 255; no unit above is ever a member.
struct DelimiterSet {
  unsigned words[8];

  constexpr bool Has(wchar_t unit) const {
    const unsigned value = static_cast<unsigned>(unit);
    return value < 256 && ((words[value >> 5] >> (value & 31)) & 1u);
  }
};

constexpr DelimiterSet BackslashDelimiters = {{0, 0, 1u << ('\\' - 64), 0, 0, 0, 0, 0}};

Text StripTrailingBackslashes(TextView text);
Text AddBackslash(TextView text);
// Token `number` (counting from 1) of `text`; empty when there are fewer.
Text ExtractToken(TextView text, int number, const DelimiterSet& delimiters);

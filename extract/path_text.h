#pragma once
// Byte-wise path text operations. The backslash (0x5C) is the only path
// separator; a forward slash is an ordinary byte, and no byte is read as part
// of a multi-byte character.

#include "text.h"

// A set over the 256 byte values.
struct DelimiterSet {
  unsigned words[8];

  constexpr bool Has(unsigned char byte) const {
    return (words[byte >> 5] >> (byte & 31)) & 1u;
  }
};

constexpr DelimiterSet BackslashDelimiters = {{0, 0, 1u << ('\\' - 64), 0, 0, 0, 0, 0}};

Text StripTrailingBackslashes(TextView text);
Text AddBackslash(TextView text);
// Token `number` (counting from 1) of `text`; empty when there are fewer.
Text ExtractToken(TextView text, int number, const DelimiterSet& delimiters);

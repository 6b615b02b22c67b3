#include "path_text.h"

Text StripTrailingBackslashes(TextView text) {
  int length = text.length;
  while (length > 0 && text.units[length - 1] == L'\\') --length;
  return Text(TextView{text.units, length});
}

Text AddBackslash(TextView text) {
  Text path = StripTrailingBackslashes(text);
  path.Append(L'\\');
  return path;
}

namespace {

enum class ScanState { BetweenTokens, InOtherToken, InWantedToken };

}  // namespace

Text ExtractToken(TextView text, int number, const DelimiterSet& delimiters) {
  Text token;
  int counter = 0;
  ScanState state = ScanState::BetweenTokens;
  for (int i = 0; i < text.length; ++i) {
    const wchar_t unit = text.units[i];
    // Membership comes first: a zero unit in the set is a delimiter.
    const bool delimiter = delimiters.Has(unit);
    if (!delimiter && unit == 0) continue;  // never starts, ends or joins a token
    switch (state) {
      case ScanState::BetweenTokens:
        if (delimiter) break;
        ++counter;
        if (counter == number) {
          token.Append(unit);
          state = ScanState::InWantedToken;
        } else {
          state = ScanState::InOtherToken;
        }
        break;
      case ScanState::InOtherToken:
        if (delimiter) state = ScanState::BetweenTokens;
        break;
      case ScanState::InWantedToken:
        if (delimiter) return token;
        token.Append(unit);
        break;
    }
  }
  return token;
}

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

// Tokens are counted down as they start: the wanted one is where the count
// reaches 0, and no later token can reach it again.
Text ExtractToken(TextView text, int number, const DelimiterSet& delimiters) {
  Text token;
  bool betweenTokens = true;
  for (int i = 0; i < text.length; ++i) {
    const wchar_t unit = text.units[i];
    // Membership comes first: a zero unit in the set is a delimiter.
    if (delimiters.Has(unit)) {
      betweenTokens = true;
    } else if (unit != 0) {  // never starts, ends or joins a token
      if (betweenTokens) --number;
      betweenTokens = false;
      if (number == 0) token.Append(unit);
    }
  }
  return token;
}

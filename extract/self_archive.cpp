#include "self_archive.h"

// Each half keeps its zero terminator, so that no layout of the image's
// constant data can put the two halves side by side.
const char MarkerHead[] = "Archive ";
const char MarkerTail[] = "sTaRT";

namespace {

bool MatchesAt(const unsigned char* at, const char* text, int length) {
  for (int i = 0; i < length; ++i)
    if (at[i] != static_cast<unsigned char>(text[i])) return false;
  return true;
}

}  // namespace

// The halves are compared one after the other, never joined in memory.
int FindPayloadMarker(const unsigned char* data, int size) {
  for (int i = 0; i + PayloadMarkerLength <= size; ++i)
    if (MatchesAt(data + i, MarkerHead, MarkerHeadLength) &&
        MatchesAt(data + i + MarkerHeadLength, MarkerTail, MarkerTailLength))
      return i + 1;
  return 0;
}

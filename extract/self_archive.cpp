#include "self_archive.h"

// Each half keeps its zero terminator, so that no layout of the image's
// constant data can put the two halves side by side.
const char MarkerHead[] = "Archive ";
const char MarkerTail[] = "sTaRT";

namespace {

// The empty asm statements make the halves opaque, so that the optimiser
// cannot fold the join into one 13-byte constant in the image.
void JoinPayloadMarker(unsigned char (&marker)[PayloadMarkerLength]) {
  const char* head = MarkerHead;
  const char* tail = MarkerTail;
  asm("" : "+r"(head));
  asm("" : "+r"(tail));
  for (int i = 0; i < MarkerHeadLength; ++i)
    marker[i] = static_cast<unsigned char>(head[i]);
  for (int i = 0; i < MarkerTailLength; ++i)
    marker[MarkerHeadLength + i] = static_cast<unsigned char>(tail[i]);
}

bool MarkerAt(const unsigned char* at,
              const unsigned char (&marker)[PayloadMarkerLength]) {
  for (int i = 0; i < PayloadMarkerLength; ++i)
    if (at[i] != marker[i]) return false;
  return true;
}

}  // namespace

int FindPayloadMarker(const unsigned char* data, int size) {
  unsigned char marker[PayloadMarkerLength];
  JoinPayloadMarker(marker);
  for (int i = 0; i + PayloadMarkerLength <= size; ++i)
    if (data[i] == marker[0] && MarkerAt(data + i, marker)) return i + 1;
  return 0;
}

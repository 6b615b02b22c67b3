#pragma once
// Finding the payload in a self-archive: the launcher image, then the 13-byte
// marker, then the compressed setup program up to the end of the file. The
// marker is the only locator, and its first occurrence wins, so the two
// halves are kept apart in the image and matched one after the other.

extern const char MarkerHead[];  // "Archive "
extern const char MarkerTail[];  // "sTaRT"

constexpr int MarkerHeadLength = 8;
constexpr int MarkerTailLength = 5;
constexpr int PayloadMarkerLength = MarkerHeadLength + MarkerTailLength;

// The 1-based position of the first occurrence of the joined marker in
// `data`, or 0 when it does not occur.
int FindPayloadMarker(const unsigned char* data, int size);

// Finding the marker: exact bytes, the first occurrence, a 1-based position.

#include <gtest/gtest.h>

#include <string>

#include "self_archive.h"

namespace {

int Find(const std::string& data) {
  return FindPayloadMarker(reinterpret_cast<const unsigned char*>(data.data()),
                           static_cast<int>(data.size()));
}

TEST(PayloadMarker, IsFoundAtItsOneBasedPositionAndTheFirstOccurrenceWins) {
  EXPECT_EQ(Find("Archive sTaRT"), 1);
  EXPECT_EQ(Find("MZ..Archive sTaRTSZDD"), 5);
  EXPECT_EQ(Find("xArchive sTaRTpayload Archive sTaRT"), 2);
  // A marker that forms the last 13 bytes leaves an empty payload.
  const std::string image(23552, '\0');
  EXPECT_EQ(Find(image + "Archive sTaRT"), 23553);
  // Zero bytes before and inside the data do not stop the search.
  EXPECT_EQ(Find(std::string("\0\0Archive sTaRT", 15)), 3);
}

TEST(PayloadMarker, AnythingButTheExactThirteenBytesIsNoMarker) {
  EXPECT_EQ(Find(""), 0);
  EXPECT_EQ(Find("Archive "), 0);
  EXPECT_EQ(Find("sTaRT"), 0);
  EXPECT_EQ(Find("Archive sTaR"), 0);  // cut short at the end of the data
  EXPECT_EQ(Find("archive sTaRT"), 0);
  EXPECT_EQ(Find("ARCHIVE START"), 0);
  EXPECT_EQ(Find("Archive start"), 0);
  EXPECT_EQ(Find("Archive  sTaRT"), 0);
  EXPECT_EQ(Find("sTaRTArchive "), 0);
}

}  // namespace

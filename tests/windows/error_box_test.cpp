// The error box: "Setup aborted.", a carriage return and the message, byte
// for byte, under the caption "Error", with one OK button, no icon and no
// owner window.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "error_box.h"
#include "fault_injection.h"

namespace {

using platform::faults::ErrorBoxes;

class ErrorBox : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { platform::faults::Reset(); }
};

TEST_P(ErrorBox, ShowsTheHeadingACarriageReturnAndTheMessageUnchanged) {
  const std::string& message = GetParam();
  ShowSetupError(message.c_str());
  ASSERT_EQ(ErrorBoxes().size(), 1u);
  const auto& box = ErrorBoxes().front();
  EXPECT_EQ(box.text, "Setup aborted.\r" + message);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.type, static_cast<unsigned>(MB_OK));  // no icon flag either
  EXPECT_FALSE(box.owned);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ErrorBox,
    ::testing::Values("I can not obtain path to temporary directory.",
                      "Error opening source file archive.",
                      "Error allocating memory for install process.",
                      "Error reading source archive.",
                      "Source file corrupted or invalid.",
                      "Error creating temporary directory.",
                      "Error writing setup program.",
                      "Error creating setup program.",
                      "Error allocating memory buffers.",
                      "Error initializing decompression routines.",
                      "Error decompressing setup program.", ""));

}  // namespace

// PumpMessages and ShowProgress with a real window and message queue.

#include <gtest/gtest.h>

#include "pipeline_fixture.h"

namespace {

constexpr UINT Counted = WM_APP + 1;

int Served;
int CharactersTranslated;

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM w,
                                   LPARAM l) {
  if (message == Counted) ++Served;
  if (message == WM_CHAR) ++CharactersTranslated;
  return ::DefWindowProcA(window, message, w, l);
}

class StatusLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = CountingProcedure;
    windowClass.lpszClassName = "HalvexTestCounting";
    ::RegisterClassA(&windowClass);
    counting = ::CreateWindowExA(0, "HalvexTestCounting", "", WS_OVERLAPPED,
                                 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(counting, nullptr);
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
      ::DispatchMessageA(&message);
    Served = CharactersTranslated = 0;
  }
  void TearDown() override { ::DestroyWindow(counting); }

  void Post(int count) {
    for (int i = 0; i < count; ++i)
      ASSERT_TRUE(::PostMessageA(counting, Counted, 0, 0));
  }
  std::string StatusText() {
    char text[128] = {};
    ::GetDlgItemTextA(status.Handle(), StatusLineId, text, sizeof text);
    return text;
  }
  void ShowAt(int percent, bool starting) {
    ShowProgress(status.Handle(), percent, starting);
  }

  test::Scratch scratch;
  test::StatusWindow status;
  HWND counting = nullptr;
};

TEST_F(StatusLineTest, OneCallServesAtMost101Messages) {
  Post(150);
  PumpMessages();
  EXPECT_EQ(Served, 101);
  PumpMessages();
  EXPECT_EQ(Served, 150);
  PumpMessages();
  EXPECT_EQ(Served, 150);
}

TEST_F(StatusLineTest, AQuitMessageDoesNotStopThePump) {
  Post(2);
  ::PostThreadMessageA(::GetCurrentThreadId(), WM_QUIT, 0, 0);
  Post(3);
  PumpMessages();
  EXPECT_EQ(Served, 5);
}

TEST_F(StatusLineTest, KeysAreTranslatedBeforeDispatch) {
  ::PostMessageA(counting, WM_KEYDOWN, 'A', 0x001E0001);
  PumpMessages();
  EXPECT_EQ(CharactersTranslated, 1);
}

TEST_F(StatusLineTest, ShowsTheClampedPercentageAndStoresItBack) {
  ShowAt(-5, false);
  EXPECT_EQ(StatusText(), "Decompressing setup : 0%");
  EXPECT_EQ(ProgressPercent, 0);
  ShowAt(250, false);
  EXPECT_EQ(StatusText(), "Decompressing setup : 100%");
  EXPECT_EQ(ProgressPercent, 100);
  ShowAt(7, false);
  EXPECT_EQ(StatusText(), "Decompressing setup : 7%");
  ShowAt(40, false);
  EXPECT_EQ(StatusText(), "Decompressing setup : 40%");
  ShowAt(100, true);
  EXPECT_EQ(StatusText(),
            "Decompressing setup : 100% starting setup program ...");
  ShowAt(INT_MIN, true);
  EXPECT_EQ(StatusText(), "Decompressing setup : 0% starting setup program ...");
}

// A text equal to the one shown is neither set again nor paused or pumped
// for; the same percentage with " starting setup program ..." is new.
TEST_F(StatusLineTest, ShowProgressServesMessagesOnlyForANewText) {
  Post(150);
  ShowAt(30, false);
  EXPECT_EQ(Served, 101);
  EXPECT_EQ(StatusText(), "Decompressing setup : 30%");
  const size_t shown = test::StatusWindow::Texts().size();
  ShowAt(30, false);
  EXPECT_EQ(Served, 101);
  EXPECT_EQ(test::StatusWindow::Texts().size(), shown);
  ShowAt(30, true);
  EXPECT_EQ(Served, 150);
  EXPECT_EQ(test::StatusWindow::Texts().size(), shown + 1);
}

}  // namespace

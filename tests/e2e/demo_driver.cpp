// Shows a self-archive at work for tools/demo.sh: starts it, reports where
// its dialog is so that the caller can take a picture, presses "&Install",
// reports the dialog again once the setup program runs, and prints every
// status text in the order it was set.
//
// Usage: halvex-demo-driver ARCHIVE HANDSHAKE_DIR
// At each picture moment it prints "picture NAME LEFT TOP WIDTH HEIGHT" and
// waits until the caller has created HANDSHAKE_DIR\NAME.done.

#include <cstdio>
#include <string>

#include "launcher_driver.h"

namespace {

using namespace e2e;

bool PictureTaken(HWND dialog, const std::string& handshake,
                  const char* name) {
  RECT rect = {};
  GetWindowRect(dialog, &rect);
  std::printf("picture %s %ld %ld %ld %ld\n", name, rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top);
  std::fflush(stdout);
  const std::string done = handshake + "\\" + name + ".done";
  return WaitUntil([&] { return Exists(done); }, 60s);
}

int Fail(const char* why) {
  std::fprintf(stderr, "demo: %s\n", why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: halvex-demo-driver ARCHIVE HANDSHAKE_DIR");
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  const std::string statusLog = std::string(argv[2]) + "\\status.log";
  Launcher launcher(argv[1], directory, {{"HALVEX_E2E_STATUS_LOG", statusLog}});
  if (!launcher.Running()) return Fail("the self-archive did not start");
  HWND dialog = launcher.WaitForDialog();
  if (!dialog) return Fail("the dialog did not appear");
  if (!PictureTaken(dialog, argv[2], "collapsed"))
    return Fail("no picture was taken");

  StatusRecorder recorder(launcher.ThreadId(), statusLog);
  if (!recorder.Hooked()) return Fail("the status line cannot be followed");
  Click(dialog, InstallButtonId);
  if (!WaitUntil([&] { return recorder.Saw("Waiting for setup end..."); }))
    return Fail("the setup program did not start");
  // The setup program's window takes the foreground as it opens; on a slow
  // (emulated) machine that may take seconds, and the picture shows the
  // dialog as the user sees it then. The launcher repaints when it next
  // serves its messages, within 100 ms.
  if (!WaitUntil([&] {
        const HWND foreground = GetForegroundWindow();
        return foreground && foreground != dialog;
      }))
    return Fail("the setup program's window did not take the foreground");
  Sleep(500);
  if (!PictureTaken(dialog, argv[2], "working"))
    return Fail("no picture was taken");

  const std::optional<DWORD> code = launcher.WaitForExit(120s);
  recorder.Stop();
  for (const std::string& text : recorder.Texts())
    std::printf("status: %s\n", text.c_str());
  if (!code) return Fail("the launcher did not end");
  std::printf("launcher exit code: %lu\n", *code);
  return 0;
}

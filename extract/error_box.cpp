#include "error_box.h"

#include "platform.h"
#include "run_log.h"

const char ErrorCreatingSetupProgram[] = "Error creating setup program.";
const char ErrorAllocatingMemoryBuffers[] = "Error allocating memory buffers.";
const char ErrorInitializingDecompression[] =
    "Error initializing decompression routines.";
const char ErrorDecompressingSetupProgram[] =
    "Error decompressing setup program.";

namespace {

// The heading and the longest message of the catalogue, with room to spare.
constexpr int BoxTextSize = 128;

// Copies `text` to `box` at `length` as far as it fits; the new length.
int AppendToBox(char (&box)[BoxTextSize], int length, const char* text) {
  while (*text && length < BoxTextSize - 1) box[length++] = *text++;
  return length;
}

}  // namespace

void ShowSetupError(const char* message) {
  LogEvent("error: ", message);
  if (SilentRun) return;
  char box[BoxTextSize];
  box[AppendToBox(box, AppendToBox(box, 0, "Setup aborted.\r"), message)] = 0;
  platform::MessageBoxA(box, "Error", MB_OK);
}

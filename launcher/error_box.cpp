#include "error_box.h"

#include "platform.h"
#include "run_log.h"
#include "run_state.h"

const char ErrorCreatingSetupProgram[] = "Error creating setup program.";
const char ErrorAllocatingMemoryBuffers[] = "Error allocating memory buffers.";
const char ErrorInitializingDecompression[] =
    "Error initializing decompression routines.";
const char ErrorDecompressingSetupProgram[] =
    "Error decompressing setup program.";

namespace {

// The heading and the longest message of the catalogue, with room to spare.
constexpr int BoxTextSize = 128;

}  // namespace

void LogSetupError(const char* message) { LogEvent("error: ", message); }

void ShowSetupError(const char* message) {
  LogSetupError(message);
  if (Run.silent) return;
  char box[BoxTextSize];
  platform::wsprintfA(box, "Setup aborted.\r%s", message);
  platform::MessageBoxA(box, "Error", MB_OK);
}

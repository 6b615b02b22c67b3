#include "error_box.h"

#include "platform.h"

const char ErrorCreatingSetupProgram[] = "Error creating setup program.";
const char ErrorAllocatingMemoryBuffers[] = "Error allocating memory buffers.";
const char ErrorInitializingDecompression[] =
    "Error initializing decompression routines.";
const char ErrorDecompressingSetupProgram[] =
    "Error decompressing setup program.";

void ShowSetupError(TextView message) {
  Text box(Literal("Setup aborted.\r"));
  box.Append(message);
  platform::MessageBoxA(box.CString(), "Error", MB_OK);
}

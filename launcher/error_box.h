#pragma once
// The one form in which the launcher reports a failure to the user: a box
// with no owner, caption "Error", one OK button and no icon, whose text is
// "Setup aborted.", a carriage return and the message.

// The catalogue's messages that more than one place raises; the others are
// literals where they are raised.
extern const char ErrorCreatingSetupProgram[];
extern const char ErrorAllocatingMemoryBuffers[];
extern const char ErrorInitializingDecompression[];
extern const char ErrorDecompressingSetupProgram[];

// The one way a failure that ends the job is logged: an "error: " line.
void LogSetupError(const char* message);
// `message` is one of the catalogue's fixed English texts. It is logged, and
// a silent run shows no box.
void ShowSetupError(const char* message);

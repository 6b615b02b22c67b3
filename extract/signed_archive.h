#pragma once
// A signed self-archive carries the Authenticode certificate table behind
// the payload; those bytes must not reach "setup.ex_", where LZ32 would
// decode them as more data.

// The 0-based end of the payload that starts at 0-based `payloadOffset`: the
// start of the certificate table named by the PE header at the start of
// `archive` when that table lies wholly behind the payload's start and ends
// exactly at the end of the file; `size` in every other case.
int PayloadEnd(const unsigned char* archive, int size, int payloadOffset);

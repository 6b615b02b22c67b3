// The launcher image embedded as halvex-pack's default stub; generated at
// build time by cmake/EmbedFile.cmake (size 0 when the image was missing).
#pragma once
#include <cstddef>

extern const unsigned char halvex_default_stub[];
extern const std::size_t halvex_default_stub_size;
extern const char halvex_default_stub_sha256[];  // lowercase hex

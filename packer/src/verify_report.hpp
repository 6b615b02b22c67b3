// verify --json: the verdict and the summary as one JSON object, for build
// pipelines that gate on it instead of reading the text.
#pragma once

#include <string>

#include "archive.hpp"

namespace halvex {

// `error` empty means the archive is valid.  Fields of the steps verify did
// not reach are null.
std::string verify_report_json(const std::string& file, const ArchiveSummary& summary,
                               const std::string& error);

// The identity as the text summary shows it: one line for each part found,
// none without an identity.
std::string identity_lines(const Identity& identity);

}  // namespace halvex

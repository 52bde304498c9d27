// How an entry becomes its line in a log file; MessageLogger.h describes the form.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The letter after a stamp: "Z" for UTC, "L" for local time, nothing when the zone is not shown.
const char* ZoneLetter(bool utc, bool shown);

// Appends the text of one entry: breaks indent, control bytes escape.
void AppendEntryText(std::string& out, std::string_view text);

// Appends the format with the stamp and the text put in for its first two "%s".
void AppendEntryLine(std::string& out, std::string_view format, std::string_view stamp,
                     std::string_view text);

}  // namespace qm

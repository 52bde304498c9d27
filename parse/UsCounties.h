// The lines of data/us-counties.txt ("OK,40,109,Oklahoma County,H1"), comments left out,
// built into the library so that a program without its data folder still has them.
#pragma once

#include <span>
#include <string_view>

namespace qm {

std::span<const std::string_view> UsCountyLines();

}  // namespace qm

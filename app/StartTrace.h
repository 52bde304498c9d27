// Start-up marks, for finding where the start's time goes: with QM_TRACE_START set in the
// environment each mark writes to stderr the milliseconds since the program was loaded and
// since the mark before. Unset, a mark costs one test of a flag.
#pragma once

namespace qm {

void StartMark(const char* what);

}  // namespace qm

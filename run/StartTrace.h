// Start-up marks, for finding where the start's time goes: with QM_TRACE_START set in the
// environment each mark writes to stderr the milliseconds since the program was loaded and
// since the mark before. Unset, a mark costs one test of a flag.
// QM_TRACE_START=paint ends the process as soon as the first paint is flushed (no clean-up), so
// `perf stat -r N` can count what a start costs up to the window's first paint and nothing
// after it.
#pragma once

namespace qm {

void StartMark(const char* what);

// Called at the window's first paint: marks it, and ends the process when the trace asks.
void StartPainted();

}  // namespace qm

// Allocations that system libraries keep for the life of the process (fontconfig's
// caches, loaded on first font use) are not leaks of ours; LeakSanitizer reads this
// list when the test program ends. Only sanitizer builds look at it.
// The sanitizer runtime looks this name up; it must be spelled as the runtime spells it.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" const char* __lsan_default_suppressions();
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

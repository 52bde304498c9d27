// What ThreadSanitizer reads when a test program of the tsan build starts. Debian's Qt is not
// built with ThreadSanitizer: a call queued from another thread (QMetaObject::invokeMethod,
// the one way results come back to the desk) is handed over under Qt's own mutex, which locks
// by futex where the sanitizer cannot see it, so the call's memory looks raced between the
// thread that posted it and the one that runs it. Only those hand-overs are left out; a race
// in our own code between two of our threads is still reported. Where two threads post to the
// desk at once (the store's commits and the log writer), Qt grows its event list inside its own
// library under that mutex: the copying it does there (realloc, memmove) is left out too, as
// that library is not instrumented and its locks are not seen. Print jobs make CUPS start
// helper processes after threads exist, which the sanitizer allows only when told. The board's
// HTTP library is Debian's build too: what it makes once on one worker and reads on another is
// handed over inside it, out of the sanitizer's sight.
// The sanitizer runtime looks these names up; they must be spelled as the runtime spells them.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_options();
extern "C" const char* __tsan_default_suppressions() {
  // The template that makes the call comes from Qt's header: named by its file where it is
  // inlined, by its mangled name where it is not.
  return "race:QMetaObject::invokeMethodImpl\n"
         "race:QtCore/qobjectdefs.h\n"
         "race:_ZN11QMetaObject12invokeMethod\n"
         "race:QCoreApplication::postEvent\n"
         "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libcpp-httplib.so\n";
}
extern "C" const char* __tsan_default_options() {
  return "die_after_fork=0";
}
// NOLINTEND(bugprone-reserved-identifier)

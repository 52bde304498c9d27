#include "print/CupsLibrary.h"

#include <QByteArray>

#include <dlfcn.h>

namespace qm {

namespace {

// The library by its soname: the one every libcups 2.x installs.
constexpr char LibraryName[] = "libcups.so.2";

QByteArray LibraryToOpen() {
#ifdef QM_TEST_LIBCUPS_SEAM
  // The tests' way to run without libcups, or with a library that is not libcups.
  QByteArray instead = qgetenv("QM_TEST_LIBCUPS");
  if (!instead.isEmpty()) return instead;
#endif
  return LibraryName;
}

QString CannotLoad() {
  const char* why = dlerror();
  return QStringLiteral("%1 cannot be loaded: %2")
      .arg(QLatin1String(LibraryName), why ? QString::fromLocal8Bit(why) : QStringLiteral("unknown error"));
}

// Fills `function` with the library's `name`; after the first one missing, leaves the rest.
template <typename TFunction>
void Bind(void* library, const char* name, TFunction& function, QString& error) {
  if (!error.isEmpty()) return;
  dlerror();
  void* found = dlsym(library, name);
  if (!found) {
    error = CannotLoad();
    return;
  }
  function = reinterpret_cast<TFunction>(found);
}

TCupsLibrary Load() {
  TCupsLibrary t;
  // Never closed: libcups keeps per-thread state whose destructors are its own code.
  void* library = dlopen(LibraryToOpen().constData(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    t.Error = CannotLoad();
    return t;
  }
  QString& e = t.Error;
  Bind(library, "cupsAddOption", t.cupsAddOption, e);
  Bind(library, "cupsEncodeOptions2", t.cupsEncodeOptions2, e);
  Bind(library, "cupsEncryption", t.cupsEncryption, e);
  Bind(library, "cupsFreeOptions", t.cupsFreeOptions, e);
  Bind(library, "cupsGetResponse", t.cupsGetResponse, e);
  Bind(library, "cupsLastError", t.cupsLastError, e);
  Bind(library, "cupsLastErrorString", t.cupsLastErrorString, e);
  Bind(library, "cupsSendRequest", t.cupsSendRequest, e);
  Bind(library, "cupsServer", t.cupsServer, e);
  Bind(library, "cupsUser", t.cupsUser, e);
  Bind(library, "cupsWriteRequestData", t.cupsWriteRequestData, e);
  Bind(library, "httpAssembleURI", t.httpAssembleURI, e);
  Bind(library, "httpClose", t.httpClose, e);
  Bind(library, "httpConnect2", t.httpConnect2, e);
  Bind(library, "httpError", t.httpError, e);
  Bind(library, "httpReconnect2", t.httpReconnect2, e);
  Bind(library, "httpSetTimeout", t.httpSetTimeout, e);
  Bind(library, "ippAddBoolean", t.ippAddBoolean, e);
  Bind(library, "ippAddInteger", t.ippAddInteger, e);
  Bind(library, "ippAddOctetString", t.ippAddOctetString, e);
  Bind(library, "ippAddString", t.ippAddString, e);
  Bind(library, "ippAddStrings", t.ippAddStrings, e);
  Bind(library, "ippDelete", t.ippDelete, e);
  Bind(library, "ippErrorString", t.ippErrorString, e);
  Bind(library, "ippFindAttribute", t.ippFindAttribute, e);
  Bind(library, "ippFirstAttribute", t.ippFirstAttribute, e);
  Bind(library, "ippGetBoolean", t.ippGetBoolean, e);
  Bind(library, "ippGetCount", t.ippGetCount, e);
  Bind(library, "ippGetGroupTag", t.ippGetGroupTag, e);
  Bind(library, "ippGetInteger", t.ippGetInteger, e);
  Bind(library, "ippGetName", t.ippGetName, e);
  Bind(library, "ippGetOctetString", t.ippGetOctetString, e);
  Bind(library, "ippGetState", t.ippGetState, e);
  Bind(library, "ippGetStatusCode", t.ippGetStatusCode, e);
  Bind(library, "ippGetString", t.ippGetString, e);
  Bind(library, "ippGetValueTag", t.ippGetValueTag, e);
  Bind(library, "ippLength", t.ippLength, e);
  Bind(library, "ippNewRequest", t.ippNewRequest, e);
  Bind(library, "ippNextAttribute", t.ippNextAttribute, e);
  Bind(library, "ippPort", t.ippPort, e);
  return t;
}

}  // namespace

const TCupsLibrary& Cups() {
  static const TCupsLibrary table = Load();
  return table;
}

}  // namespace qm

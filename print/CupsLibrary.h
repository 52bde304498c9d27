#pragma once
// libcups, loaded when the spooler is first asked rather than when the program starts: it
// brings a dozen libraries of its own (TLS, service discovery, Kerberos) that the window does
// not need to show itself. Only where libcups is built in (QM_HAVE_CUPS). Its header still
// gives the types and constants; only its functions are reached through this table.

#include <QString>

#include <cups/cups.h>

namespace qm {

// The libcups functions the print jobs call, looked up one by one.
struct TCupsLibrary {
  decltype(&::cupsAddOption) cupsAddOption = nullptr;
  decltype(&::cupsEncodeOptions2) cupsEncodeOptions2 = nullptr;
  decltype(&::cupsEncryption) cupsEncryption = nullptr;
  decltype(&::cupsFreeOptions) cupsFreeOptions = nullptr;
  decltype(&::cupsGetResponse) cupsGetResponse = nullptr;
  decltype(&::cupsLastError) cupsLastError = nullptr;
  decltype(&::cupsLastErrorString) cupsLastErrorString = nullptr;
  decltype(&::cupsSendRequest) cupsSendRequest = nullptr;
  decltype(&::cupsServer) cupsServer = nullptr;
  decltype(&::cupsUser) cupsUser = nullptr;
  decltype(&::cupsWriteRequestData) cupsWriteRequestData = nullptr;
  decltype(&::httpAssembleURI) httpAssembleURI = nullptr;
  decltype(&::httpClose) httpClose = nullptr;
  decltype(&::httpConnect2) httpConnect2 = nullptr;
  decltype(&::httpError) httpError = nullptr;
  decltype(&::httpReconnect2) httpReconnect2 = nullptr;
  decltype(&::httpSetTimeout) httpSetTimeout = nullptr;
  decltype(&::ippAddBoolean) ippAddBoolean = nullptr;
  decltype(&::ippAddInteger) ippAddInteger = nullptr;
  decltype(&::ippAddOctetString) ippAddOctetString = nullptr;
  decltype(&::ippAddString) ippAddString = nullptr;
  decltype(&::ippAddStrings) ippAddStrings = nullptr;
  decltype(&::ippDelete) ippDelete = nullptr;
  decltype(&::ippErrorString) ippErrorString = nullptr;
  decltype(&::ippFindAttribute) ippFindAttribute = nullptr;
  decltype(&::ippFirstAttribute) ippFirstAttribute = nullptr;
  decltype(&::ippGetBoolean) ippGetBoolean = nullptr;
  decltype(&::ippGetCount) ippGetCount = nullptr;
  decltype(&::ippGetGroupTag) ippGetGroupTag = nullptr;
  decltype(&::ippGetInteger) ippGetInteger = nullptr;
  decltype(&::ippGetName) ippGetName = nullptr;
  decltype(&::ippGetOctetString) ippGetOctetString = nullptr;
  decltype(&::ippGetState) ippGetState = nullptr;
  decltype(&::ippGetStatusCode) ippGetStatusCode = nullptr;
  decltype(&::ippGetString) ippGetString = nullptr;
  decltype(&::ippGetValueTag) ippGetValueTag = nullptr;
  decltype(&::ippLength) ippLength = nullptr;
  decltype(&::ippNewRequest) ippNewRequest = nullptr;
  decltype(&::ippNextAttribute) ippNextAttribute = nullptr;
  decltype(&::ippPort) ippPort = nullptr;

  // Empty once every function above was found; else why libcups cannot be used, e.g.
  // "libcups.so.2 cannot be loaded: libcups.so.2: cannot open shared object file: ...".
  QString Error;
};

// The table, loaded on the first call from any thread; never unloaded. Its functions may be
// called only when Error is empty: TCupsConnection checks that before any request is made.
const TCupsLibrary& Cups();

}  // namespace qm

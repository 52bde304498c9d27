// Any text must give a packet, never an exception, with fields that agree with each other.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/parse/FuzzCheck.h"
#include "parse/QuillmarkParse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  const auto p = qm::ParseAprsPacket(s, 77u, 1.5);
  QM_FUZZ_CHECK(p != nullptr);
  QM_FUZZ_CHECK(p->RawText == s);
  QM_FUZZ_CHECK(p->TickCount == 77u && p->ReceivedUtc == 1.5);
  // Header and body are the text around the first ":" and the ":" after it.
  if (!p->Header.empty() || !p->Body.empty()) QM_FUZZ_CHECK(p->Header + "::" + p->Body == s);
  if (p->Selected) {
    QM_FUZZ_CHECK(p->Header + "::" + p->Body == s);
    QM_FUZZ_CHECK(p->Header.find(':') == std::string::npos);
    QM_FUZZ_CHECK(p->Kind != qm::mkNone);
  } else {
    QM_FUZZ_CHECK(p->Kind == qm::mkNone);
    QM_FUZZ_CHECK(p->MessageText.empty() && p->MessageId.empty() && p->State.empty());
  }
  if (p->Header.empty() && p->Body.empty() && !p->Selected) {
    // Stopped before the header: nothing else may be filled.
    QM_FUZZ_CHECK(!p->Source.Valid && !p->Destination.Valid && p->Path.empty());
    QM_FUZZ_CHECK(!p->SourceStarred && p->Addressee.empty());
  }
  QM_FUZZ_CHECK(p->Addressee.size() <= 9);
  QM_FUZZ_CHECK(p->MessageId.size() <= 255);
  QM_FUZZ_CHECK(p->MessageText.find('{') == std::string::npos);
  QM_FUZZ_CHECK(p->State.size() <= 2);
  if (!p->State.empty()) QM_FUZZ_CHECK(p->Kind == qm::mkNwsAlert);
  if (p->Kind == qm::mkNwsAlert) QM_FUZZ_CHECK(p->Addressee.size() >= 4 && p->Addressee[3] == '-');
  for (char c : p->Source.BaseCall) QM_FUZZ_CHECK(!(c >= 'a' && c <= 'z'));
  // The source is at most 9 characters, or 10 with its "*" dropped.
  QM_FUZZ_CHECK(p->Source.BaseCall.size() <= 9);
  // A given-away text parses exactly as a view of it does.
  const auto q = qm::ParseAprsPacket(std::string(s), 77u, 1.5);
  QM_FUZZ_CHECK(q->RawText == p->RawText && q->Header == p->Header && q->Body == p->Body);
  QM_FUZZ_CHECK(q->Selected == p->Selected && q->Kind == p->Kind && q->State == p->State);
  QM_FUZZ_CHECK(q->Source.FullCall == p->Source.FullCall &&
                q->Destination.FullCall == p->Destination.FullCall);
  QM_FUZZ_CHECK(q->Path == p->Path && q->MessageText == p->MessageText && q->MessageId == p->MessageId);
  return 0;
}

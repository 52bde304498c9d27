// Where objects cross threads: the thread that owns an object, and the one check that a call
// meant for it comes from there. Debug builds (the sanitizer builds among them) stop at a call
// from the wrong thread; release builds check nothing.
#pragma once

#include <cassert>
#include <thread>

namespace qm {

class TOwnerThread {
 public:
  // Owned by the thread that makes it.
  TOwnerThread() = default;
  // The calling thread owns it from now on (an object handed to another thread at its start).
  void Adopt() { FId = std::this_thread::get_id(); }
  bool IsCurrent() const { return std::this_thread::get_id() == FId; }

 private:
  std::thread::id FId = std::this_thread::get_id();
};

}  // namespace qm

// At the start of a call that only the owner's thread may make.
#define QM_ASSERT_OWNER_THREAD(owner) \
  assert((owner).IsCurrent() && "called from a thread that does not own it")

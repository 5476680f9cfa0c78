#pragma once
// The engine's locks. Both are BasicLockable, so std::lock_guard and std::unique_lock hold
// them for a scope.

#include "platform/Threads.h"

namespace tunewell {

class TMPAbstractMutex {
 public:
  virtual ~TMPAbstractMutex() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;

  void lock() { Lock(); }
  void unlock() { Unlock(); }
};

// Re-entrant: the holder may lock again and must unlock as often.
class TMPSimpleMutex : public TMPAbstractMutex {
 public:
  TMPSimpleMutex() = default;
  TMPSimpleMutex(const TMPSimpleMutex&) = delete;
  TMPSimpleMutex& operator=(const TMPSimpleMutex&) = delete;

  void Lock() override { section_.lock(); }
  void Unlock() override { section_.unlock(); }

 private:
  CriticalSection section_;
};

}  // namespace tunewell

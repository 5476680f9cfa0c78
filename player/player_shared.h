#pragma once
// What the component shares with its window's handler and its worker threads beyond its own
// lifetime: whether it still lives, and the worker exceptions waiting to be shown.

#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "player/MP3Plyr.h"

namespace tunewell {

struct TMP3Player::TThreadError {
  std::exception_ptr Error;
  uint64_t Playback = 0;
  // Signalled once the main thread no longer needs the worker to wait.
  TMPSimpleEvent Answered;
};

struct TMP3Player::TShared {
  // Main thread only.
  bool Alive = true;
  int BusyDepth = 0;

  // Set while the main thread waits for a worker (Stop, Close, destruction): a worker waiting
  // in ForwardThreadException goes on, and its exception stays queued for the handler.
  TMPSimpleEvent MainBusy;

  std::mutex Mutex;
  std::deque<std::shared_ptr<TThreadError>> Errors;
};

}  // namespace tunewell

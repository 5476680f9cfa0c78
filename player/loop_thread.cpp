#include <system_error>

#include "platform/Application.h"
#include "player/MPLoopThread.h"

namespace tunewell {

TMPLoopThread::TMPLoopThread(TMPMessageOwner* owner)
    : owner_(owner), handle_(std::make_unique<TThread>([this] { Execute(); })) {
  threadId_ = handle_->Id();
}

TMPLoopThread::~TMPLoopThread() {
  StopAndWait();
}

void TMPLoopThread::Resume() {
  if (!handle_) return;
  try {
    handle_->Start();
  } catch (const std::system_error&) {
    handle_.reset();  // the thread could not be created: posts and waits do nothing
  }
}

void TMPLoopThread::SetPriority(int priority) {
  if (handle_) handle_->SetPriority(priority);
}

void TMPLoopThread::SetTimeout(int32_t milliseconds) {
  if (timeout_.exchange(milliseconds) != milliseconds && handle_ &&
      CurrentThreadId() != threadId_) {
    handle_->Wake();  // the loop may be asleep with the old timeout
  }
}

void TMPLoopThread::Post(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (handle_) PostThreadMessage(threadId_, {message, wParam, lParam});
}

void TMPLoopThread::Sync() {
  if (!handle_) return;
  TMPSimpleEvent done;
  Post(MPM_SYNC, reinterpret_cast<WPARAM>(&done), 0);
  WaitForAny({&done.Handle(), &handle_->Ended()}, INFINITE);
}

void TMPLoopThread::StopAndWait() {
  if (!handle_) return;
  PostQuit();
  handle_->Join();
}

void TMPLoopThread::Execute() {
  MessageQueue& queue = CurrentThreadQueue();
  bool quit = false;
  while (!quit) {
    try {
      DispatchOnce(queue, quit);
    } catch (const std::exception& e) {
      bool handled = false;
      if (OnException) OnException(*this, e, handled);
      if (!handled) ApplicationShowException(e);
    }
  }
}

void TMPLoopThread::DispatchOnce(MessageQueue& queue, bool& quit) {
  const uint32_t woke = queue.WaitEventOrMessage(WakeEvent.Handle(), Timeout());
  if (woke == WAIT_OBJECT_0) {
    owner_->Dispatch({MPM_WATCHEVENT, 0, 0});
  } else if (woke == WAIT_TIMEOUT) {
    owner_->Dispatch({MPM_TIMEOUT, 0, 0});
  }
  Message message;
  while (queue.Peek(message, true)) {
    if (message.message == MPM_QUIT) {
      quit = true;
      return;
    }
    if (message.message == MPM_SYNC) {
      if (message.wParam != 0) reinterpret_cast<TMPEvent*>(message.wParam)->Signal();
    } else {
      owner_->Dispatch(message);
    }
  }
}

}  // namespace tunewell

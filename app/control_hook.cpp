#include <QEvent>

#include <stdexcept>

#include "app/CTLHOOK.h"

namespace tunewell {

QWidget* FindParentForm(QObject* object) {
  for (QObject* c = object; c != nullptr; c = c->parent()) {
    if (auto* widget = qobject_cast<QWidget*>(c)) return widget->window();
  }
  return nullptr;
}

TControlHook::TControlHook(QObject* owner) : QObject(owner) {}

TControlHook::~TControlHook() {
  SetHookActive(false);
}

void TControlHook::Loaded() {
  SetControl(Control_);
}

void TControlHook::SetTarget(THookTarget value) {
  SetHookActive(false);
  Target_ = value;
  SetHookActive(true);
}

void TControlHook::SetControl(QWidget* value) {
  SetHookActive(false);
  Control_ = value;
  SetHookActive(true);
}

QWidget* TControlHook::ResolveTarget() const {
  if (Target_ == htControl) return Control_;
  return FindParentForm(Control_ != nullptr ? static_cast<QObject*>(Control_.data())
                                            : static_cast<QObject*>(parent()));
}

void TControlHook::SetHookActive(bool enable) {
  if (!enable) {
    if (HookedControl_ != nullptr) {
      HookedControl_->removeEventFilter(this);
      disconnect(HookedControl_, &QObject::destroyed, this, nullptr);
    }
    HookedHandle_ = 0;
    HookedControl_ = nullptr;
    return;
  }
  QWidget* target = ResolveTarget();
  if (target == nullptr) {
    if (Target_ == htForm) throw std::runtime_error("フック先を特定できません。");
    return;
  }
  // Asking for the id creates the native window when there is none yet.
  HookedHandle_ = static_cast<intptr_t>(target->winId());
  HookedControl_ = target;
  connect(target, &QObject::destroyed, this, &TControlHook::HookedControlDestroyed);
  target->installEventFilter(this);
}

// The widget is going away, so its event handling is not given back.
void TControlHook::HookedControlDestroyed() {
  HandleChanged(1);
  HookedControl_ = nullptr;
}

void TControlHook::HandleChanged(int reason) {
  if (reason == 1) HookedHandle_ = 0;
  if (reason == 2 && HookedControl_ != nullptr) {
    HookedHandle_ = static_cast<intptr_t>(HookedControl_->internalWinId());
  }
}

bool TControlHook::MessageHook(QEvent* /*event*/) {
  return false;
}

// A native window that goes away shows as a change of id to 0, a new one as a change to its id.
// The new handle is taken at the first event after that, once the window is complete.
bool TControlHook::eventFilter(QObject* watched, QEvent* event) {
  if (watched != HookedControl_.data()) return false;
  const bool hasWindow = HookedControl_->internalWinId() != 0;
  if (event->type() == QEvent::WinIdChange) {
    if (hasWindow) {
      HookedHandle_ = kRecreating;
    } else {
      HandleChanged(1);
    }
  } else if (HookedHandle_ == kRecreating && hasWindow) {
    HandleChanged(2);
  }
  return MessageHook(event);
}

}  // namespace tunewell

#pragma once
// TControlHook: stands in front of a widget's event handling (as an event filter). Everything
// still reaches the widget; subclasses look at each event first. It follows the widget's native
// window when that is destroyed and created again.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>

class QEvent;

namespace tunewell {

enum THookTarget { htControl, htForm };

class TControlHook : public QObject {
  Q_OBJECT
 public:
  // HookedHandle while the hooked window is being created again.
  static constexpr intptr_t kRecreating = -1;

  explicit TControlHook(QObject* owner);
  ~TControlHook() override;
  TControlHook(const TControlHook&) = delete;
  TControlHook& operator=(const TControlHook&) = delete;

  // After the owner's stored settings: hooks again with them.
  virtual void Loaded();

  THookTarget Target() const { return Target_; }
  // Raises "フック先を特定できません。" when htForm finds no form.
  void SetTarget(THookTarget value);
  QWidget* Control() const { return Control_; }
  void SetControl(QWidget* value);

  QWidget* HookedControl() const { return HookedControl_; }
  // The hooked widget's native window id; 0 when none, kRecreating while it is being re-created.
  intptr_t HookedHandle() const { return HookedHandle_; }

 protected:
  // reason 1: the window was destroyed or the widget removed; reason 2: a new window exists.
  virtual void HandleChanged(int reason);
  // True when the event is handled here and must not reach the widget.
  virtual bool MessageHook(QEvent* event);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* ResolveTarget() const;
  void SetHookActive(bool enable);
  void HookedControlDestroyed();

  THookTarget Target_ = htControl;
  QPointer<QWidget> Control_;
  QPointer<QWidget> HookedControl_;
  intptr_t HookedHandle_ = 0;
};

// The form a component or widget belongs to: a widget's window, or, for anything else, the form
// its owner chain reaches. Null at the end of the chain.
QWidget* FindParentForm(QObject* object);

}  // namespace tunewell

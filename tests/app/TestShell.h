#pragma once
// A notification-area shell for tests: records every call, refuses what a test tells it to, and
// sends mouse notifications to an icon's receiving window as the desktop would. With
// hostOpensMenus it stands for a host that opens the icons' menus itself.

#include <QCoreApplication>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <set>
#include <vector>

#include "app/NotifyShell.h"

namespace tunewell::test {

class TTestShell final : public TNotifyShell {
 public:
  struct Call {
    TNotifyIconMessage message;
    TNotifyIconData data;
  };

  TTestShell() : previous_(SetNotifyShell(this)) {}
  ~TTestShell() override { SetNotifyShell(previous_); }
  TTestShell(const TTestShell&) = delete;
  TTestShell& operator=(const TTestShell&) = delete;

  bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) override {
    calls.push_back({message, data});
    if (refuse.count(message) != 0) return false;
    switch (message) {
      case NIM_ADD:
        return shown_.insert(data.uID).second;
      case NIM_MODIFY:
        return shown_.count(data.uID) != 0;
      case NIM_DELETE:
        return shown_.erase(data.uID) != 0;
    }
    return false;
  }

  bool ShareIconMenu(uint32_t id, QMenu* menu) override {
    if (!hostOpensMenus || shown_.count(id) == 0) return false;
    sharedMenus[id] = menu;
    return menu != nullptr;
  }

  bool Shows(uint32_t id) const { return shown_.count(id) != 0; }

  // Sends the mouse messages, one after another, with the record the icon was added with.
  void Send(uint32_t id, std::initializer_list<uint32_t> mouseMessages) const {
    const auto added = std::find_if(calls.rbegin(), calls.rend(), [id](const Call& c) {
      return c.message == NIM_ADD && c.data.uID == id;
    });
    if (added == calls.rend()) return;
    for (uint32_t m : mouseMessages) SendNotifyMessage(added->data, m);
  }

  std::vector<Call> calls;
  std::set<TNotifyIconMessage> refuse;
  bool hostOpensMenus = false;
  std::map<uint32_t, QMenu*> sharedMenus;

 private:
  TNotifyShell* previous_;
  std::set<uint32_t> shown_;
};

}  // namespace tunewell::test

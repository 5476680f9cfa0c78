#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ErrorDisplay.h"
#include "app/TrayIcon.h"
#include "tests/app/TestShell.h"

namespace tunewell {
namespace {

QIcon SolidIcon(Qt::GlobalColor color) {
  QPixmap pixmap(16, 16);
  pixmap.fill(color);
  return QIcon(pixmap);
}

struct MouseCall {
  std::string event;
  TMouseButton button = mbLeft;
  TShiftState shift = ssNone;
  QPoint pos;
  bool operator==(const MouseCall&) const = default;
};

class TrayIconTest : public testing::Test {
 protected:
  void SetUp() override {
    previousDisplay_ =
        SetErrorDisplay([this](const QString& text) { errors.push_back(text.toStdString()); });
    QApplication::setWindowIcon(QIcon());
    previousInterval_ = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(150);
    QCursor::setPos(120, 90);
  }

  void TearDown() override {
    SetErrorDisplay(previousDisplay_);
    QApplication::setWindowIcon(QIcon());
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(previousInterval_);
  }

  // An icon of the form with an image of its own, so that it can be shown.
  TTrayIcon* NewIcon() {
    auto* icon = new TTrayIcon(&form);
    icon->SetIcon(SolidIcon(Qt::red));
    return icon;
  }

  TTrayIcon* NewShownIcon() {
    TTrayIcon* icon = NewIcon();
    icon->SetVisible(true);
    return icon;
  }

  void RecordMouse(TTrayIcon& icon) {
    icon.OnMouseDown = [this](QObject*, TMouseButton b, TShiftState s, int x, int y) {
      mouse.push_back({"down", b, s, {x, y}});
    };
    icon.OnMouseUp = [this](QObject*, TMouseButton b, TShiftState s, int x, int y) {
      mouse.push_back({"up", b, s, {x, y}});
    };
    icon.OnMouseMove = [this](QObject*, TShiftState s, int x, int y) {
      mouse.push_back({"move", mbLeft, s, {x, y}});
    };
  }

  int ClickWait() const { return QApplication::doubleClickInterval() + 50; }

  test::TTestShell shell;
  QWidget form;
  std::vector<std::string> errors;
  std::vector<MouseCall> mouse;

 private:
  TErrorDisplay previousDisplay_;
  int previousInterval_ = 0;
};

TEST_F(TrayIconTest, AddsTheRecordWithItsFixedFields) {
  TTrayIcon* icon = NewShownIcon();
  ASSERT_EQ(shell.calls.size(), 1u);
  const auto& [message, data] = shell.calls[0];
  EXPECT_EQ(message, NIM_ADD);
  EXPECT_EQ(data.cbSize, 88u);
  EXPECT_EQ(data.uCallbackMessage, 1224u);
  EXPECT_EQ(data.uID, icon->IconId());
  EXPECT_EQ(data.hWnd.data(), CallbackWindow());
  EXPECT_EQ(data.uFlags, 7u);
  EXPECT_STREQ(data.szTip.data(), "TipHelp");
  EXPECT_EQ(data.hIcon.cacheKey(), icon->Icon().cacheKey());
  EXPECT_TRUE(icon->Registered());
  ASSERT_NE(CallbackWindow(), nullptr);
  EXPECT_EQ(CallbackWindow()->parentWidget(), &form);
  EXPECT_FALSE(CallbackWindow()->isVisible());
}

TEST_F(TrayIconTest, TipIsDecodedForDisplayAndCutTo62BytesAtACharacter) {
  const std::string a61(61, 'a');
  const std::string a30(30, 'a');
  struct Case {
    const char* name;
    std::string tip;
    std::string stored;
    uint32_t flags;
  };
  std::string japanese;
  for (int i = 0; i < 30; ++i) japanese += "あ";
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += "あ";
  const Case cases[] = {
      {"70 single-byte characters", std::string(70, 'x'), std::string(62, 'x'), 7},
      {"empty", "", "", 3},
      {"90 bytes of kana", japanese, twenty, 7},
      {"character across the limit", a61 + "あ", a61, 7},
      {"title and empty artist", "Song.mp3/", "Song.mp3/", 7},
      {"shift-jis tag", "\x83\x5E\x83\x43\x83\x67\x83\x8B/" + a30, "タイトル/" + a30, 7},
  };
  for (const Case& c : cases) {
    TTrayIcon* icon = NewIcon();
    icon->SetTipHelp(c.tip);
    icon->SetVisible(true);
    EXPECT_EQ(icon->TipHelp(), c.stored) << c.name;
    ASSERT_FALSE(shell.calls.empty());
    EXPECT_EQ(std::string(shell.calls.back().data.szTip.data()), c.stored) << c.name;
    EXPECT_EQ(shell.calls.back().data.uFlags, c.flags) << c.name;
    delete icon;
  }
}

TEST_F(TrayIconTest, NewTipModifiesARegisteredIconOnlyWhenItChanges) {
  TTrayIcon* hidden = NewIcon();
  hidden->SetTipHelp("not shown");
  EXPECT_TRUE(shell.calls.empty());

  TTrayIcon* icon = NewShownIcon();
  shell.calls.clear();
  icon->SetTipHelp("Title/Artist");
  ASSERT_EQ(shell.calls.size(), 1u);
  EXPECT_EQ(shell.calls[0].message, NIM_MODIFY);
  EXPECT_STREQ(shell.calls[0].data.szTip.data(), "Title/Artist");
  icon->SetTipHelp("Title/Artist");
  EXPECT_EQ(shell.calls.size(), 1u);
  icon->SetTipHelp("");
  ASSERT_EQ(shell.calls.size(), 2u);
  EXPECT_EQ(shell.calls[1].data.uFlags, 3u);
}

TEST_F(TrayIconTest, StoredSettingsApplyAtLoaded) {
  TTrayIcon* icon = NewIcon();
  EXPECT_EQ(icon->TipHelp(), "TipHelp");
  icon->ReadState();
  EXPECT_EQ(icon->TipHelp(), "");
  icon->SetVisible(true);
  EXPECT_TRUE(icon->Visible());
  EXPECT_TRUE(shell.calls.empty());
  icon->Loaded();
  ASSERT_EQ(shell.calls.size(), 1u);
  EXPECT_EQ(shell.calls[0].message, NIM_ADD);
  EXPECT_EQ(shell.calls[0].data.uFlags, 3u);

  TTrayIcon* hidden = NewIcon();
  hidden->ReadState();
  hidden->Loaded();
  EXPECT_EQ(shell.calls.size(), 1u);
}

TEST_F(TrayIconTest, DisplayIconFallsBackToTheFormThenTheApplication) {
  const QIcon own = SolidIcon(Qt::red);
  const QIcon formIcon = SolidIcon(Qt::green);
  const QIcon appIcon = SolidIcon(Qt::blue);
  struct Case {
    const char* name;
    bool setOwn, setForm, setApp;
    const QIcon* expected;
  };
  const Case cases[] = {
      {"own icon first", true, true, true, &own},
      {"then the form's", false, true, true, &formIcon},
      {"then the application's", false, false, true, &appIcon},
      {"none", false, false, false, nullptr},
  };
  for (const Case& c : cases) {
    QWidget owner;
    if (c.setForm) owner.setWindowIcon(formIcon);
    QApplication::setWindowIcon(c.setApp ? appIcon : QIcon());
    TTrayIcon icon(&owner);
    if (c.setOwn) icon.SetIcon(own);
    shell.calls.clear();
    icon.SetVisible(true);
    if (c.expected == nullptr) {
      EXPECT_TRUE(icon.DisplayIcon().isNull()) << c.name;
      EXPECT_FALSE(icon.Visible()) << c.name;
      EXPECT_TRUE(shell.calls.empty()) << c.name;
    } else {
      EXPECT_EQ(icon.DisplayIcon().cacheKey(), c.expected->cacheKey()) << c.name;
      EXPECT_TRUE(icon.Visible()) << c.name;
      ASSERT_EQ(shell.calls.size(), 1u) << c.name;
      EXPECT_EQ(shell.calls[0].data.hIcon.cacheKey(), c.expected->cacheKey()) << c.name;
    }
  }
}

TEST_F(TrayIconTest, NewImageModifiesTheShownIcon) {
  TTrayIcon* icon = NewShownIcon();
  shell.calls.clear();
  const QIcon other = SolidIcon(Qt::yellow);
  icon->SetIcon(other);
  ASSERT_EQ(shell.calls.size(), 1u);
  EXPECT_EQ(shell.calls[0].message, NIM_MODIFY);
  EXPECT_EQ(shell.calls[0].data.hIcon.cacheKey(), other.cacheKey());
}

TEST_F(TrayIconTest, HidingAndDestroyingDeleteTheShellIcon) {
  TTrayIcon* icon = NewShownIcon();
  const uint32_t id = icon->IconId();
  icon->SetVisible(false);
  EXPECT_FALSE(icon->Registered());
  EXPECT_FALSE(shell.Shows(id));
  EXPECT_EQ(shell.calls.back().message, NIM_DELETE);

  icon->SetVisible(true);
  EXPECT_TRUE(shell.Shows(id));
  delete icon;
  EXPECT_FALSE(shell.Shows(id));
  EXPECT_EQ(shell.calls.back().message, NIM_DELETE);
}

TEST_F(TrayIconTest, RefusedAddOrModifyRaisesENotifyIconError) {
  shell.refuse = {NIM_ADD};
  TTrayIcon* icon = NewIcon();
  try {
    icon->SetVisible(true);
    ADD_FAILURE() << "no ENotifyIconError";
  } catch (const ENotifyIconError& e) {
    EXPECT_STREQ(e.what(), "タスクトレイにアイコンを登録できません。");
  }
  EXPECT_FALSE(icon->Registered());

  shell.refuse = {NIM_MODIFY};
  TTrayIcon* shown = NewShownIcon();
  EXPECT_THROW(shown->SetTipHelp("new tip"), ENotifyIconError);
  EXPECT_THROW(shown->SetIcon(SolidIcon(Qt::cyan)), ENotifyIconError);

  shell.refuse = {NIM_DELETE};
  shown->SetVisible(false);
  EXPECT_FALSE(shown->Registered());
}

TEST_F(TrayIconTest, RegistryHoldsAtMost100Icons) {
  std::vector<TTrayIcon*> icons;
  for (int i = 0; i < kMaxTrayIcons; ++i) icons.push_back(new TTrayIcon(&form));
  for (std::size_t i = 0; i < icons.size(); ++i) EXPECT_EQ(icons[i]->IconId(), i + 1);
  try {
    new TTrayIcon(&form);
    ADD_FAILURE() << "the 101st icon was made";
  } catch (const ENotifyIconError& e) {
    EXPECT_STREQ(e.what(), "タスクトレイにアイコンを登録できません。");
  }
  // The failed one took no place: freeing one makes room for exactly one.
  delete icons[49];
  icons.erase(icons.begin() + 49);
  auto* again = new TTrayIcon(&form);
  EXPECT_EQ(again->IconId(), 101u);
  EXPECT_THROW(new TTrayIcon(&form), ENotifyIconError);
  delete again;
  for (TTrayIcon* icon : icons) delete icon;
  auto* fresh = new TTrayIcon(&form);
  EXPECT_EQ(fresh->IconId(), 1u);
}

TEST_F(TrayIconTest, AnimateRateHasAFloorOf100) {
  TTrayIcon* icon = NewIcon();
  EXPECT_EQ(icon->AnimateRate(), 500);
  icon->SetAnimateRate(40);
  EXPECT_EQ(icon->AnimateRate(), 100);
  icon->SetAnimateRate(250);
  EXPECT_EQ(icon->AnimateRate(), 250);
}

TEST_F(TrayIconTest, MouseMessagesBecomeEventsAtThePointer) {
  TTrayIcon* icon = NewShownIcon();
  RecordMouse(*icon);
  const QPoint at = QCursor::pos();
  struct Case {
    uint32_t message;
    std::vector<MouseCall> expected;
  };
  const Case cases[] = {
      {WM_MOUSEMOVE, {{"move", mbLeft, ssNone, at}}},
      {WM_LBUTTONDOWN, {{"down", mbLeft, ssLeft, at}}},
      {WM_LBUTTONUP, {{"up", mbLeft, ssLeft, at}}},
      {WM_RBUTTONDOWN, {{"down", mbRight, ssRight, at}}},
      {WM_RBUTTONUP, {{"up", mbRight, ssRight, at}}},
      {WM_RBUTTONDBLCLK, {}},
      {WM_MBUTTONDOWN, {{"down", mbMiddle, ssMiddle, at}}},
      {WM_MBUTTONUP, {{"up", mbMiddle, ssMiddle, at}}},
  };
  for (const Case& c : cases) {
    mouse.clear();
    shell.Send(icon->IconId(), {c.message});
    EXPECT_EQ(mouse, c.expected) << "message " << std::hex << c.message;
  }
}

TEST_F(TrayIconTest, ButtonPressPopsUpItsMenuAtThePointer) {
  form.show();
  TTrayIcon* icon = NewShownIcon();
  RecordMouse(*icon);
  QMenu right;
  right.addAction(QStringLiteral("right"));
  QMenu left;
  left.addAction(QStringLiteral("left"));
  icon->SetRBPopupMenu(&right);
  icon->SetLBPopupMenu(&left);
  EXPECT_FALSE(icon->HostOpensMenu());

  shell.Send(icon->IconId(), {WM_RBUTTONDOWN});
  EXPECT_TRUE(right.isVisible());
  EXPECT_EQ(right.pos(), QCursor::pos());
  EXPECT_TRUE(mouse.empty());
  right.close();

  shell.Send(icon->IconId(), {WM_LBUTTONDOWN});
  EXPECT_TRUE(left.isVisible());
  left.close();
  EXPECT_TRUE(mouse.empty());

  // Without AutoPopup the press is an ordinary press.
  icon->SetAutoPopup(false);
  shell.Send(icon->IconId(), {WM_RBUTTONDOWN});
  EXPECT_FALSE(right.isVisible());
  ASSERT_EQ(mouse.size(), 1u);
  EXPECT_EQ(mouse[0].event, "down");
  EXPECT_EQ(mouse[0].button, mbRight);
}

// A StatusNotifierItem host gets the right-button menu and opens it where it likes; the icon must
// not open it a second time, and takes it back whenever it would not pop it up itself.
TEST_F(TrayIconTest, HostThatOpensMenusItselfGetsTheRightButtonMenu) {
  shell.hostOpensMenus = true;
  form.show();
  QMenu right;
  right.addAction(QStringLiteral("right"));
  TTrayIcon* icon = NewIcon();
  icon->SetRBPopupMenu(&right);
  EXPECT_TRUE(shell.sharedMenus.empty()) << "shared before the icon was added";
  icon->SetVisible(true);
  RecordMouse(*icon);
  const uint32_t id = icon->IconId();
  EXPECT_EQ(shell.sharedMenus[id], &right);
  EXPECT_TRUE(icon->HostOpensMenu());

  shell.Send(id, {WM_RBUTTONDOWN, WM_RBUTTONUP});
  EXPECT_FALSE(right.isVisible());
  EXPECT_EQ(mouse, (std::vector<MouseCall>{{"up", mbRight, ssRight, QCursor::pos()}}));

  struct Case {
    const char* what;
    std::function<void()> withdraw;
    std::function<void()> restore;
  };
  const Case cases[] = {
      {"AutoPopup off", [&] { icon->SetAutoPopup(false); }, [&] { icon->SetAutoPopup(true); }},
      {"disabled", [&] { icon->SetEnabled(false); }, [&] { icon->SetEnabled(true); }},
      {"menu removed", [&] { icon->SetRBPopupMenu(nullptr); },
       [&] { icon->SetRBPopupMenu(&right); }},
  };
  for (const Case& c : cases) {
    c.withdraw();
    EXPECT_EQ(shell.sharedMenus[id], nullptr) << c.what;
    EXPECT_FALSE(icon->HostOpensMenu()) << c.what;
    c.restore();
    EXPECT_EQ(shell.sharedMenus[id], &right) << c.what;
  }

  // Shown again after hiding: the new record gets the menu again.
  icon->SetVisible(false);
  EXPECT_FALSE(icon->HostOpensMenu());
  shell.sharedMenus.clear();
  icon->SetVisible(true);
  EXPECT_EQ(shell.sharedMenus[id], &right);
}

TEST_F(TrayIconTest, MenuThatGoesAwayIsForgotten) {
  TTrayIcon* icon = NewShownIcon();
  RecordMouse(*icon);
  auto menu = std::make_unique<QMenu>();
  icon->SetRBPopupMenu(menu.get());
  menu.reset();
  EXPECT_EQ(icon->RBPopupMenu(), nullptr);
  shell.Send(icon->IconId(), {WM_RBUTTONDOWN});
  ASSERT_EQ(mouse.size(), 1u);
  EXPECT_EQ(mouse[0].event, "down");
}

TEST_F(TrayIconTest, SingleClickRaisesOnClickAfterTheDoubleClickTime) {
  TTrayIcon* icon = NewShownIcon();
  int clicks = 0;
  int doubleClicks = 0;
  icon->OnClick = [&](QObject*) { ++clicks; };
  icon->OnDblClick = [&](QObject*) { ++doubleClicks; };

  QElapsedTimer timer;
  timer.start();
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_LBUTTONUP});
  EXPECT_TRUE(icon->ClickPending());
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return clicks > 0; }, 5000));
  EXPECT_GE(timer.elapsed(), ClickWait());
  QTest::qWait(ClickWait());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubleClicks, 0);
  EXPECT_FALSE(icon->ClickPending());
}

TEST_F(TrayIconTest, DoubleClickRaisesOnlyOnDblClick) {
  TTrayIcon* icon = NewShownIcon();
  int clicks = 0;
  int doubleClicks = 0;
  icon->OnClick = [&](QObject*) { ++clicks; };
  icon->OnDblClick = [&](QObject*) { ++doubleClicks; };
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
  EXPECT_EQ(doubleClicks, 1);
  QTest::qWait(2 * ClickWait());
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(icon->ClickPending());

  // The next single click is a click again.
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_LBUTTONUP});
  EXPECT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }, 5000));
}

TEST_F(TrayIconTest, OnMouseUpTakesTheReleaseFromOnClick) {
  TTrayIcon* icon = NewShownIcon();
  RecordMouse(*icon);
  int clicks = 0;
  icon->OnClick = [&](QObject*) { ++clicks; };
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_LBUTTONUP});
  EXPECT_FALSE(icon->ClickPending());
  QTest::qWait(2 * ClickWait());
  EXPECT_EQ(clicks, 0);
  ASSERT_EQ(mouse.size(), 2u);
  EXPECT_EQ(mouse[1].event, "up");
}

TEST_F(TrayIconTest, DisabledIconIgnoresNotificationsAndDropsAPendingClick) {
  TTrayIcon* icon = NewShownIcon();
  RecordMouse(*icon);
  icon->OnMouseUp = nullptr;
  int clicks = 0;
  icon->OnClick = [&](QObject*) { ++clicks; };
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_LBUTTONUP});
  ASSERT_TRUE(icon->ClickPending());
  mouse.clear();
  icon->SetEnabled(false);
  EXPECT_FALSE(icon->ClickPending());
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONUP, WM_LBUTTONDBLCLK});
  QTest::qWait(2 * ClickWait());
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(mouse.empty());
}

TEST_F(TrayIconTest, UnknownIdIsIgnored) {
  TTrayIcon* icon = NewShownIcon();
  RecordMouse(*icon);
  TNotifyIconData stranger = shell.calls.back().data;
  stranger.uID = icon->IconId() + 50;
  SendNotifyMessage(stranger, WM_LBUTTONDOWN);
  EXPECT_TRUE(mouse.empty());
}

TEST_F(TrayIconTest, HandlerErrorsGoToTheErrorDisplay) {
  TTrayIcon* icon = NewShownIcon();
  icon->OnMouseDown = [](QObject*, TMouseButton, TShiftState, int, int) {
    throw std::runtime_error("handler failed");
  };
  shell.Send(icon->IconId(), {WM_MBUTTONDOWN});
  EXPECT_EQ(errors, std::vector<std::string>{"handler failed"});
}

// The click thread outlives the icon here; its end must not reach the freed icon.
TEST_F(TrayIconTest, IconDestroyedWhileAClickIsPending) {
  TTrayIcon* icon = NewShownIcon();
  int clicks = 0;
  icon->OnClick = [&](QObject*) { ++clicks; };
  shell.Send(icon->IconId(), {WM_LBUTTONDOWN, WM_LBUTTONUP});
  delete icon;
  QTest::qWait(2 * ClickWait());
  EXPECT_EQ(clicks, 0);
}

// The shared receiving window goes with the form that owned it; later icons get a new one.
TEST_F(TrayIconTest, CallbackWindowFollowsItsOwner) {
  {
    QWidget first;
    TTrayIcon icon(&first);
    EXPECT_EQ(CallbackWindow()->parentWidget(), &first);
  }
  EXPECT_EQ(CallbackWindow(), nullptr);
  TTrayIcon* icon = NewShownIcon();
  ASSERT_NE(CallbackWindow(), nullptr);
  EXPECT_EQ(CallbackWindow()->parentWidget(), &form);
  RecordMouse(*icon);
  shell.Send(icon->IconId(), {WM_MBUTTONUP});
  EXPECT_EQ(mouse.size(), 1u);
}

// The real shell: the offscreen platform has no notification area, so the add fails.
TEST(TrayIconDesktop, AddFailsWhereThereIsNoNotificationArea) {
  if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this desktop has a tray";
  QWidget form;
  TTrayIcon icon(&form);
  icon.SetIcon(SolidIcon(Qt::red));
  EXPECT_THROW(icon.SetVisible(true), ENotifyIconError);
  EXPECT_FALSE(icon.Registered());
}

}  // namespace
}  // namespace tunewell

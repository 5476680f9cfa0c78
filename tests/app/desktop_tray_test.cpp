// The desktop shell against a real X display: with a notification area (trayer) the icon is
// embedded and real clicks, sent by xdotool, become the component's events; without one the add
// fails. Run by scripts/run-on-xvfb; TW_TRAY_HOST tells which of the two the display has.

#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/AppResources.h"
#include "app/TrayIcon.h"

namespace tunewell {
namespace {

bool DisplayHasTrayHost() {
  const char* value = std::getenv("TW_TRAY_HOST");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool Xdotool(const QStringList& arguments) {
  return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

class DesktopTrayTest : public testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs X11";
    if (!DisplayHasTrayHost()) GTEST_SKIP() << "display without a notification area";
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
      GTEST_SKIP() << "xdotool missing";
    }
    QApplication::setWindowIcon(ApplicationIcon());
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(300);
    icon = new TTrayIcon(&form);
    icon->SetRBPopupMenu(&menu);
    menu.addAction(QStringLiteral("終了(&X)"));
    icon->SetTipHelp("\x83\x5E\x83\x43\x83\x67\x83\x8B/Artist");
    ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    icon->SetVisible(true);
    ASSERT_TRUE(icon->Registered());
    // The icons of earlier tests may still wait for their deferred deletion.
    QList<QSystemTrayIcon*> shown;
    for (QSystemTrayIcon* i : QCoreApplication::instance()->findChildren<QSystemTrayIcon*>()) {
      if (i->isVisible()) shown.push_back(i);
    }
    ASSERT_EQ(shown.size(), 1);
    trayIcon = shown[0];
    ASSERT_TRUE(QTest::qWaitFor([&] { return trayIcon->geometry().width() > 0; }, 5000));
    QTest::qWait(300);
  }

  void TearDown() override {
    menu.close();
    QApplication::setWindowIcon(QIcon());
  }

  void ClickIcon(const char* button, int repeat = 1) {
    const QPoint at = trayIcon->geometry().center();
    ASSERT_TRUE(
        Xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                 QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(repeat),
                 QStringLiteral("--delay"), QStringLiteral("60"), QString::fromLatin1(button)}));
  }

  QWidget form;
  QMenu menu;
  TTrayIcon* icon = nullptr;
  QSystemTrayIcon* trayIcon = nullptr;
};

TEST_F(DesktopTrayTest, IconCarriesTheDecodedTip) {
  EXPECT_TRUE(trayIcon->isVisible());
  EXPECT_EQ(trayIcon->toolTip().toStdString(), "タイトル/Artist");
  icon->SetTipHelp("Next/Song");
  EXPECT_EQ(trayIcon->toolTip().toStdString(), "Next/Song");
  QPointer<QSystemTrayIcon> removed = trayIcon;
  icon->SetVisible(false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return removed.isNull(); }, 2000));
}

TEST_F(DesktopTrayTest, RightClickOpensTheMenuAtThePointer) {
  int ups = 0;
  int downs = 0;
  icon->OnMouseDown = [&](QObject*, TMouseButton, TShiftState, int, int) { ++downs; };
  icon->OnMouseUp = [&](QObject*, TMouseButton button, TShiftState shift, int, int) {
    EXPECT_EQ(button, mbRight);
    EXPECT_EQ(shift, ssRight);
    ++ups;
  };
  ClickIcon("3");
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ups == 1; }, 2000));
  EXPECT_EQ(downs, 0);
  EXPECT_TRUE(menu.geometry().adjusted(-2, -2, 2, 2).contains(QCursor::pos()));
}

TEST_F(DesktopTrayTest, SingleAndDoubleClicksAreToldApart) {
  int clicks = 0;
  int doubleClicks = 0;
  icon->OnClick = [&](QObject*) { ++clicks; };
  icon->OnDblClick = [&](QObject*) { ++doubleClicks; };
  ClickIcon("1");
  ASSERT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }, 5000));
  QTest::qWait(500);
  ClickIcon("1", 2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return doubleClicks == 1; }, 5000));
  QTest::qWait(QApplication::doubleClickInterval() + 300);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubleClicks, 1);
}

TEST(DesktopWithoutTray, AddFailsAndRaisesENotifyIconError) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs X11";
  if (DisplayHasTrayHost()) GTEST_SKIP() << "display has a notification area";
  EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  QWidget form;
  form.setWindowIcon(ApplicationIcon());
  TTrayIcon icon(&form);
  EXPECT_THROW(icon.SetVisible(true), ENotifyIconError);
  EXPECT_FALSE(icon.Registered());
}

}  // namespace
}  // namespace tunewell

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/AppResources.h"
#include "app/DROPDST.h"
#include "app/ErrorDisplay.h"
#include "app/Main.h"
#include "app/TrayIcon.h"
#include "app/equalizer.h"
#include "tests/app/TestShell.h"

namespace tunewell {
namespace {

std::string Text(const QString& s) {
  return s.toStdString();
}

TEST(MainFormLayout, WindowAndLabel) {
  TMainForm form;
  EXPECT_EQ(Text(form.windowTitle()), "Tunewell");
  EXPECT_EQ(Text(QGuiApplication::applicationDisplayName()), "Tunewell");
  EXPECT_EQ(form.size(), QSize(247, 128));
  EXPECT_EQ(form.minimumSize(), QSize(247, 128));
  EXPECT_EQ(form.maximumSize(), QSize(247, 128));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Text(form.font().family()), "ＭＳ Ｐゴシック");
  EXPECT_EQ(form.Label1->pos(), QPoint(48, 56));
  EXPECT_EQ(form.Label1->objectName(), QStringLiteral("Label1"));
}

TEST(MainFormLayout, LabelCaptionIsDrawnFromTheThree) {
  std::set<std::string> seen;
  for (int i = 0; i < 30; ++i) {
    TMainForm form;
    const std::string caption = Text(form.Label1->text());
    bool known = false;
    for (const char* c : TMainForm::kLabelCaptions) known = known || caption == c;
    EXPECT_TRUE(known) << caption;
    seen.insert(caption);
  }
  // 30 draws that all land on one caption would mean no drawing at all.
  EXPECT_GT(seen.size(), 1u);
}

TEST(MainFormLayout, TrayMenuAsStored) {
  TMainForm form;
  struct Item {
    const char* name;
    const char* caption;
    bool visible;
    bool checkable;
  };
  const Item top[] = {
      {"exitmenu", "終了(&X)", true, false},
      {"pausemenu", "一時停止/解除(&P)", true, true},
      {"stopmenu", "この曲はパス(&N)", true, false},
      {"equalizermenu", "イコライザー(&E)", false, false},
      {"invertpolaritymenu", "極性反転(&I)", true, true},
      {"taginfomenu", "タグ情報", true, false},
      {"debugmenu", "デバッグ(&D)", false, false},
  };
  const QList<QAction*> actions = form.traypopup->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(top)));
  for (qsizetype i = 0; i < actions.size(); ++i) {
    const Item& item = top[i];
    EXPECT_EQ(Text(actions[i]->objectName()), item.name);
    EXPECT_EQ(Text(actions[i]->text()), item.caption) << item.name;
    EXPECT_EQ(actions[i]->isVisible(), item.visible) << item.name;
    EXPECT_EQ(actions[i]->isCheckable(), item.checkable) << item.name;
    EXPECT_FALSE(actions[i]->isChecked()) << item.name;
  }
  const std::vector<std::pair<const char*, const char*>> tags = {
      {"titleinfomenu", "タイトル"},   {"artistinfomenu", "アーティスト"},
      {"albuminfomenu", "アルバム"},   {"yearinfomenu", "年"},
      {"commentinfomenu", "コメント"}, {"genreinfomenu", "ジャンル"}};
  ASSERT_EQ(actions[5]->menu(), form.taginfomenu);
  const QList<QAction*> tagItems = form.taginfomenu->actions();
  ASSERT_EQ(tagItems.size(), static_cast<qsizetype>(tags.size()));
  for (std::size_t i = 0; i < tags.size(); ++i) {
    EXPECT_EQ(Text(tagItems[i]->objectName()), tags[i].first);
    EXPECT_EQ(Text(tagItems[i]->text()), tags[i].second);
    EXPECT_TRUE(tagItems[i]->isVisible());
  }
  ASSERT_EQ(actions[6]->menu(), form.debugmenu);
  ASSERT_EQ(form.debugmenu->actions().size(), 1);
  EXPECT_EQ(form.debugmenu->actions()[0], form.shownowlistingmenu);
  EXPECT_EQ(Text(form.shownowlistingmenu->text()), "現在のListを表示(&L)");
  EXPECT_TRUE(form.shownowlistingmenu->isVisible());
}

TEST(MainFormLayout, ComponentsCarryTheirStoredSettings) {
  TMainForm form;
  EXPECT_EQ(form.tray->RBPopupMenu(), form.traypopup);
  EXPECT_EQ(form.tray->LBPopupMenu(), nullptr);
  EXPECT_EQ(form.tray->TipHelp(), "TipHelp");
  EXPECT_FALSE(form.tray->Visible());
  EXPECT_FALSE(form.tray->Registered());
  EXPECT_TRUE(form.tray->Icon().isNull());
  EXPECT_EQ(form.Drop->Target(), htForm);
  EXPECT_EQ(form.Drop->HookedControl(), &form);
  EXPECT_TRUE(form.Drop->AcceptDrop());
  EXPECT_TRUE(form.acceptDrops());
}

TEST(MainFormLayout, ExitItemClosesTheWindow) {
  TMainForm form;
  form.show();
  ASSERT_TRUE(form.isVisible());
  ASSERT_NE(CallbackWindow(), nullptr);
  EXPECT_FALSE(CallbackWindow()->isVisible());
  form.exitmenu->trigger();
  EXPECT_FALSE(form.isVisible());
}

// The default error display: a message box with the exception's text that does not block.
TEST(ErrorDisplay, MessageBoxWithTheExceptionsText) {
  SetErrorDisplay({});
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Tunewell"));
  ShowException(std::make_exception_ptr(std::runtime_error("unknown MPEG Audio format.")));
  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->isVisible()) box = b;
  }
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(Text(box->text()), "unknown MPEG Audio format.");
  EXPECT_EQ(Text(box->windowTitle()), "Tunewell");
  EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
  EXPECT_FALSE(box->testAttribute(Qt::WA_QuitOnClose));
  QPointer<QMessageBox> guard(box);
  box->close();
  QTest::qWait(0);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
}

// Without an icon in a notification area the window itself offers the tray menu.
TEST(MainFormLayout, ContextMenuIsTheTrayMenuWhileTheIconIsNotShown) {
  TMainForm form;
  form.show();
  ASSERT_FALSE(form.tray->Registered());
  QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(10, 10),
                            form.mapToGlobal(QPoint(10, 10)));
  QCoreApplication::sendEvent(&form, &request);
  EXPECT_TRUE(form.traypopup->isVisible());
  EXPECT_EQ(form.traypopup->pos(), form.mapToGlobal(QPoint(10, 10)));
  form.traypopup->close();

  test::TTestShell shell;
  QApplication::setWindowIcon(ApplicationIcon());
  form.tray->SetVisible(true);
  ASSERT_TRUE(form.tray->Registered());
  QContextMenuEvent again(QContextMenuEvent::Mouse, QPoint(10, 10),
                          form.mapToGlobal(QPoint(10, 10)));
  QCoreApplication::sendEvent(&form, &again);
  EXPECT_FALSE(form.traypopup->isVisible());
  form.tray->SetVisible(false);
  QApplication::setWindowIcon(QIcon());
}

TEST(EqualizerFormLayout, WindowAndControls) {
  TEqualizerForm form;
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(Text(form.windowTitle()), "EqualizerForm");
  EXPECT_EQ(form.size(), QSize(307, 193));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_EQ(form.windowType(), Qt::Dialog);
  EXPECT_EQ(form.pos(), QPoint(284, 227));
  EXPECT_FALSE(form.testAttribute(Qt::WA_QuitOnClose));

  EXPECT_EQ(form.balancebar->geometry(), QRect(80, 8, 150, 17));
  EXPECT_EQ(form.balancebar->orientation(), Qt::Horizontal);
  EXPECT_EQ(form.balancebar->tickPosition(), QSlider::TicksBelow);
  const int lefts[] = {40, 80, 120, 160, 200, 240};
  for (std::size_t i = 0; i < form.equalizebars.size(); ++i) {
    const QSlider* bar = form.equalizebars[i];
    EXPECT_EQ(Text(bar->objectName()), "equalizebar" + std::to_string(i + 1));
    EXPECT_EQ(bar->geometry(), QRect(lefts[i], 32, 25, 134));
    EXPECT_EQ(bar->orientation(), Qt::Vertical);
    EXPECT_EQ(bar->tickPosition(), QSlider::TicksBothSides);
  }
  for (const QSlider* bar : form.findChildren<QSlider*>()) {
    EXPECT_EQ(bar->minimum(), -100);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->tickInterval(), 1);
  }
  EXPECT_EQ(Text(form.equalizechkbox->text()), "イコライザー有効");
  EXPECT_EQ(form.equalizechkbox->geometry(), QRect(8, 168, 121, 17));
  EXPECT_FALSE(form.equalizechkbox->isChecked());

  const std::vector<std::pair<const char*, QPoint>> labels = {
      {"balance", {32, 8}}, {"+20db", {8, 32}}, {"0", {24, 93}}, {"-20db", {8, 152}}};
  const QList<QLabel*> children = form.findChildren<QLabel*>();
  for (const auto& [caption, pos] : labels) {
    const auto found = std::find_if(children.cbegin(), children.cend(),
                                    [&](const QLabel* l) { return Text(l->text()) == caption; });
    ASSERT_NE(found, children.cend()) << caption;
    EXPECT_EQ((*found)->pos(), pos) << caption;
  }
}

TEST(EqualizerFormLayout, TabOrder) {
  TEqualizerForm form;
  std::vector<QWidget*> expected = {form.balancebar};
  expected.insert(expected.end(), form.equalizebars.begin(), form.equalizebars.end());
  expected.push_back(form.equalizechkbox);
  std::vector<QWidget*> chain;
  QWidget* w = form.balancebar;
  do {
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
    w = w->nextInFocusChain();
  } while (w != form.balancebar && chain.size() < 20);
  EXPECT_EQ(chain, expected);
}

// Dragging a band bar's thumb to its top end gives −100, to its bottom end 100.
TEST(EqualizerFormLayout, BandBarsHaveTheirMinimumAtTheTop) {
  TEqualizerForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QSlider* bar = form.equalizebars[2];
  const auto drag = [&](int toY) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    // A vertical slider counts from the bottom unless its appearance is inverted.
    option.upsideDown = !bar->invertedAppearance();
    option.tickPosition = bar->tickPosition();
    const QPoint thumb =
        bar->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, bar)
            .center();
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, thumb);
    QTest::mouseMove(bar, QPoint(thumb.x(), toY));
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(thumb.x(), toY));
  };
  drag(0);
  EXPECT_EQ(bar->value(), -100);
  drag(bar->height() - 1);
  EXPECT_EQ(bar->value(), 100);
}

TEST(EqualizerFormLayout, ShowingSetsTheApplicationTitle) {
  TMainForm mainForm;
  TEqualizerForm form;
  EqualizerForm = &form;
  EXPECT_EQ(Text(QGuiApplication::applicationDisplayName()), "Tunewell");
  mainForm.equalizermenu->trigger();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.isModal());
  EXPECT_EQ(Text(QGuiApplication::applicationDisplayName()), "EqualizerForm");
  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(Text(QGuiApplication::applicationDisplayName()), "EqualizerForm");
  EqualizerForm = nullptr;
}

}  // namespace
}  // namespace tunewell

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>

#include <chrono>
#include <random>

#include "app/AppResources.h"
#include "app/DROPDST.h"
#include "app/Main.h"
#include "app/TrayIcon.h"
#include "app/equalizer.h"
#include "ui_MainForm.h"

namespace tunewell {

TMainForm* MainForm = nullptr;

namespace {

QAction* AddItem(QMenu& menu, const char* name, const char* caption) {
  QAction* item = menu.addAction(QString::fromUtf8(caption));
  item->setObjectName(QString::fromLatin1(name));
  return item;
}

QMenu* AddSubMenu(QMenu& menu, const char* name, const char* caption) {
  QMenu* sub = menu.addMenu(QString::fromUtf8(caption));
  sub->setObjectName(QString::fromLatin1(name));
  sub->menuAction()->setObjectName(QString::fromLatin1(name));
  return sub;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::MainForm>()) {
  InstallFontSubstitutes();
  // A fixed border with the system menu and the minimise button only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  ui->setupUi(this);
  Label1 = ui->Label1;
  CreateTrayMenu();
  CreateComponents();
  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::CreateTrayMenu() {
  traypopup = new QMenu(this);
  traypopup->setObjectName(QStringLiteral("traypopup"));
  exitmenu = AddItem(*traypopup, "exitmenu", "終了(&X)");
  pausemenu = AddItem(*traypopup, "pausemenu", "一時停止/解除(&P)");
  pausemenu->setCheckable(true);
  stopmenu = AddItem(*traypopup, "stopmenu", "この曲はパス(&N)");
  equalizermenu = AddItem(*traypopup, "equalizermenu", "イコライザー(&E)");
  equalizermenu->setVisible(false);
  invertpolaritymenu = AddItem(*traypopup, "invertpolaritymenu", "極性反転(&I)");
  invertpolaritymenu->setCheckable(true);
  taginfomenu = AddSubMenu(*traypopup, "taginfomenu", "タグ情報");
  titleinfomenu = AddItem(*taginfomenu, "titleinfomenu", "タイトル");
  artistinfomenu = AddItem(*taginfomenu, "artistinfomenu", "アーティスト");
  albuminfomenu = AddItem(*taginfomenu, "albuminfomenu", "アルバム");
  yearinfomenu = AddItem(*taginfomenu, "yearinfomenu", "年");
  commentinfomenu = AddItem(*taginfomenu, "commentinfomenu", "コメント");
  genreinfomenu = AddItem(*taginfomenu, "genreinfomenu", "ジャンル");
  debugmenu = AddSubMenu(*traypopup, "debugmenu", "デバッグ(&D)");
  debugmenu->menuAction()->setVisible(false);
  shownowlistingmenu = AddItem(*debugmenu, "shownowlistingmenu", "現在のListを表示(&L)");

  connect(exitmenu, &QAction::triggered, this, &TMainForm::exitmenuClick);
  connect(equalizermenu, &QAction::triggered, this, &TMainForm::equalizermenuClick);
}

// The settings the stored layout gives the components, in their stored order.
void TMainForm::CreateComponents() {
  Drop = new TDropDst(this);
  Drop->setObjectName(QStringLiteral("Drop"));
  Drop->SetTarget(htForm);
  Drop->Loaded();

  tray = new TTrayIcon(this);
  tray->setObjectName(QStringLiteral("tray"));
  tray->ReadState();
  tray->SetRBPopupMenu(traypopup);
  tray->SetTipHelp("TipHelp");
  tray->Loaded();
}

void TMainForm::FormCreate() {
  QGuiApplication::setApplicationDisplayName(windowTitle());
  std::mt19937 random(static_cast<std::mt19937::result_type>(
      std::chrono::system_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<std::size_t> pick(0, kLabelCaptions.size() - 1);
  Label1->setText(QString::fromUtf8(kLabelCaptions[pick(random)]));
  // The label sizes itself to its caption, as a stored label does.
  Label1->adjustSize();
}

void TMainForm::exitmenuClick() {
  close();
}

void TMainForm::contextMenuEvent(QContextMenuEvent* event) {
  if (tray->Registered()) {
    QWidget::contextMenuEvent(event);
    return;
  }
  traypopup->popup(event->globalPos());
  event->accept();
}

void TMainForm::equalizermenuClick() {
  if (EqualizerForm != nullptr) EqualizerForm->show();
}

}  // namespace tunewell

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>

#include <chrono>
#include <random>

#include "app/AppResources.h"
#include "app/DROPDST.h"
#include "app/ErrorDisplay.h"
#include "app/Main.h"
#include "app/TrayIcon.h"
#include "app/equalizer.h"
#include "info/MP3Info.h"
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

// Tag bytes as a menu shows them: decoded, with '&' kept from becoming an access key.
QString MenuCaption(const std::string& value) {
  return QString::fromStdString(DisplayText(value)).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The message boxes the default error display has open.
QList<QMessageBox*> OpenMessageBoxes() {
  QList<QMessageBox*> boxes;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
      boxes.push_back(box);
    }
  }
  return boxes;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::MainForm>()),
      queue_({[this](const std::string& name) { return StartSong(name); },
              [this](const std::string& name, const std::string& message) {
                ReportError(name, message);
              },
              {}}) {
  InstallFontSubstitutes();
  // A fixed border with the system menu and the minimise button only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  ui->setupUi(this);
  Label1 = ui->Label1;
  CreateTrayMenu();
  CreatePlayer();
  CreateComponents();
  FormCreate();
}

// The player goes first: its last notices must not reach a window half taken apart.
TMainForm::~TMainForm() {
  playerNotifier_.reset();
  mp3p.reset();
}

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

  const auto wire = [this](QAction* item, void (TMainForm::*handler)()) {
    connect(item, &QAction::triggered, this, [this, handler] {
      try {
        (this->*handler)();
      } catch (...) {
        ShowCurrentException();
      }
    });
  };
  wire(exitmenu, &TMainForm::exitmenuClick);
  wire(pausemenu, &TMainForm::pausemenuClick);
  wire(stopmenu, &TMainForm::stopmenuClick);
  wire(equalizermenu, &TMainForm::equalizermenuClick);
  wire(invertpolaritymenu, &TMainForm::invertpolaritymenuClick);
  wire(shownowlistingmenu, &TMainForm::shownowlistingmenuClick);
}

// The settings the stored layout gives the player, in their stored order. Its notices are
// delivered by the event loop.
void TMainForm::CreatePlayer() {
  mp3p = std::make_unique<TMP3Player>();
  mp3p->SetErrorDisplay([](std::exception_ptr error) { ShowException(error); });
  mp3p->SetProcessMessages([] { QCoreApplication::processEvents(); });
  mp3p->BeginLoading();
  mp3p->SetAutoOpen(true);
  mp3p->SetAutoPlay(true);
  mp3p->SetChangePosStep(400);
  mp3p->SetDecodePriority(tpNormal);
  mp3p->SetEqualizerEnabled(false);
  mp3p->SetEqualizerCount(6);
  mp3p->SetEqualizerMode(memSubBand);
  mp3p->SetNeedInfoType({mitID3V1, mitID3V2, mitRiff});
  mp3p->SetNoisySeek(false);
  mp3p->SetInvertPolarity(false);
  mp3p->SetUsingCpuCapabilities(AllCpuCapabilities);
  mp3p->SetVolBalance(0);
  mp3p->SetVolume(0);
  mp3p->OnEndPlay = [this](TMP3Player& sender, TMP3EndPlayReason reason) {
    mp3pEndPlay(sender, reason);
  };
  mp3p->Loaded();

  playerNotifier_ = std::make_unique<QSocketNotifier>(mp3p->NotifyFd(), QSocketNotifier::Read);
  connect(playerNotifier_.get(), &QSocketNotifier::activated, this, [this] {
    try {
      mp3p->ProcessNotifications();
    } catch (...) {
      ShowCurrentException();
    }
  });
}

// The settings the stored layout gives the components, in their stored order.
void TMainForm::CreateComponents() {
  Drop = new TDropDst(this);
  Drop->setObjectName(QStringLiteral("Drop"));
  Drop->SetTarget(htForm);
  Drop->OnFileDrop = [this](QObject* sender, const std::vector<std::string>& files, int32_t x,
                            int32_t y) { DropFileDrop(sender, files, x, y); };
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

// The names are kept as the list the drop delivers: a name may hold a line break, be longer than
// any fixed buffer, or not be UTF-8.
void TMainForm::DropFileDrop(QObject*, const std::vector<std::string>& Files, int32_t, int32_t) {
  switch (queue_.Drop(Files)) {
    case TPlayQueue::TState::Finished:
      QueueFinished();
      return;
    case TPlayQueue::TState::Waiting:
      QueueWaiting();
      return;
    case TPlayQueue::TState::Playing:
      break;
  }
  tray->SetVisible(true);
  hide();
}

void TMainForm::DropFiles(const std::vector<std::string>& files) {
  try {
    DropFileDrop(Drop, files, 0, 0);
  } catch (...) {
    ShowCurrentException();
  }
}

// A second start with no files only brings the waiting window forward.
void TMainForm::HandOver(const std::vector<std::string>& files) {
  if (!files.empty()) {
    DropFiles(files);
  } else if (isVisible()) {
    raise();
    activateWindow();
  }
}

// Opening the file starts it (AutoOpen, AutoPlay). When the device fails, every song would.
std::optional<TStartError> TMainForm::StartSong(const std::string& fileName) {
  try {
    mp3p->SetFileName(fileName);
  } catch (const ESoundOutError& e) {
    return TStartError{TStartError::TKind::Device, e.what()};
  } catch (const std::exception& e) {
    return TStartError{TStartError::TKind::File, e.what()};
  }
  ShowSongInfo();
  return std::nullopt;
}

void TMainForm::ShowSongInfo() {
  tray->SetTipHelp(DisplayText(mp3p->Title()) + "/" + DisplayText(mp3p->Artist()));
  titleinfomenu->setText(MenuCaption(mp3p->Title()));
  artistinfomenu->setText(MenuCaption(mp3p->Artist()));
  albuminfomenu->setText(MenuCaption(mp3p->Album()));
  yearinfomenu->setText(MenuCaption(mp3p->Year()));
  commentinfomenu->setText(MenuCaption(mp3p->Comment()));
  genreinfomenu->setText(MenuCaption(mp3p->Genre()));
}

void TMainForm::ReportError(const std::string& fileName, const std::string& message) {
  ShowException(
      std::make_exception_ptr(std::runtime_error(DisplayText(fileName) + ": " + message)));
}

// A notice that arrives while the player plays belongs to a song a new drop has replaced.
void TMainForm::mp3pEndPlay(TMP3Player&, TMP3EndPlayReason) {
  if (mp3p->Status() != mpsStop) return;
  switch (queue_.EndPlay()) {
    case TPlayQueue::TState::Finished:
      QueueFinished();
      break;
    case TPlayQueue::TState::Waiting:
      QueueWaiting();
      break;
    case TPlayQueue::TState::Playing:
      break;
  }
}

// The queue ran out: the program ends, once the user has seen the errors on the way.
void TMainForm::QueueFinished() {
  if (ending_) return;
  const QList<QMessageBox*> boxes = OpenMessageBoxes();
  if (boxes.isEmpty()) {
    close();
    return;
  }
  ending_ = true;
  for (QMessageBox* box : boxes) {
    connect(
        box, &QObject::destroyed, this,
        [this] {
          if (!OpenMessageBoxes().isEmpty()) return;
          ending_ = false;
          close();
        },
        Qt::QueuedConnection);
  }
}

// Nothing of the last drop could be played, or the device failed: the window waits for a drop as
// before the first one, instead of hiding behind an icon with nothing to control. A song the drop
// replaced may still be playing when its successors failed before opening; it goes too, so that
// what plays is always what the queue holds.
void TMainForm::QueueWaiting() {
  mp3p->Close();
  tray->SetVisible(false);
  show();
}

void TMainForm::exitmenuClick() {
  close();
}

// Qt has already moved the check mark.
void TMainForm::pausemenuClick() {
  if (pausemenu->isChecked()) {
    mp3p->Pause();
  } else {
    mp3p->Resume();
  }
}

void TMainForm::stopmenuClick() {
  mp3p->Stop();
}

void TMainForm::invertpolaritymenuClick() {
  mp3p->SetInvertPolarity(invertpolaritymenu->isChecked());
}

void TMainForm::shownowlistingmenuClick() {
  QString text;
  for (const std::string& entry : queue_.SongList()) {
    text += QString::fromStdString(DisplayText(entry)) + QLatin1Char('\n');
  }
  auto* box = new QMessageBox(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setAttribute(Qt::WA_QuitOnClose, false);
  box->setTextFormat(Qt::PlainText);
  box->show();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted()) Q_EMIT Closed();
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

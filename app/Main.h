#pragma once
// TMainForm: the small window files are dropped on, its drop target, and the notification-area
// icon with the tray menu, which is the program's whole interface once a song plays.

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/PlayQueue.h"
#include "player/MP3Plyr.h"

class QAction;
class QCloseEvent;
class QContextMenuEvent;
class QLabel;
class QMenu;
class QSocketNotifier;

namespace Ui {
class MainForm;
}

namespace tunewell {

class TDropDst;
class TTrayIcon;

class TMainForm : public QWidget {
  Q_OBJECT
 public:
  // Label1 is given one of these at start, drawn at random.
  static constexpr std::array<const char*, 3> kLabelCaptions = {
      "MP3的なモノをドロップしてネ", "なんとかしてください", "大盛りねぎだくギョク"};

  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  QLabel* Label1 = nullptr;
  std::unique_ptr<TMP3Player> mp3p;
  TDropDst* Drop = nullptr;
  TTrayIcon* tray = nullptr;

  // The tray menu, top to bottom.
  QMenu* traypopup = nullptr;
  QAction* exitmenu = nullptr;
  QAction* pausemenu = nullptr;  // checkable: the check mark belongs to the menu alone
  QAction* stopmenu = nullptr;
  QAction* equalizermenu = nullptr;       // hidden
  QAction* invertpolaritymenu = nullptr;  // checkable
  QMenu* taginfomenu = nullptr;
  QAction* titleinfomenu = nullptr;
  QAction* artistinfomenu = nullptr;
  QAction* albuminfomenu = nullptr;
  QAction* yearinfomenu = nullptr;
  QAction* commentinfomenu = nullptr;
  QAction* genreinfomenu = nullptr;
  QMenu* debugmenu = nullptr;  // hidden
  QAction* shownowlistingmenu = nullptr;

  // Files named outside a drop (the command line, a second start): handled as a drop, errors
  // shown by the default error display.
  void DropFiles(const std::vector<std::string>& files);
  void HandOver(const std::vector<std::string>& files);

  void DropFileDrop(QObject* Sender, const std::vector<std::string>& Files, int32_t X, int32_t Y);
  void mp3pEndPlay(TMP3Player& Sender, TMP3EndPlayReason Reason);
  void exitmenuClick();
  void pausemenuClick();
  void stopmenuClick();
  void equalizermenuClick();
  void invertpolaritymenuClick();
  void shownowlistingmenuClick();

  // Entry 0 is the song playing, or about to play; empty before the first drop.
  const std::vector<std::string>& SongList() const { return queue_.SongList(); }

 Q_SIGNALS:
  // The window was closed: the program ends.
  void Closed();

 protected:
  // Where the icon is not in a notification area (none on this desktop, or not yet shown), the
  // window offers the tray menu itself, so every action stays reachable.
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void CreateTrayMenu();
  void CreateComponents();
  void CreatePlayer();
  std::optional<TStartError> StartSong(const std::string& fileName);
  void ShowSongInfo();
  void ReportError(const std::string& fileName, const std::string& message);
  void QueueFinished();
  void QueueWaiting();

  std::unique_ptr<Ui::MainForm> ui;
  TPlayQueue queue_;
  std::unique_ptr<QSocketNotifier> playerNotifier_;
  bool ending_ = false;
};

// The main window, set by the program's start-up.
extern TMainForm* MainForm;

}  // namespace tunewell

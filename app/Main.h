#pragma once
// TMainForm: the small window files are dropped on, its drop target, and the notification-area
// icon with the tray menu, which is the program's whole interface once a song plays.

#include <QWidget>

#include <array>
#include <memory>

class QAction;
class QContextMenuEvent;
class QLabel;
class QMenu;

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

  void exitmenuClick();
  void equalizermenuClick();

 protected:
  // Where the icon is not in a notification area (none on this desktop, or not yet shown), the
  // window offers the tray menu itself, so every action stays reachable.
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void FormCreate();
  void CreateTrayMenu();
  void CreateComponents();

  std::unique_ptr<Ui::MainForm> ui;
};

// The main window, set by the program's start-up.
extern TMainForm* MainForm;

}  // namespace tunewell

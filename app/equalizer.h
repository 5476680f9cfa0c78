#pragma once
// TEqualizerForm: balance, six band bars and the equalizer switch for the main window's player.
// Created hidden, shown modeless from the tray menu's hidden item, hidden again when closed.

#include <QWidget>

#include <array>
#include <memory>

class QCheckBox;
class QShowEvent;
class QSlider;

namespace Ui {
class EqualizerForm;
}

namespace tunewell {

class TEqualizerForm : public QWidget {
  Q_OBJECT
 public:
  explicit TEqualizerForm(QWidget* parent = nullptr);
  ~TEqualizerForm() override;

  QSlider* balancebar = nullptr;
  // equalizebar1 … equalizebar6; −100 at the top end.
  std::array<QSlider*, 6> equalizebars{};
  QCheckBox* equalizechkbox = nullptr;

 public:
  void balancebarChange();
  // band: 0 … 5 for equalizebar1 … equalizebar6.
  void equalizebarChange(int band);
  void equalizechkboxClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  std::unique_ptr<Ui::EqualizerForm> ui;
};

// The equalizer window, set by the program's start-up.
extern TEqualizerForm* EqualizerForm;

}  // namespace tunewell

#include <QGuiApplication>
#include <QShowEvent>

#include <QCheckBox>
#include <QSlider>

#include "app/AppResources.h"
#include "app/ErrorDisplay.h"
#include "app/Main.h"
#include "app/equalizer.h"
#include "ui_EqualizerForm.h"

namespace tunewell {

TEqualizerForm* EqualizerForm = nullptr;

TEqualizerForm::TEqualizerForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog), ui(std::make_unique<Ui::EqualizerForm>()) {
  InstallFontSubstitutes();
  ui->setupUi(this);
  move(284, 227);
  // Closing it only hides it; it never ends the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  balancebar = ui->balancebar;
  equalizebars = {ui->equalizebar1, ui->equalizebar2, ui->equalizebar3,
                  ui->equalizebar4, ui->equalizebar5, ui->equalizebar6};
  equalizechkbox = ui->equalizechkbox;

  const auto guarded = [](auto handler) {
    return [handler] {
      try {
        handler();
      } catch (...) {
        ShowCurrentException();
      }
    };
  };
  connect(balancebar, &QSlider::valueChanged, this, guarded([this] { balancebarChange(); }));
  for (int band = 0; band < static_cast<int>(equalizebars.size()); ++band) {
    connect(equalizebars[band], &QSlider::valueChanged, this,
            guarded([this, band] { equalizebarChange(band); }));
  }
  connect(equalizechkbox, &QCheckBox::clicked, this, guarded([this] { equalizechkboxClick(); }));
}

TEqualizerForm::~TEqualizerForm() = default;

void TEqualizerForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

// Each control writes straight into the main window's player; the window keeps no state of its own.
void TEqualizerForm::balancebarChange() {
  if (MainForm == nullptr) return;
  MainForm->mp3p->SetVolBalance(balancebar->value());
}

void TEqualizerForm::equalizebarChange(int band) {
  if (MainForm == nullptr) return;
  MainForm->mp3p->SetEqualizerValue(band, equalizebars[band]->value());
}

void TEqualizerForm::equalizechkboxClick() {
  if (MainForm == nullptr) return;
  MainForm->mp3p->SetEqualizerEnabled(equalizechkbox->isChecked());
}

// The application's title stays this after the window closes.
void TEqualizerForm::FormShow() {
  QGuiApplication::setApplicationDisplayName(windowTitle());
}

}  // namespace tunewell

#include <QGuiApplication>
#include <QShowEvent>

#include "app/AppResources.h"
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
}

TEqualizerForm::~TEqualizerForm() = default;

void TEqualizerForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

// The application's title stays this after the window closes.
void TEqualizerForm::FormShow() {
  QGuiApplication::setApplicationDisplayName(windowTitle());
}

}  // namespace tunewell

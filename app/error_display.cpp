#include "app/ErrorDisplay.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace tunewell {

namespace {

// Application-modal but not blocking: a nested event loop here would run under the handler
// that failed. Closing it never ends the program.
void ShowMessageBox(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                              text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setAttribute(Qt::WA_QuitOnClose, false);
  box->setWindowModality(Qt::ApplicationModal);
  box->show();
}

TErrorDisplay& CurrentDisplay() {
  static TErrorDisplay display = ShowMessageBox;
  return display;
}

QString TextOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("unknown exception.");
  }
}

}  // namespace

void ShowException(std::exception_ptr error) {
  if (!error) return;
  CurrentDisplay()(TextOf(error));
}

TErrorDisplay SetErrorDisplay(TErrorDisplay display) {
  TErrorDisplay previous = std::move(CurrentDisplay());
  CurrentDisplay() = display ? std::move(display) : TErrorDisplay(ShowMessageBox);
  return previous;
}

}  // namespace tunewell

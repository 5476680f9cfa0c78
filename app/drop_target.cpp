#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

#include "app/DROPDST.h"
#include "app/ErrorDisplay.h"

namespace tunewell {

namespace {

// QUrl::toLocalFile would decode the path as UTF-8 and turn bytes that are not UTF-8 into
// U+FFFD; the percent-encoded path keeps every byte.
std::string LocalFileBytes(const QUrl& url) {
  QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  const QString host = url.host();
  if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
    bytes.prepend(QByteArray("//") + host.toUtf8());
  }
  return bytes.toStdString();
}

bool CarriesLocalFiles(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return false;
  const QList<QUrl> urls = data->urls();
  return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

// The files are only read: a copy where the source offers one, else what it proposes.
void AcceptAsCopy(QDropEvent& event) {
  if (event.possibleActions() & Qt::CopyAction) event.setDropAction(Qt::CopyAction);
  event.accept();
}

}  // namespace

std::vector<std::string> DroppedFileNames(const QMimeData& data) {
  std::vector<std::string> names;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) names.push_back(LocalFileBytes(url));
  }
  return names;
}

TDropDst::TDropDst(QObject* owner) : TControlHook(owner) {}

void TDropDst::Loaded() {
  TControlHook::Loaded();
  UpdateAcceptFiles();
}

void TDropDst::SetAcceptDrop(bool value) {
  if (value == AcceptDrop_) return;
  AcceptDrop_ = value;
  UpdateAcceptFiles();
}

void TDropDst::HandleChanged(int reason) {
  TControlHook::HandleChanged(reason);
  UpdateAcceptFiles();
}

// Unhooking leaves the widget's registration as it is.
void TDropDst::UpdateAcceptFiles() {
  if (HookedHandle() == 0 || HookedHandle() == kRecreating || HookedControl() == nullptr) return;
  HookedControl()->setAcceptDrops(AcceptDrop_);
}

bool TDropDst::MessageHook(QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto& drag = static_cast<QDragMoveEvent&>(*event);
      if (!CarriesLocalFiles(drag.mimeData())) break;
      AcceptAsCopy(drag);
      return true;
    }
    case QEvent::Drop: {
      auto& drop = static_cast<QDropEvent&>(*event);
      if (!CarriesLocalFiles(drop.mimeData())) break;
      try {
        DoFileDrop(drop);
      } catch (...) {
        ShowCurrentException();
      }
      // The drop is finished whatever the handler did.
      AcceptAsCopy(drop);
      return true;
    }
    default:
      break;
  }
  return TControlHook::MessageHook(event);
}

void TDropDst::DoFileDrop(const QDropEvent& drop) {
  if (!OnFileDrop) return;
  const std::vector<std::string> files = DroppedFileNames(*drop.mimeData());
  const QPoint point = drop.position().toPoint();
  OnFileDrop(this, files, point.x(), point.y());
}

}  // namespace tunewell

#pragma once
// TDropDst: makes the hooked widget a drop target for local files and turns each drop into one
// OnFileDrop with the names in drop order and the drop point in the widget's coordinates.

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/CTLHOOK.h"

class QDropEvent;
class QMimeData;

namespace tunewell {

// Files are the names as the file system has them (bytes, any of them allowed but '/' and NUL
// inside a component); the list lives only for the call.
using TFileDropEvent = std::function<void(QObject* Sender, const std::vector<std::string>& Files,
                                          int32_t X, int32_t Y)>;

class TDropDst : public TControlHook {
  Q_OBJECT
 public:
  explicit TDropDst(QObject* owner);

  void Loaded() override;

  bool AcceptDrop() const { return AcceptDrop_; }
  void SetAcceptDrop(bool value);

  TFileDropEvent OnFileDrop;

 protected:
  void HandleChanged(int reason) override;
  bool MessageHook(QEvent* event) override;

 private:
  void UpdateAcceptFiles();
  void DoFileDrop(const QDropEvent& drop);

  bool AcceptDrop_ = true;
};

// The local file names a drag carries, in its order, as file-system bytes.
std::vector<std::string> DroppedFileNames(const QMimeData& data);

}  // namespace tunewell

#include <QApplication>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/DROPDST.h"
#include "app/ErrorDisplay.h"

namespace tunewell {
namespace {

// A uri-list as a file manager writes it: every byte of the path that is not plain ASCII
// percent-encoded, whatever its encoding.
std::unique_ptr<QMimeData> FileDrag(const std::vector<std::string>& paths) {
  QByteArray list;
  for (const std::string& path : paths) {
    list += "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n";
  }
  auto data = std::make_unique<QMimeData>();
  data->setData(QStringLiteral("text/uri-list"), list);
  return data;
}

struct DropResult {
  bool entered = false;
  bool dropped = false;
};

// Sends the drag through the widget's window, as the platform does, so that Qt picks the drop
// target and maps the point as for a real drop.
DropResult Drop(QWidget& window, QPoint at, const QMimeData& data) {
  QWindow* handle = window.windowHandle();
  if (handle == nullptr) return {};
  DropResult result;
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &enter);
  result.entered = enter.isAccepted();
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &move);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &drop);
  result.dropped = drop.isAccepted();
  return result;
}

struct FileDrop {
  QObject* sender;
  std::vector<std::string> files;
  QPoint point;
};

class DropTargetTest : public testing::Test {
 protected:
  void SetUp() override {
    previousDisplay_ =
        SetErrorDisplay([this](const QString& text) { errors.push_back(text.toStdString()); });
    form.resize(247, 128);
    label = new QLabel(QStringLiteral("MP3的なモノをドロップしてネ"), &form);
    label->setGeometry(48, 56, 143, 12);
    form.show();
    target = new TDropDst(&form);
    target->SetTarget(htForm);
    target->Loaded();
  }

  void TearDown() override { SetErrorDisplay(previousDisplay_); }

  void Record(TDropDst& dst) {
    dst.OnFileDrop = [this](QObject* sender, const std::vector<std::string>& files, int32_t x,
                            int32_t y) {
      drops.push_back({sender, files, {x, y}});
    };
  }

  QWidget form;
  QLabel* label = nullptr;
  TDropDst* target = nullptr;
  std::vector<FileDrop> drops;
  std::vector<std::string> errors;

 private:
  TErrorDisplay previousDisplay_;
};

TEST_F(DropTargetTest, ThreeFilesGiveOneEventInDropOrderWithThePoint) {
  Record(*target);
  const std::vector<std::string> files = {"/music/b.mp3", "/music/a.mp3", "/music/list.m3u"};
  const DropResult result = Drop(form, {30, 40}, *FileDrag(files));
  EXPECT_TRUE(result.entered);
  EXPECT_TRUE(result.dropped);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].sender, target);
  EXPECT_EQ(drops[0].files, files);
  EXPECT_EQ(drops[0].point, QPoint(30, 40));
}

// Over the label the form still takes the drop, with the point in the form's coordinates.
TEST_F(DropTargetTest, DropOverAChildIsTheFormsDrop) {
  Record(*target);
  Drop(form, {60, 60}, *FileDrag({"/music/a.mp3"}));
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].point, QPoint(60, 60));
}

TEST_F(DropTargetTest, PointIsInTheHookedControlsCoordinates) {
  auto* frame = new QFrame(&form);
  frame->setGeometry(100, 20, 80, 60);
  frame->show();
  TDropDst control(&form);
  control.SetControl(frame);
  control.Loaded();
  Record(control);
  target->SetAcceptDrop(false);
  const DropResult result = Drop(form, {110, 35}, *FileDrag({"/music/a.mp3"}));
  EXPECT_TRUE(result.dropped);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].point, QPoint(10, 15));
}

// Names are the file system's bytes: no cut at 259 characters, no split at a line break, and
// bytes that are not UTF-8 survive.
TEST_F(DropTargetTest, NamesArriveAsTheFileSystemsBytes) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tw-drop-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string base = dir.string() + "/";
  // Past 259 characters through folders, each name within the file system's limit.
  const std::string deep = base + std::string(100, 'd') + "/" + std::string(100, 'e') + "/" +
                           std::string(100, 'f') + "/";
  std::filesystem::create_directories(deep);
  const std::vector<std::string> files = {
      base + "line\nbreak.mp3",
      base + "\x83\x5E\x83\x43\x83\x67\x83\x8B.mp3",  // Shift-JIS
      base + "大盛り.mp3",
      deep + "long.mp3",
      base + "100% sure #1?.mp3",
  };
  for (const std::string& name : files) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fclose(f);
  }
  Record(*target);
  Drop(form, {10, 10}, *FileDrag(files));
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].files, files);
  for (const std::string& name : drops[0].files) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    EXPECT_NE(f, nullptr) << "cannot open " << name;
    if (f != nullptr) std::fclose(f);
  }
  std::filesystem::remove_all(dir);
}

TEST_F(DropTargetTest, WithoutAHandlerTheDropIsStillFinished) {
  const DropResult result = Drop(form, {30, 40}, *FileDrag({"/music/a.mp3"}));
  EXPECT_TRUE(result.entered);
  EXPECT_TRUE(result.dropped);
  EXPECT_TRUE(errors.empty());
}

TEST_F(DropTargetTest, DragWithoutLocalFilesIsRefused) {
  Record(*target);
  QMimeData data;
  data.setUrls({QUrl(QStringLiteral("https://example.org/a.mp3"))});
  const DropResult result = Drop(form, {30, 40}, data);
  EXPECT_FALSE(result.entered);
  EXPECT_FALSE(result.dropped);
  EXPECT_TRUE(drops.empty());
}

TEST_F(DropTargetTest, AcceptDropOffAndOn) {
  Record(*target);
  EXPECT_TRUE(target->AcceptDrop());
  EXPECT_TRUE(form.acceptDrops());
  target->SetAcceptDrop(false);
  EXPECT_FALSE(form.acceptDrops());
  const DropResult refused = Drop(form, {30, 40}, *FileDrag({"/music/a.mp3"}));
  EXPECT_FALSE(refused.entered);
  EXPECT_FALSE(refused.dropped);
  EXPECT_TRUE(drops.empty());

  target->SetAcceptDrop(true);
  EXPECT_TRUE(form.acceptDrops());
  EXPECT_TRUE(Drop(form, {30, 40}, *FileDrag({"/music/a.mp3"})).dropped);
  EXPECT_EQ(drops.size(), 1u);
}

// A change of border style makes a new native window; the hook follows it and registers the new
// window with the setting made while there was none.
TEST_F(DropTargetTest, FollowsAReCreatedWindow) {
  Record(*target);
  ASSERT_NE(target->HookedHandle(), 0);
  form.setWindowFlags(Qt::Dialog);
  EXPECT_EQ(target->HookedHandle(), 0);
  target->SetAcceptDrop(false);
  EXPECT_TRUE(form.acceptDrops());  // no window to register yet

  form.show();
  QCoreApplication::processEvents();
  EXPECT_NE(target->HookedHandle(), 0);
  EXPECT_NE(target->HookedHandle(), TControlHook::kRecreating);
  EXPECT_EQ(target->HookedHandle(), static_cast<intptr_t>(form.internalWinId()));
  EXPECT_FALSE(form.acceptDrops());

  target->SetAcceptDrop(true);
  const DropResult result = Drop(form, {20, 25}, *FileDrag({"/music/a.mp3"}));
  EXPECT_TRUE(result.dropped);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].point, QPoint(20, 25));
}

TEST_F(DropTargetTest, HandlerErrorGoesToTheErrorDisplayAndTheDropIsFinished) {
  int calls = 0;
  target->OnFileDrop = [&](QObject*, const std::vector<std::string>&, int32_t, int32_t) {
    ++calls;
    throw std::runtime_error("unknown MPEG Audio format.");
  };
  EXPECT_TRUE(Drop(form, {30, 40}, *FileDrag({"/music/a.mp3"})).dropped);
  EXPECT_EQ(errors, std::vector<std::string>{"unknown MPEG Audio format."});
  // The hook stays in place.
  EXPECT_TRUE(Drop(form, {30, 40}, *FileDrag({"/music/b.mp3"})).dropped);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(errors.size(), 2u);
}

TEST_F(DropTargetTest, TargetsThatFindNothing) {
  TDropDst control(&form);
  EXPECT_NO_THROW(control.SetTarget(htControl));
  EXPECT_NO_THROW(control.Loaded());
  EXPECT_EQ(control.HookedControl(), nullptr);
  EXPECT_EQ(control.HookedHandle(), 0);

  TDropDst orphan(nullptr);
  try {
    orphan.SetTarget(htForm);
    ADD_FAILURE() << "htForm without a form hooked something";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "フック先を特定できません。");
  }

  // htForm with a control hooks the control's form.
  TDropDst viaLabel(nullptr);
  viaLabel.SetControl(label);
  viaLabel.SetTarget(htForm);
  EXPECT_EQ(viaLabel.HookedControl(), &form);
}

TEST_F(DropTargetTest, HookedControlThatGoesAwayIsForgotten) {
  auto* frame = new QFrame(&form);
  TDropDst control(&form);
  control.SetControl(frame);
  EXPECT_EQ(control.HookedControl(), frame);
  delete frame;
  EXPECT_EQ(control.HookedControl(), nullptr);
  EXPECT_EQ(control.HookedHandle(), 0);
}

TEST_F(DropTargetTest, UnhookingLeavesTheRegistration) {
  delete target;
  target = nullptr;
  EXPECT_TRUE(form.acceptDrops());
  EXPECT_FALSE(Drop(form, {30, 40}, *FileDrag({"/music/a.mp3"})).dropped);
}

}  // namespace
}  // namespace tunewell

// The main window's queue and menu handlers with a real player: it plays into a test wave-out
// device whose clock the test moves, the icon goes to the test shell, and error boxes to a list.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/AppResources.h"
#include "app/DROPDST.h"
#include "app/ErrorDisplay.h"
#include "app/Main.h"
#include "app/TrayIcon.h"
#include "app/equalizer.h"
#include "platform/WaveOut.h"
#include "tests/app/TestShell.h"

namespace tunewell {
namespace {

namespace fs = std::filesystem;

// MPEG-1 Layer III, 32 kbit/s, 44.1 kHz, mono: 104-byte frames whose side information is all
// zero, so each decodes to 1152 samples of silence.
std::string SilentFrames(int count) {
  std::string frame(104, '\0');
  frame[0] = '\xFF';
  frame[1] = '\xFB';
  frame[2] = '\x10';
  frame[3] = '\xC0';
  std::string data;
  for (int i = 0; i < count; ++i) data += frame;
  return data;
}

std::string Field(std::string value, size_t size) {
  value.resize(size, '\0');
  return value;
}

std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album,
                  const std::string& year, const std::string& comment, uint8_t genre) {
  return "TAG" + Field(title, 30) + Field(artist, 30) + Field(album, 30) + Field(year, 4) +
         Field(comment, 30) + std::string(1, static_cast<char>(genre));
}

constexpr int kFramesPerSong = 20;
constexpr long kFramesOfSamples = kFramesPerSong * 1152L;

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tw_main_window_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    SetWaveMapperDevice(device.Name());
    SetErrorDisplay([this](const QString& text) { errors.push_back(text.toStdString()); });
    QApplication::setWindowIcon(ApplicationIcon());
    form = std::make_unique<TMainForm>();
    MainForm = form.get();
    closed = std::make_unique<QSignalSpy>(form.get(), &TMainForm::Closed);
    form->show();
  }

  void TearDown() override {
    closed.reset();
    MainForm = nullptr;
    form.reset();
    QApplication::setWindowIcon(QIcon());
    SetErrorDisplay({});
    SetWaveMapperDevice({});
    fs::remove_all(dir_);
  }

  std::string Song(const std::string& name, const std::string& tag = {}) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << SilentFrames(kFramesPerSong) << tag;
    return path.string();
  }

  std::string File(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  void Drop(const std::vector<std::string>& files) { form->DropFileDrop(form->Drop, files, 5, 5); }

  // Lets the player's notices reach the window.
  static void Settle() {
    QTest::qWait(50);
    QCoreApplication::processEvents();
  }

  // Plays the rest of the current song on the device and waits for its end notice.
  void PlayToEnd() {
    const std::string playing = Front();
    for (int i = 0; i < 200 && Front() == playing && closed->isEmpty(); ++i) {
      device.Advance(kFramesOfSamples);
      QTest::qWait(10);
    }
  }

  std::string Front() const { return form->SongList().empty() ? "" : form->SongList().front(); }
  std::string Caption(QAction* item) const { return item->text().toStdString(); }

  TTestWaveDevice device{"tunewell-main-window-test"};
  test::TTestShell shell;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<QSignalSpy> closed;
  std::vector<std::string> errors;
  fs::path dir_;
};

TEST_F(MainWindowTest, ADropPlaysTheFirstSongFromTheIconAndHidesTheWindow) {
  const std::string a = Song("a.mp3"), b = Song("b.mp3");
  Drop({a, b});
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(form->SongList(), (std::vector<std::string>{a, b}));
  EXPECT_EQ(form->mp3p->FileName(), a);
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
  EXPECT_TRUE(form->tray->Visible());
  EXPECT_TRUE(shell.Shows(form->tray->IconId()));
  EXPECT_FALSE(form->isVisible());
  // No tags: the title is the file name, and the artist is empty.
  EXPECT_EQ(form->tray->TipHelp(), "a.mp3/");
  EXPECT_EQ(Caption(form->titleinfomenu), "a.mp3");
  EXPECT_EQ(Caption(form->artistinfomenu), "");
  EXPECT_EQ(Caption(form->genreinfomenu), "");
  EXPECT_TRUE(closed->isEmpty());
}

TEST_F(MainWindowTest, TagValuesAreDecodedForTheTipAndTheMenu) {
  // Shift-JIS title "タイトル", an ampersand in the artist.
  const std::string tag =
      Id3v1("\x83\x5E\x83\x43\x83\x67\x83\x8B", "Tom & Jerry", "Album", "1999", "Note", 17);
  Drop({Song("tagged.mp3", tag)});
  EXPECT_EQ(form->tray->TipHelp(), "タイトル/Tom & Jerry");
  EXPECT_EQ(Caption(form->titleinfomenu), "タイトル");
  EXPECT_EQ(Caption(form->artistinfomenu), "Tom && Jerry");
  EXPECT_EQ(Caption(form->albuminfomenu), "Album");
  EXPECT_EQ(Caption(form->yearinfomenu), "1999");
  EXPECT_EQ(Caption(form->commentinfomenu), "Note");
  EXPECT_EQ(Caption(form->genreinfomenu), "Rock");
}

TEST_F(MainWindowTest, PlaylistsFollowTheDroppedSongsAndTheListingShowsTheQueue) {
  const std::string one = Song("1.mp3"), two = Song("2.mp3");
  const std::string three = Song("3.mp3"), four = Song("4.mp3");
  const std::string list = File("p.m3u", "3.mp3\r\n" + four + "\n");
  Drop({one, list, two});
  EXPECT_EQ(form->SongList(), (std::vector<std::string>{one, list, two, three, four}));

  SetErrorDisplay({});
  form->shownowlistingmenu->trigger();
  QMessageBox* listing = form->findChild<QMessageBox*>();
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(listing->text().toStdString(),
            one + "\n" + list + "\n" + two + "\n" + three + "\n" + four + "\n");
  listing->close();

  std::vector<std::string> played = {Front()};
  for (int i = 0; i < 3; ++i) {
    form->stopmenu->trigger();
    Settle();
    played.push_back(form->mp3p->FileName());
  }
  EXPECT_EQ(played, (std::vector<std::string>{one, two, three, four}));
}

TEST_F(MainWindowTest, SongsFollowOneAnotherToTheEndAndTheProgramEnds) {
  const std::string a = Song("a.mp3"), b = Song("b.mp3");
  Drop({a, b});
  PlayToEnd();
  EXPECT_EQ(Front(), b);
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
  EXPECT_TRUE(closed->isEmpty());
  PlayToEnd();
  EXPECT_EQ(closed->count(), 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindowTest, SkippingTheLastSongEndsTheProgram) {
  Drop({Song("only.mp3")});
  form->stopmenu->trigger();
  Settle();
  EXPECT_EQ(closed->count(), 1);
}

TEST_F(MainWindowTest, PauseMarkBelongsToTheMenuAcrossASkip) {
  Drop({Song("a.mp3"), Song("b.mp3")});
  form->pausemenu->trigger();
  EXPECT_TRUE(form->pausemenu->isChecked());
  EXPECT_EQ(form->mp3p->Status(), mpsPause);

  form->stopmenu->trigger();
  Settle();
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
  EXPECT_TRUE(form->pausemenu->isChecked());

  // The next click clears the mark and changes nothing audible; the one after pauses.
  form->pausemenu->trigger();
  EXPECT_FALSE(form->pausemenu->isChecked());
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
  form->pausemenu->trigger();
  EXPECT_TRUE(form->pausemenu->isChecked());
  EXPECT_EQ(form->mp3p->Status(), mpsPause);
  form->pausemenu->trigger();
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
}

TEST_F(MainWindowTest, PolarityMarkAndPlayerStayInStep) {
  EXPECT_FALSE(form->mp3p->InvertPolarity());
  Drop({Song("a.mp3"), Song("b.mp3")});
  for (bool expected : {true, false, true}) {
    form->invertpolaritymenu->trigger();
    EXPECT_EQ(form->invertpolaritymenu->isChecked(), expected);
    EXPECT_EQ(form->mp3p->InvertPolarity(), expected);
  }
  form->stopmenu->trigger();
  Settle();
  EXPECT_TRUE(form->mp3p->InvertPolarity());
  form->invertpolaritymenu->trigger();
  EXPECT_FALSE(form->mp3p->InvertPolarity());
}

TEST_F(MainWindowTest, ADropOfNothingPlayableEndsTheProgram) {
  const std::string list = File("names.m3u", "#EXTM3U\nsong.mp3.bak\n\nother.m3u\n");
  Drop({File("notes.txt", "x"), Song("song"), list});
  EXPECT_EQ(closed->count(), 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindowTest, AMissingFirstSongIsReportedAndTheNextPlays) {
  const std::string missing = (dir_ / "missing.mp3").string();
  const std::string b = Song("B.MP3");
  Drop({missing, b});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("missing.mp3"), std::string::npos) << errors[0];
  EXPECT_EQ(form->mp3p->FileName(), b);
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindowTest, ADropWhoseSongsAllFailLeavesTheWindowWaiting) {
  Drop({(dir_ / "missing.mp3").string(), File("noise.mp3", std::string(5000, '\x55'))});
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->tray->Visible());
  EXPECT_TRUE(closed->isEmpty());
  // A new drop replaces the queue.
  const std::string a = Song("a.mp3");
  Drop({a});
  EXPECT_EQ(form->mp3p->FileName(), a);
  EXPECT_FALSE(form->isVisible());
}

// Once nothing plays, a hidden window would leave only an icon with nothing to control and no place
// to drop: the window waits again, as before the first drop.
TEST_F(MainWindowTest, WhenNothingIsLeftToPlayTheWaitingWindowComesBack) {
  struct Case {
    const char* what;
    std::function<void()> fail;
  };
  const Case cases[] = {
      {"a hand-over whose songs all fail",
       [this] { form->DropFiles({(dir_ / "missing.mp3").string()}); }},
      {"the device lost mid-queue",
       [this] {
         device.Lose();
         PlayToEnd();
         Settle();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    Drop({Song("a.mp3"), Song("b.mp3")});
    ASSERT_FALSE(form->isVisible());
    c.fail();
    EXPECT_FALSE(errors.empty());
    EXPECT_NE(form->mp3p->Status(), mpsPlay);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->tray->Visible());
    EXPECT_FALSE(shell.Shows(form->tray->IconId()));
    EXPECT_TRUE(closed->isEmpty());
  }
}

TEST_F(MainWindowTest, ADropWhileASongPlaysStartsTheNewListFromItsFirstSong) {
  Drop({Song("a.mp3"), Song("b.mp3")});
  const std::string c = Song("c.mp3"), d = Song("d.mp3");
  form->DropFiles({c, d});
  Settle();
  // The replaced song's end notice arrives after the new one started; it skips nothing.
  EXPECT_EQ(Front(), c);
  EXPECT_EQ(form->mp3p->FileName(), c);
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheWindowStaysAndOffersTheMenu) {
  shell.refuse.insert(NIM_ADD);
  const std::string a = Song("a.mp3");
  form->DropFiles({a, Song("b.mp3")});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "タスクトレイにアイコンを登録できません。");
  EXPECT_EQ(form->mp3p->Status(), mpsPlay);
  EXPECT_TRUE(form->isVisible());
  QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(10, 10),
                            form->mapToGlobal(QPoint(10, 10)));
  QCoreApplication::sendEvent(form.get(), &request);
  EXPECT_TRUE(form->traypopup->isVisible());
  form->traypopup->close();
  form->stopmenu->trigger();
  Settle();
  EXPECT_NE(form->mp3p->FileName(), a);
}

// The end waits until the error boxes met on the way have been read.
TEST_F(MainWindowTest, AQueueThatRunsOutPastAnErrorEndsOnceTheBoxIsClosed) {
  SetErrorDisplay({});
  Drop({Song("a.mp3"), (dir_ / "missing.mp3").string()});
  form->stopmenu->trigger();
  Settle();
  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->isVisible()) box = b;
  }
  ASSERT_NE(box, nullptr);
  EXPECT_NE(box->text().toStdString().find("missing.mp3"), std::string::npos);
  EXPECT_TRUE(closed->isEmpty());
  box->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return closed->count() == 1; }, 2000));
}

TEST_F(MainWindowTest, TheExitItemEndsTheProgramWhileASongPlays) {
  Drop({Song("a.mp3"), Song("b.mp3")});
  form->exitmenu->trigger();
  EXPECT_EQ(closed->count(), 1);
}

TEST_F(MainWindowTest, EqualizerControlsWriteIntoThePlayer) {
  TEqualizerForm equalizer;
  EqualizerForm = &equalizer;
  form->equalizermenu->trigger();
  EXPECT_TRUE(equalizer.isVisible());

  equalizer.balancebar->setValue(-30);
  EXPECT_EQ(form->mp3p->VolBalance(), -30);
  equalizer.equalizebars[2]->setValue(-100);  // the top end
  EXPECT_EQ(form->mp3p->EqualizerValue(2), -100);
  equalizer.equalizebars[5]->setValue(100);
  EXPECT_EQ(form->mp3p->EqualizerValue(5), 100);
  EXPECT_EQ(form->mp3p->EqualizerValue(0), 0);

  EXPECT_FALSE(form->mp3p->EqualizerEnabled());
  QTest::mouseClick(equalizer.equalizechkbox, Qt::LeftButton);
  EXPECT_TRUE(form->mp3p->EqualizerEnabled());
  QTest::mouseClick(equalizer.equalizechkbox, Qt::LeftButton);
  EXPECT_FALSE(form->mp3p->EqualizerEnabled());

  equalizer.close();
  EXPECT_TRUE(closed->isEmpty());
  EqualizerForm = nullptr;
}

}  // namespace
}  // namespace tunewell

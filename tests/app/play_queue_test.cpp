#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/PlayQueue.h"

namespace tunewell {
namespace {

namespace fs = std::filesystem;

class PlayQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tw_queue_" + std::to_string(getpid()));
    fs::create_directories(dir_ / "music" / "sub");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& relative) const { return (dir_ / relative).string(); }
  void Write(const std::string& relative, const std::string& text) const {
    std::ofstream(dir_ / relative, std::ios::binary) << text;
  }

  TPlayQueue MakeQueue() {
    return TPlayQueue(
        {[this](const std::string& name) -> std::optional<TStartError> {
           started.push_back(name);
           if (failing.count(name)) {
             return TStartError{TStartError::TKind::File, "unknown MPEG Audio format."};
           }
           if (deviceFails) return TStartError{TStartError::TKind::Device, "no device"};
           return std::nullopt;
         },
         [this](const std::string& name, const std::string& message) {
           errors.push_back(name + ": " + message);
         },
         [this](const std::string& name) { skipped.push_back(name); }});
  }

  fs::path dir_;
  std::vector<std::string> started, errors, skipped;
  std::set<std::string> failing;
  bool deviceFails = false;
};

TEST(QueueExtension, LowerCasedFromTheLastDotOfTheLastComponent) {
  const std::map<std::string, std::string> cases = {{"/m/Song.MP3", ".mp3"},
                                                    {"/m/song.mp3.bak", ".bak"},
                                                    {"/m/song", ""},
                                                    {"", ""},
                                                    {"/m.d/song", ""},
                                                    {"/m/list.M3U", ".m3u"},
                                                    {"/m/song.mp3.txt", ".txt"}};
  for (const auto& [name, extension] : cases) EXPECT_EQ(QueueExtension(name), extension) << name;
}

TEST_F(PlayQueueTest, DroppedSongsPlayBeforePlaylistLinesInDropOrder) {
  Write("music/p.m3u", "3.mp3\r\n4.mp3\r\n");
  auto queue = MakeQueue();
  const std::vector<std::string> drop = {Path("music/1.mp3"), Path("music/p.m3u"),
                                         Path("music/2.mp3")};
  EXPECT_EQ(queue.Drop(drop), TPlayQueue::TState::Playing);
  EXPECT_EQ(queue.ListingText(), Path("music/1.mp3") + "\r\n" + Path("music/p.m3u") + "\r\n" +
                                     Path("music/2.mp3") + "\r\n" + Path("music/3.mp3") + "\r\n" +
                                     Path("music/4.mp3") + "\r\n");
  while (queue.EndPlay() == TPlayQueue::TState::Playing) {
  }
  EXPECT_EQ(queue.State(), TPlayQueue::TState::Finished);
  EXPECT_EQ(started, (std::vector<std::string>{Path("music/1.mp3"), Path("music/2.mp3"),
                                               Path("music/3.mp3"), Path("music/4.mp3")}));
  EXPECT_TRUE(skipped.empty()) << "an expanded playlist is no skipped entry";
  EXPECT_TRUE(errors.empty());
}

TEST_F(PlayQueueTest, PlaylistLinesResolveAgainstThePlaylistsFolderLexically) {
  Write("music/sub/list.m3u",
        "#EXTM3U\n"
        "a/b.mp3\r\n"
        "../up.mp3\r"
        "./same.MP3\n"
        "\n"
        "/abs/x.mp3\n"
        "file:///abs/with%20space.mp3\n"
        "other.m3u\n"
        "song.mp3.bak");
  const fs::path before = fs::current_path();
  std::vector<std::string> list;
  TPlayQueue::AppendPlaylist(list, Path("music/sub/list.m3u"));
  EXPECT_EQ(fs::current_path(), before) << "the process's folder stays where it was";
  EXPECT_EQ(list, (std::vector<std::string>{
                      Path("music/sub/#EXTM3U"), Path("music/sub/a/b.mp3"), Path("music/up.mp3"),
                      Path("music/sub/same.MP3"), "", "/abs/x.mp3", "/abs/with space.mp3",
                      Path("music/sub/other.m3u"), Path("music/sub/song.mp3.bak")}));
}

TEST_F(PlayQueueTest, EntriesThatAreNoMp3AreReportedWhenTheyReachTheFront) {
  Write("music/outer.m3u", "inner.m3u\nkeep.mp3\n");
  auto queue = MakeQueue();
  EXPECT_EQ(queue.Drop({Path("music/readme.txt"), Path("music/outer.m3u")}),
            TPlayQueue::TState::Playing);
  EXPECT_EQ(started, (std::vector<std::string>{Path("music/keep.mp3")}));
  EXPECT_EQ(skipped, (std::vector<std::string>{Path("music/readme.txt"), Path("music/inner.m3u")}));
}

TEST_F(PlayQueueTest, ADropWithNothingToPlayEndsTheProgram) {
  auto queue = MakeQueue();
  EXPECT_EQ(queue.Drop({Path("a.wav"), Path("b")}), TPlayQueue::TState::Finished);
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(skipped.size(), 2u);
}

TEST_F(PlayQueueTest, AnEntryThatCannotOpenIsReportedAndTheNextStarts) {
  failing = {Path("2.mp3")};
  auto queue = MakeQueue();
  ASSERT_EQ(queue.Drop({Path("1.mp3"), Path("2.mp3"), Path("3.mp3")}), TPlayQueue::TState::Playing);
  EXPECT_EQ(queue.EndPlay(), TPlayQueue::TState::Playing);
  EXPECT_EQ(queue.SongList().front(), Path("3.mp3"));
  EXPECT_EQ(errors, (std::vector<std::string>{Path("2.mp3") + ": unknown MPEG Audio format."}));
  EXPECT_EQ(queue.EndPlay(), TPlayQueue::TState::Finished);
}

TEST_F(PlayQueueTest, ADropWhoseEverySongFailsWaitsForTheNextDrop) {
  failing = {Path("1.mp3"), Path("2.mp3")};
  auto queue = MakeQueue();
  EXPECT_EQ(queue.Drop({Path("1.mp3"), Path("2.mp3")}), TPlayQueue::TState::Waiting);
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_EQ(queue.EndPlay(), TPlayQueue::TState::Waiting) << "nothing plays, nothing to end";

  failing.clear();
  EXPECT_EQ(queue.Drop({Path("3.mp3")}), TPlayQueue::TState::Playing);
}

TEST_F(PlayQueueTest, AFailingDeviceStopsTheQueueWithOneMessage) {
  deviceFails = true;
  auto queue = MakeQueue();
  EXPECT_EQ(queue.Drop({Path("1.mp3"), Path("2.mp3"), Path("3.mp3")}), TPlayQueue::TState::Waiting);
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(errors, (std::vector<std::string>{Path("1.mp3") + ": no device"}));
}

TEST_F(PlayQueueTest, UnreadablePlaylistsAreReportedAndTheRestPlays) {
  fs::create_directories(dir_ / "music" / "folder.m3u");
  std::string binary(4096, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 131 % 256);
  Write("music/binary.m3u", binary);
  auto queue = MakeQueue();
  EXPECT_EQ(queue.Drop({Path("music/missing.m3u"), Path("music/folder.m3u"),
                        Path("music/binary.m3u"), Path("music/ok.mp3")}),
            TPlayQueue::TState::Playing);
  EXPECT_EQ(started, (std::vector<std::string>{Path("music/ok.mp3")}));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].rfind(Path("music/missing.m3u") + ": ", 0), 0u) << errors[0];
  EXPECT_EQ(errors[1].rfind(Path("music/folder.m3u") + ": ", 0), 0u) << errors[1];
  EXPECT_EQ(errors[2], Path("music/binary.m3u") + ": not a playlist (it holds binary data)");
}

TEST_F(PlayQueueTest, APlaylistLineWithAZeroByteNeverNamesAShorterFile) {
  Write("music/list.m3u", std::string("a.mp3\r\nb\0.mp3\r\n", 15));
  std::vector<std::string> list;
  EXPECT_THROW(TPlayQueue::AppendPlaylist(list, Path("music/list.m3u")), std::runtime_error);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace tunewell

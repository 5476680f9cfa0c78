// The local-socket hand-over between a second start and the running program.

#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/SingleInstance.h"

namespace tunewell {
namespace {

// Names a file system allows and a text conversion would spoil.
const TFileList kAwkwardNames = {
    "/music/a b.mp3",
    "/music/line\nbreak.mp3",
    std::string("/music/\x83\x5E\x83\x43\x83\x67\x83\x8B.mp3"),  // Shift-JIS bytes, not UTF-8
    "/music/" + std::string(400, 'x') + ".mp3",
    "",
};

TEST(FileListWire, RoundTripKeepsEveryByte) {
  TFileList back;
  ASSERT_TRUE(DecodeFileList(EncodeFileList(kAwkwardNames), back));
  EXPECT_EQ(back, kAwkwardNames);
  ASSERT_TRUE(DecodeFileList(EncodeFileList({}), back));
  EXPECT_TRUE(back.empty());
}

TEST(FileListWire, APartOfTheMessageIsNotAList) {
  const QByteArray whole = EncodeFileList(kAwkwardNames);
  for (qsizetype cut :
       {qsizetype{0}, qsizetype{3}, qsizetype{8}, whole.size() / 2, whole.size() - 1}) {
    TFileList files{"untouched"};
    EXPECT_FALSE(DecodeFileList(whole.left(cut), files)) << cut;
    EXPECT_EQ(files, TFileList{"untouched"});
  }
  TFileList files;
  EXPECT_FALSE(DecodeFileList(QByteArray("XXXX\0\0\0\0", 8), files));
}

class SingleInstanceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QString Name() const { return dir.filePath(QStringLiteral("instance.socket")); }

  QTemporaryDir dir;
};

// A second start runs in a process of its own; a thread stands in for it here, so that the first
// instance's event loop can answer while it waits.
TEST_F(SingleInstanceTest, TheFirstListensAndTheSecondHandsItsFilesOver) {
  TSingleInstance first(Name());
  ASSERT_TRUE(first.Listen());
  std::vector<TFileList> received;
  first.OnFiles = [&](const TFileList& files) { received.push_back(files); };

  TSingleInstance second(Name());
  EXPECT_FALSE(second.Listen());

  bool taken = false;
  std::thread other([&] { taken = TSingleInstance(Name()).HandOver(kAwkwardNames); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 5000));
  other.join();
  EXPECT_TRUE(taken);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], kAwkwardNames);
}

TEST_F(SingleInstanceTest, NobodyListeningMeansNoHandOver) {
  EXPECT_FALSE(TSingleInstance(Name()).HandOver({"/music/a.mp3"}, 500));
}

TEST_F(SingleInstanceTest, ASocketLeftByADeadInstanceIsTakenOver) {
  // A socket file nobody answers on, as a crashed instance leaves it.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray path = QFile::encodeName(Name());
  std::memcpy(address.sun_path, path.constData(), path.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  close(fd);
  ASSERT_TRUE(QFile::exists(Name()));

  TSingleInstance first(Name());
  EXPECT_TRUE(first.Listen());
  std::vector<TFileList> received;
  first.OnFiles = [&](const TFileList& files) { received.push_back(files); };
  bool taken = false;
  std::thread other([&] { taken = TSingleInstance(Name()).HandOver({"/music/a.mp3"}); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 5000));
  other.join();
  EXPECT_TRUE(taken);
}

TEST_F(SingleInstanceTest, AForeignMessageIsDroppedAndTheServerGoesOn) {
  TSingleInstance first(Name());
  ASSERT_TRUE(first.Listen());
  int calls = 0;
  first.OnFiles = [&](const TFileList&) { ++calls; };
  QLocalSocket stranger;
  stranger.connectToServer(Name());
  ASSERT_TRUE(stranger.waitForConnected(2000));
  stranger.write("GET / HTTP/1.0\r\n\r\n");
  stranger.flush();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return stranger.state() == QLocalSocket::UnconnectedState; }, 5000));
  EXPECT_EQ(calls, 0);

  bool taken = false;
  std::thread other([&] { taken = TSingleInstance(Name()).HandOver({"/music/a.mp3"}); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000));
  other.join();
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace tunewell

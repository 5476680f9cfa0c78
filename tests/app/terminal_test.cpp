// The terminal front end driven by keys in a tmux pane, playing through a PulseAudio null sink.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "tests/app/cli_support.h"
#include "tests/info/fixtures.h"

namespace tunewell::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Capture(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

// A sound server for the test: the one the environment names, or a private PulseAudio daemon
// with a null sink, ended with the test.
class TSoundServer {
 public:
  explicit TSoundServer(const fs::path& folder) {
    if (std::system("pactl info >/dev/null 2>&1") == 0) {
      const char* server = std::getenv("PULSE_SERVER");
      if (server != nullptr) server_ = server;
      usable_ = true;
      return;
    }
    if (!HaveTool("pulseaudio") || !HaveTool("pactl")) return;
    const fs::path runtime = folder / "pulse";
    fs::create_directories(runtime);
    server_ = "unix:" + (runtime / "native").string();
    pid_ = fork();
    if (pid_ == 0) {
      setenv("HOME", runtime.c_str(), 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      const std::string socket =
          "module-native-protocol-unix socket=" + (runtime / "native").string();
      execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
             "--disable-shm=true", "--log-target=stderr", "--log-level=error", "-L",
             "module-null-sink", "-L", socket.c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && !usable_; ++i) {
      std::this_thread::sleep_for(50ms);
      usable_ =
          std::system(
              ("PULSE_SERVER=" + ShellQuote(server_) + " pactl info >/dev/null 2>&1").c_str()) == 0;
    }
  }
  ~TSoundServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Usable() const { return usable_; }
  // The environment setting that reaches it; empty for the environment's own.
  std::string Setting() const {
    return server_.empty() ? "" : "PULSE_SERVER=" + ShellQuote(server_);
  }

 private:
  pid_t pid_ = -1;
  bool usable_ = false;
  std::string server_;
};

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("tmux")) GTEST_SKIP() << "tmux is needed to drive the terminal";
    server_ = std::make_unique<TSoundServer>(folder_.Path());
    if (!server_->Usable()) GTEST_SKIP() << "no PulseAudio server and none could be started";
    const Bytes tone = MakeStream(folder_.Path(), 8.0);
    if (tone.empty()) GTEST_SKIP() << "sox and lame are needed to make the test streams";
    // Artist 夜明け in Shift-JIS, as old Japanese tags carry it.
    const Bytes tag = ID3v1Block("Alpha", CommentWithTrack("", 1), 255, "\x96\xe9\x96\xbe\x82\xaf",
                                 "Album", "2001");
    first_ = (folder_ / "first.mp3").string();
    second_ = (folder_ / "second.mp3").string();
    WriteFile(first_, Cat({tone, tag}));
    WriteFile(second_, tone);
    short_ = (folder_ / "short.mp3").string();
    WriteFile(short_, MakeStream(folder_.Path(), 1.5));
    tmux_ = "tmux -u -L tw_terminal_test_" + std::to_string(getpid());
  }
  void TearDown() override {
    if (!tmux_.empty()) std::system((tmux_ + " kill-server >/dev/null 2>&1").c_str());
  }

  // Shows the exit status and the terminal's line mode: "EXIT:0\nicanon echo" when restored.
  static constexpr const char* ExitReport =
      "echo EXIT:$?; stty -a | tr ' ;' '\\n\\n' | grep -E '^-?(icanon|echo)$' | tr '\\n' ' '; "
      "echo";

  // Starts tunewell in a pane; after it ends the pane shows its status and the terminal mode.
  void Start(const std::string& arguments) {
    const std::string shell = "env LANG=C.UTF-8 " + server_->Setting() + " " +
                              ShellQuote(TW_TUNEWELL) + " --tty --device pulse " + arguments +
                              "; " + ExitReport + "; sleep 60";
    ASSERT_EQ(std::system((tmux_ + " new-session -d -x 100 -y 30 " + ShellQuote(shell)).c_str()),
              0);
  }
  std::string Screen() { return Capture(tmux_ + " capture-pane -p"); }
  void Keys(const std::string& keys) { std::system((tmux_ + " send-keys " + keys).c_str()); }
  // Waits until the screen matches; the screen as last seen.
  std::string WaitFor(const std::string& pattern, std::chrono::milliseconds limit = 10s) {
    const std::regex wanted(pattern);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string screen;
    do {
      screen = Screen();
      if (std::regex_search(screen, wanted)) return screen;
      std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < deadline);
    ADD_FAILURE() << "no match for " << pattern << " on the screen:\n" << screen;
    return screen;
  }
  // The status line's elapsed seconds.
  int Elapsed(const std::string& screen) {
    std::smatch match;
    const std::regex status(R"((>  |\|\| )(\d+):(\d\d)  )");
    std::string last;
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), status);
         it != std::sregex_iterator(); ++it) {
      last = (*it)[0];
    }
    if (!std::regex_search(last, match, status)) return -1;
    return std::stoi(match[2]) * 60 + std::stoi(match[3]);
  }

  TTempFolder folder_;
  std::unique_ptr<TSoundServer> server_;
  std::string first_, second_, short_, tmux_;
};

TEST_F(TerminalTest, KeysPauseShowTagsAndTheQueueSkipAndQuit) {
  Start(ShellQuote(first_) + " " + ShellQuote(second_));
  std::string screen = WaitFor(R"(>  0:0\d  Alpha / 夜明け)");
  const int before = Elapsed(screen);
  screen = WaitFor(R"(>  0:0[2-9]  Alpha)");
  EXPECT_GT(Elapsed(screen), before) << "the elapsed time does not move";

  Keys("Space");
  screen = WaitFor(R"(\|\| 0:0\d  Alpha / 夜明け)");
  const int paused = Elapsed(screen);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(Elapsed(Screen()), paused) << "the time moves while paused";
  Keys("Space");
  WaitFor(R"(>  0:0\d  Alpha)");

  Keys("t");
  WaitFor("タイトル: Alpha\n");
  screen = WaitFor("アーティスト: 夜明け\n");
  EXPECT_NE(screen.find("アルバム: Album\n"), std::string::npos) << screen;
  EXPECT_NE(screen.find("年: 2001\n"), std::string::npos) << screen;
  Keys("l");
  WaitFor(first_ + "\n" + second_ + "\n");

  Keys("n");
  WaitFor(R"(>  0:0[0-2]  second\.mp3 /)");
  Keys("q");
  screen = WaitFor("EXIT:0\nicanon echo");
}

TEST_F(TerminalTest, KeysTypedWhileInTheBackgroundStayWithTheShell) {
  const std::string shell =
      "env LANG=C.UTF-8 PS1='$ ' " + server_->Setting() + " bash --norc --noprofile";
  ASSERT_EQ(std::system((tmux_ + " new-session -d -x 100 -y 30 " + ShellQuote(shell)).c_str()), 0);
  WaitFor(R"(\$)");
  Keys(ShellQuote(ShellQuote(TW_TUNEWELL) + " --tty --device pulse " + ShellQuote(first_) + " &") +
       " Enter");
  WaitFor(R"(\[1\] \d+)");
  // A "q" taken by the player would also cut the shell's word short.
  Keys("'echo typed-' q Enter");
  WaitFor("\ntyped-q\n");
  Keys("jobs Enter");
  WaitFor(R"(\[1\]\+ +Running)");
  Keys("fg Enter");
  WaitFor(R"(>  0:0\d  Alpha)");
  Keys("q");
  Keys(ShellQuote(ExitReport) + " Enter");
  WaitFor("EXIT:0\nicanon echo");
}

TEST_F(TerminalTest, CtrlCEndsWithStatus130AndRestoresTheTerminal) {
  Start(ShellQuote(first_));
  WaitFor(R"(>  0:0\d  Alpha)");
  Keys("C-c");
  WaitFor("EXIT:130\nicanon echo");
}

TEST_F(TerminalTest, TheQueueEndsByItselfAfterTheLastSong) {
  Start(ShellQuote(short_));
  WaitFor(R"(>  0:0\d  short\.mp3)");
  WaitFor("EXIT:0\nicanon echo", 20s);
}

}  // namespace
}  // namespace tunewell::test

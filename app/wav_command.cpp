// --wav: one file decoded through the sound output's WAV file mode.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <string>

#include "app/Commands.h"
#include "platform/NotifyWindow.h"
#include "platform/WaveOut.h"
#include "player/MP3Plyr.h"

namespace tunewell {

namespace {

// Why the output cannot take the WAV file; nothing when it can. The header is written last,
// at the front of the file, so the output must be able to seek; and it must never be the input.
std::optional<std::string> OutputProblem(const std::string& output, const std::string& input) {
  struct stat out {};
  if (stat(output.c_str(), &out) != 0) return std::nullopt;  // a new file
  struct stat in {};
  if (stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
    return "is the input file; choose another output";
  }
  if (S_ISDIR(out.st_mode)) return "is a directory";
  if (S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode)) {
    return "cannot seek (a pipe or socket); a WAV file needs a seekable output";
  }
  if (S_ISCHR(out.st_mode)) {
    const int fd = open(output.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const bool seekable = fd >= 0 && lseek(fd, 0, SEEK_CUR) >= 0;
    if (fd >= 0) close(fd);
    if (!seekable) return "cannot seek; a WAV file needs a seekable output";
  }
  return std::nullopt;
}

}  // namespace

int RunWav(const std::string& output, const std::string& input, const std::string& device) {
  if (!device.empty()) SetWaveMapperDevice(device);
  if (const auto problem = OutputProblem(output, input)) {
    ReportError(output, *problem);
    return 1;
  }

  TMessageLoop loop;
  TMP3Player player;
  int status = 1;
  bool done = false;
  const auto finish = [&](int code) {
    if (done) return;
    done = true;
    status = code;
    loop.Quit(code);
  };
  // In file mode the sound output is the WAV file: its errors are the output's.
  const auto report = [&](std::exception_ptr error) {
    bool outputFailed = false;
    try {
      std::rethrow_exception(error);
    } catch (const ESoundOutError&) {
      outputFailed = true;
    } catch (...) {
    }
    ReportError(outputFailed ? output : input, ErrorMessage(error));
  };
  player.SetErrorDisplay(report);
  player.OnEndPlay = [&](TMP3Player&, TMP3EndPlayReason reason) {
    finish(reason == mepEndOfStream ? 0 : 1);
  };
  // Closing finishes the WAV header, so an interrupted run leaves a valid, shorter file.
  loop.OnSignal([&](int signo) {
    finish(128 + signo);
    try {
      player.Close();
    } catch (const std::exception&) {
      report(std::current_exception());
    }
  });
  WatchSignals({SIGINT, SIGTERM, SIGHUP});

  // Opening plays, so the output is named first.
  player.SetOutputFileName(output);
  try {
    player.SetFileName(input);
  } catch (const std::exception&) {
    report(std::current_exception());
    return 1;
  }
  loop.Run();
  player.Close();
  return status;
}

}  // namespace tunewell

// TMP3Player: creation and destruction, the published properties, open, play, stop, close and
// the status machine.

#include <cstring>
#include <mutex>
#include <vector>

#include "player/MP3Plyr.h"
#include "player/player_shared.h"
#include "stream/MPAssert.h"

namespace tunewell {

namespace {

constexpr int32_t kPcmBufferSize = 5120;
// Offsets in the file are 32-bit: a larger file is refused instead of wrapping them.
constexpr int64_t kLargestFile = INT32_MAX;

// Windows of destroyed components whose handler was still running: freed once no handler is.
thread_local std::vector<std::unique_ptr<TNotifyWindow>> retiredWindows;
thread_local int handlerDepth = 0;

void FreeRetiredWindows() {
  if (handlerDepth == 0) retiredWindows.clear();
}

int PriorityValue(TThreadPriority priority) {
  static constexpr int values[] = {-15, -2, -1, 0, 1, 2, 15};
  return values[priority];
}

[[noreturn]] void RaiseUnknownFormat() {
  throw EMP3PlayerError(UnknownFormatMessage);
}

uint32_t LittleEndianWord(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

int32_t PaddingSlot(const TMPEGHeader& header) {
  return header.PaddingBit * (header.LayerCode == 3 ? 4 : 1);
}

// The main thread waits for a worker while one of these lives.
class TBusyGuard {
 public:
  explicit TBusyGuard(TMPSimpleEvent& busy, int& depth) : busy_(busy), depth_(depth) {
    if (depth_++ == 0) busy_.Signal();
  }
  ~TBusyGuard() {
    if (--depth_ == 0) busy_.Reset();
  }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

 private:
  TMPSimpleEvent& busy_;
  int& depth_;
};

}  // namespace

TMP3Player::TMP3Player() : shared_(std::make_shared<TShared>()) {
  FreeRetiredWindows();
  window_ = std::make_unique<TNotifyWindow>([shared = shared_, this](const Message& message) {
    if (!shared->Alive) return;
    FreeRetiredWindows();
    ++handlerDepth;
    WindowProc(message);
    --handlerDepth;
  });
  soundOut_ = std::make_unique<TSoundOut>();
  soundOut_->SetNotifyInterval(changePosStep_);
  soundOut_->SetOnError([this](TSoundOut&, const std::exception&, bool& handled) {
    ForwardThreadException(true, handled);
  });
  decodeThread_ = std::make_unique<TMPLoopThread>(static_cast<TMPMessageOwner*>(this));
  decodeThread_->OnException = [this](TMPLoopThread&, const std::exception&, bool& handled) {
    ForwardThreadException(false, handled);
  };
  decodeThread_->Resume();
}

TMP3Player::~TMP3Player() {
  destroying_ = true;
  // Workers never wait for this thread again.
  ++shared_->BusyDepth;
  shared_->MainBusy.Signal();
  try {
    Stop();
    Close();
  } catch (const std::exception&) {
    // Closing fails only in the sound output, which is going anyway.
  }
  decodeThread_->StopAndWait();
  soundOut_.reset();
  decodeThread_.reset();
  {
    std::lock_guard lock(shared_->Mutex);
    for (auto& error : shared_->Errors) error->Answered.Signal();
    shared_->Errors.clear();
  }
  shared_->Alive = false;
  if (handlerDepth > 0) {
    retiredWindows.push_back(std::move(window_));
  } else {
    window_.reset();
    FreeRetiredWindows();
  }
}

void TMP3Player::BeginLoading() {
  loading_ = true;
}

void TMP3Player::Loaded() {
  loading_ = false;
  if (equalizerMode_ == memFreq) SetEqualizerFrequencyRange(60, 16000);
  if (autoOpen_ && !fileName_.empty()) OpenFile();
}

// Properties.

void TMP3Player::SetAutoOpen(bool value) {
  autoOpen_ = value;
  if (value && !Loading()) OpenFile();
}

void TMP3Player::SetAutoPlay(bool value) {
  autoPlay_ = value;
  if (IsOpen() && status_ == mpsStop) Play();
}

void TMP3Player::SetChangePosStep(int32_t milliseconds) {
  if (milliseconds < 100) return;
  changePosStep_ = milliseconds;
  std::lock_guard out(outputLock_);
  soundOut_->SetNotifyInterval(milliseconds);
}

void TMP3Player::SetDecodePriority(TThreadPriority priority) {
  if (priority > tpTimeCritical) return;
  decodePriority_ = priority;
  decodeThread_->SetPriority(PriorityValue(priority));
}

void TMP3Player::SetFileName(const std::string& name) {
  fileName_ = name;
  if (autoOpen_ && !Loading()) OpenFile();
}

bool TMP3Player::InvertPolarity() {
  std::lock_guard lock(decoderLock_);
  return DecoderGetInvertPolarity() != 0;
}

void TMP3Player::SetInvertPolarity(bool value) {
  std::lock_guard lock(decoderLock_);
  DecoderSetInvertPolarity(value);
}

void TMP3Player::SetUsingCpuCapabilities(TMP3CpuCapabilities capabilities) {
  usingCpuCapabilities_ = capabilities * DetectCpuCapabilities();
}

void TMP3Player::SetVolBalance(int32_t balance) {
  if (balance < -100 || balance > 100) return;
  volBalance_ = balance;
  std::lock_guard out(outputLock_);
  soundOut_->SetBalance(balance);
}

void TMP3Player::SetVolume(int32_t volume) {
  if (volume < 0 || volume > 100) return;
  if (volume == 0 && Loading()) {
    // A stored 0 keeps the volume the device had.
    volume_ = soundOut_->Volume();
    return;
  }
  volume_ = volume;
  std::lock_guard out(outputLock_);
  soundOut_->SetVolume(volume);
}

void TMP3Player::SetErrorDisplay(TErrorDisplay display) {
  errorDisplay_ = std::move(display);
}

void TMP3Player::SetProcessMessages(std::function<void()> process) {
  processMessages_ = std::move(process);
}

// Opening.

void TMP3Player::OpenFile() {
  if (fileName_.empty()) {
    Close();
    return;
  }
  const std::string name = fileName_;
  auto file = std::make_unique<TFileStream>(name);
  const bool autoPlay = autoPlay_;
  autoPlay_ = false;
  try {
    Open(std::move(file), true);
  } catch (...) {
    autoPlay_ = autoPlay;
    throw;
  }
  autoPlay_ = autoPlay;
  // Open's Close cleared it; restored before playing so that a failing Play leaves the name.
  fileName_ = name;
  if (autoPlay_) Play();
}

void TMP3Player::Open(std::unique_ptr<TByteStream> stream, bool seekable) {
  Close();
  owned_ = std::move(stream);
  OpenStream(owned_.get(), seekable);
}

void TMP3Player::Open(TByteStream& stream, bool seekable) {
  Close();
  OpenStream(&stream, seekable);
}

void TMP3Player::OpenStream(TByteStream* stream, bool seekable) {
  stream_ = stream;
  seekable_ = seekable;
  if (stream_ == nullptr) {
    if (autoPlay_) Play();
    return;
  }
  try {
    OpenSteps();
  } catch (...) {
    Close();
    throw;
  }
  PostOnce(MPM_EQUALIZER);
  SetStatus(mpsStop);
  if (autoPlay_) Play();
}

void TMP3Player::OpenSteps() {
  if (seekable_ && stream_->Size() > kLargestFile) RaiseUnknownFormat();
  reader_.Open(stream_, seekable_);
  pcmBuffer_.reset(static_cast<uint8_t*>(AllocAligned(kPcmBufferSize, 8)));
  info_.SetReader(&reader_);
  if (seekable_) {
    info_.ReadLeadingInfo();
    info_.ReadTrailingInfo();
    reader_.Seek(info_.DataStart(), 0);
  } else {
    info_.ReadLeadingInfo();
  }
  audioStart_ = info_.DataStart();
  audioSize_ = info_.DataLength();
  pcmPending_ = 0;

  reader_.Ensure(4096);
  int32_t bitrate = 0;
  uint32_t offset = 0;
  TMPEGHeader found{};
  if (DecoderFindFirstFrame(reader_.Current(), static_cast<uint32_t>(reader_.Contiguous()), found,
                            bitrate, offset) <= 0) {
    RaiseUnknownFormat();
  }
  if (offset != 0) {
    audioStart_ += static_cast<int32_t>(offset);
    if (audioSize_ != UnboundedAudioSize) audioSize_ -= static_cast<int32_t>(offset);
    if (!reader_.Skip(static_cast<int32_t>(offset))) RaiseUnknownFormat();
    reader_.Ensure(1441);
    if (reader_.Contiguous() < 4) RaiseUnknownFormat();
  }
  firstHeader_ = LittleEndianWord(reader_.Current());
  pendingFrameLength_ = ParseFrameHeader(reader_.Current(), header_);
  if (pendingFrameLength_ <= 0 || header_.LayerCode < 1 || header_.LayerCode > 3) {
    RaiseUnknownFormat();
  }
  const bool mpeg1 = header_.VersionId == 1;
  const bool mpeg2 = header_.VersionId == 0 && (header_.SyncKind == 1 || header_.SyncKind == 2);
  if (!mpeg1 && !mpeg2) RaiseUnknownFormat();
  if (!reader_.Ensure(pendingFrameLength_)) RaiseUnknownFormat();
  if (OpenDecoder(header_, pendingFrameLength_) <= 0) RaiseUnknownFormat();
  pendingHeader_ = header_;

  DecoderGetOutputFormat(outputFormat_);
  soundOut_->SetSampleRate(outputFormat_.SampleRate);
  soundOut_->SetBitsPerSample(outputFormat_.BitsPerSample);
  soundOut_->SetChannels(outputFormat_.Channels);
  sampleRate_ = outputFormat_.SampleRate;
  bytesPerFrame_ = outputFormat_.SamplesPerFrame * outputFormat_.BitsPerSample / 8;
  MPAssert(bytesPerFrame_ > 0 && bytesPerFrame_ <= kPcmBufferSize);

  if (!ReadVbrHeader(reader_, header_, pendingFrameLength_, audioStart_, audioSize_)) {
    RaiseUnknownFormat();
  }
  vbrHeader_ = pendingFrameLength_ == 0;
}

int32_t TMP3Player::ParseFrameHeader(const uint8_t* bytes, TMPEGHeader& header) const {
  const int32_t length = DecoderParseHeader(bytes, 0, header);
  if (length <= 0) return length;
  if (header.LayerCode < 1 || header.LayerCode > 3) return 0;
  if (((LittleEndianWord(bytes) ^ firstHeader_) & HeaderCompatibilityMask) != 0) return 0;
  return length + PaddingSlot(header);
}

int32_t TMP3Player::OpenDecoder(const TMPEGHeader& header, int32_t length) {
  const int32_t result = DecoderOpenStream(header, length - PaddingSlot(header), 0, 0, 0, 24000);
  if (result > 0) {
    needDecoderOpen_ = false;
    resyncCount_ = 0;
  }
  return result;
}

// Playing.

TMP3PlayerCapabilities TMP3Player::Capabilities() const {
  TMP3PlayerCapabilities result{mpcOpen};
  if (!IsOpen()) return result;
  result.Include(mpcClose);
  const bool toDevice = outputFileName_.empty();
  if (status_ == mpsStop) {
    result.Include(mpcPlay);
    result.Include(mpcStopped);
  } else {
    result.Include(mpcStop);
    if (seekable_ && toDevice) result.Include(mpcSeek);
  }
  if (status_ == mpsPlay && toDevice) result.Include(mpcPause);
  if (status_ == mpsPause && toDevice) result.Include(mpcResume);
  return result;
}

void TMP3Player::Play() {
  if (!Capabilities().Contains(mpcPlay)) return;
  try {
    DecoderSelectRoutines(SelectedCpuFlags(usingCpuCapabilities_));
    {
      std::lock_guard out(outputLock_);
      soundOut_->SetOnPosition([this](TSoundOut&) { Post(MPM_CHANGEPOSITION); });
      soundOut_->SetOutputFileName(outputFileName_);
      soundOut_->DeviceId = deviceId_;
      try {
        soundOut_->Open();
      } catch (const EMP3PlayerError&) {
        throw;
      } catch (const std::exception& e) {
        throw ESoundOutError(e.what());
      }
    }
    ++playback_;
    decodeThread_->WakeEvent.Signal();
  } catch (...) {
    {
      std::lock_guard out(outputLock_);
      soundOut_->SetOnPosition(nullptr);
    }
    Stop();
    throw;
  }
  SetStatus(mpsPlay);
  endReason_ = mepStop;
  PostOnce(MPM_CHANGEPOSITION);
}

void TMP3Player::Pause() {
  if (!Capabilities().Contains(mpcPause)) return;
  {
    std::lock_guard out(outputLock_);
    soundOut_->Pause();
  }
  SetStatus(mpsPause);
}

void TMP3Player::Resume() {
  if (!Capabilities().Contains(mpcResume)) return;
  {
    std::lock_guard out(outputLock_);
    soundOut_->Unpause();
  }
  SetStatus(mpsPlay);
}

void TMP3Player::Stop() {
  if (!IsOpen() || status_ == mpsStop) return;
  outputFileName_.clear();
  std::exception_ptr failure;
  {
    TBusyGuard busy(shared_->MainBusy, shared_->BusyDepth);
    std::lock_guard decoder(decoderLock_);
    std::lock_guard out(outputLock_);
    soundOut_->SetOnPosition(nullptr);
    try {
      soundOut_->Reset();
      soundOut_->Close();
    } catch (const std::exception& e) {
      // The playback still ends; the failure is reported once it has.
      failure = std::make_exception_ptr(ESoundOutError(e.what()));
    }
    decodeThread_->WakeEvent.Reset();
    ++playback_;
  }
  if (seekable_) reader_.Seek(audioStart_, 0);
  ResetDecodeState();
  needDecoderOpen_ = true;
  SetStatus(mpsStop);
  PostOnce(MPM_CHANGEPOSITION);
  if (!seekable_) Close();
  if (failure) std::rethrow_exception(failure);
}

void TMP3Player::Close() {
  if (!IsOpen()) return;
  TBusyGuard busy(shared_->MainBusy, shared_->BusyDepth);
  std::exception_ptr failure;
  if (status_ != mpsStop) {
    try {
      Stop();
    } catch (...) {
      failure = std::current_exception();
    }
    if (!IsOpen()) {
      if (failure) std::rethrow_exception(failure);
      return;
    }
  }
  reader_.Close();
  pcmBuffer_.reset();
  fileName_.clear();
  stream_ = nullptr;
  owned_.reset();
  info_.Clear();
  header_ = {};
  pendingHeader_ = {};
  firstHeader_ = 0;
  sampleRate_ = 0;
  bytesPerFrame_ = 0;
  outputFormat_ = {};
  vbrHeader_ = false;
  audioStart_ = 0;
  audioSize_ = UnboundedAudioSize;
  SetStatus(mpsStop);
  if (failure) std::rethrow_exception(failure);
}

void TMP3Player::SetStatus(TMP3PlayerStatus status) {
  const bool ending = IsOpen() && status_ != mpsStop && status == mpsStop;
  status_ = status;
  PostOnce(MPM_CHANGESTATUS);
  if (ending) PostOnce(MPM_ENDPLAY);
}

void TMP3Player::ResetDecodeState() {
  pcmPending_ = 0;
  pendingFrameLength_ = 0;
}

int64_t TMP3Player::ElapsedMilliseconds() {
  std::lock_guard out(outputLock_);
  if (status_ == mpsStop) return 0;
  const int64_t bytesPerSecond =
      int64_t{soundOut_->SampleRate()} * soundOut_->Channels() * (soundOut_->BitsPerSample() / 8);
  if (bytesPerSecond <= 0) return 0;
  return soundOut_->PlayedBytes() * 1000 / bytesPerSecond;
}

// Tags.

std::string TMP3Player::Title() const {
  std::string title = info_.GetTitle();
  if (title.empty() && !fileName_.empty()) {
    const size_t slash = fileName_.find_last_of('/');
    title = slash == std::string::npos ? fileName_ : fileName_.substr(slash + 1);
  }
  return title;
}

std::string TMP3Player::Artist() const {
  return info_.GetArtist();
}
std::string TMP3Player::Album() const {
  return info_.GetAlbum();
}
std::string TMP3Player::Year() const {
  return info_.GetYear();
}
std::string TMP3Player::Comment() const {
  return info_.GetComment();
}
std::string TMP3Player::Genre() const {
  return info_.GetGenre();
}

}  // namespace tunewell

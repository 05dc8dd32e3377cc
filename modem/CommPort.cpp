#include "modem/CommPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace zv {

namespace {

constexpr unsigned kRateValues[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                    19200, 38400, 56000, 57600, 115200, 128000, 256000};

// Longest single wait of a worker, so that a line change seen only through
// the interrupt counters is noticed without a delay configured.
constexpr int kDefaultSliceMs = 50;

int Slice(int delay) {
  return delay > 0 ? delay : kDefaultSliceMs;
}

}  // namespace

unsigned BaudRateValue(TBaudRate rate) {
  const int i = static_cast<int>(rate);
  return (i >= 0 && i < 15) ? kRateValues[i] : 0;
}

bool BaudRateFromValue(int bitsPerSecond, TBaudRate& rate) {
  for (int i = 0; i < 15; ++i)
    if (static_cast<int>(kRateValues[i]) == bitsPerSecond) {
      rate = static_cast<TBaudRate>(i);
      return true;
    }
  return false;
}

TCustomCommPort::TCustomCommPort(IDispatcher& dispatcher, const PortMap& ports,
                                 DeviceFactory factory)
    : dispatcher_(dispatcher),
      ports_(ports),
      factory_(std::move(factory)),
      alive_(std::make_shared<int>(0)) {}

TCustomCommPort::~TCustomCommPort() {
  alive_.reset();
  StopThreads();
  if (device_) device_->Close();
}

bool TCustomCommPort::IsOpen() const {
  return device_ && device_->IsOpen() && !closing_.load() && !lost_.load();
}

void TCustomCommPort::SetInBuffSize(int size) {
  if (inBuf_.empty() && size > 0) inBuffSize_ = size;
}

void TCustomCommPort::SetOutBuffSize(int size) {
  if (outBuf_.empty() && size > 0) outBuffSize_ = size;
}

void TCustomCommPort::SetBaudRate(TBaudRate r) {
  baudRate_ = r;
  if (IsOpen()) lineAccepted_ = ApplyLine();
}
void TCustomCommPort::SetParity(TParity p) {
  parity_ = p;
  if (IsOpen()) lineAccepted_ = ApplyLine();
}
void TCustomCommPort::SetStopBits(TStopBits s) {
  stopBits_ = s;
  if (IsOpen()) lineAccepted_ = ApplyLine();
}
void TCustomCommPort::SetDataBits(TDataBits d) {
  dataBits_ = d;
  if (IsOpen()) lineAccepted_ = ApplyLine();
}

bool TCustomCommPort::ApplyLine() {
  SerialLine line;
  line.baud = BaudRateValue(baudRate_);
  line.dataBits = 4 + static_cast<int>(dataBits_);
  line.parity = static_cast<SerialParity>(parity_);
  line.stopBits = static_cast<SerialStopBits>(stopBits_);
  return device_ && device_->SetLine(line);
}

void TCustomCommPort::SignalStarted() {
  std::lock_guard lk(sigMu_);
  ++started_;
  sigCv_.notify_all();
}

void TCustomCommPort::WaitStarted(int& seen) {
  std::unique_lock lk(sigMu_);
  sigCv_.wait_for(lk, std::chrono::milliseconds(1000), [&] { return started_ > seen; });
  seen = started_;
}

void TCustomCommPort::Open() {
  if (open_.load()) return;
  outBuf_.assign(static_cast<std::size_t>(outBuffSize_), 0);
  inBuf_.assign(static_cast<std::size_t>(inBuffSize_), 0);
  outCount_ = 0;
  inCount_ = 0;

  devicePath_ = ports_.ComDevice(static_cast<int>(comNumber_) + 1);
  openError_.clear();
  device_ = factory_ ? factory_() : nullptr;
  const DeviceResult opened =
      device_ ? device_->Open(devicePath_) : DeviceResult::NoDevice(devicePath_);
  if (!opened) {
    openError_ = opened.reason;
    device_.reset();
    outBuf_.clear();
    inBuf_.clear();
    return;
  }
  // A setting the device refuses is not silently replaced by another one.
  lineAccepted_ = ApplyLine();
  if (!lineAccepted_) {
    openError_ = devicePath_ + ": line settings refused";
    device_->Close();
    device_.reset();
    outBuf_.clear();
    inBuf_.clear();
    return;
  }

  unsigned h = 0;
  if (OnBreakSignal) h |= EV_BREAK;
  if (OnCTSSignal) h |= EV_CTS;
  if (OnDSRSignal) h |= EV_DSR;
  if (OnErrorSignal) h |= EV_ERR;
  if (OnRingSignal) h |= EV_RING;
  if (OnRLSDSignal) h |= EV_RLSD;
  if (OnTxEmptySignal) h |= EV_TXEMPTY;
  if (OnDataAvail) h |= EV_RXCHAR;
  handlers_ = h;
  ++session_;
  closing_ = false;
  lost_ = false;
  finishPosted_ = false;
  {
    std::lock_guard lk(sigMu_);
    started_ = 0;
    readNow_ = writeNow_ = false;
  }
  int seen = 0;
  status_ = std::jthread([this](std::stop_token st) { StatusThread(st); });
  WaitStarted(seen);
  reader_ = std::jthread([this](std::stop_token st) { ReadThread(st); });
  WaitStarted(seen);
  writer_ = std::jthread([this](std::stop_token st) { WriteThread(st); });
  WaitStarted(seen);

  open_ = true;
  if (OnOpen) OnOpen();
}

void TCustomCommPort::StopThreads() {
  closing_ = true;
  if (writer_.joinable()) {
    writer_.request_stop();
    {
      std::lock_guard lk(sigMu_);
      writeNow_ = true;
      sigCv_.notify_all();
    }
    writer_.join();
  }
  if (reader_.joinable()) {
    reader_.request_stop();
    {
      std::lock_guard lk(sigMu_);
      readNow_ = true;
      sigCv_.notify_all();
    }
    reader_.join();
  }
  if (status_.joinable()) {
    status_.request_stop();
    if (device_) device_->Wake();
    status_.join();
  }
}

void TCustomCommPort::Close() {
  closing_ = true;
  if (!open_.load()) return;
  rlsd_ = false;
  ring_ = false;
  if (inHandler_ > 0) {
    // Called from a handler that a worker is waiting on: that worker cannot
    // be joined now.  Stop everything and finish once the handler returned.
    writer_.request_stop();
    reader_.request_stop();
    status_.request_stop();
    if (device_) device_->Wake();
    {
      std::lock_guard lk(sigMu_);
      readNow_ = writeNow_ = true;
      sigCv_.notify_all();
    }
    if (!finishPosted_) {
      finishPosted_ = true;
      PostFinishClose();
    }
    return;
  }
  FinishClose();
}

void TCustomCommPort::FinishClose() {
  if (!open_.load()) return;
  if (inHandler_ > 0) {
    PostFinishClose();
    return;
  }
  StopThreads();
  if (device_) device_->Close();
  device_.reset();
  {
    std::lock_guard lk(outLock_);
    outBuf_.clear();
    outCount_ = 0;
  }
  {
    std::lock_guard lk(inLock_);
    inBuf_.clear();
    inCount_ = 0;
  }
  open_ = false;
  if (OnClose) OnClose();
}

int TCustomCommPort::Write(const void* buffer, int count) {
  if (!IsOpen() || count <= 0 || !buffer) return 0;
  int n;
  {
    std::lock_guard lk(outLock_);
    const int used = outCount_.load();
    n = std::min(count, outBuffSize_ - used);
    if (n <= 0) return 0;
    std::memcpy(outBuf_.data() + used, buffer, static_cast<std::size_t>(n));
    outCount_ = used + n;
  }
  {
    std::lock_guard lk(sigMu_);
    writeNow_ = true;
    sigCv_.notify_all();
  }
  return n;
}

int TCustomCommPort::WriteString(const std::string& s) {
  if (s.empty()) return 0;
  return Write(s.data(), static_cast<int>(s.size()));
}

int TCustomCommPort::Read(void* buffer, int count) {
  if (!IsOpen() || count <= 0 || !buffer) return 0;
  std::lock_guard lk(inLock_);
  const int have = inCount_.load();
  const int n = std::min(count, have);
  if (n <= 0) return 0;
  std::memcpy(buffer, inBuf_.data(), static_cast<std::size_t>(n));
  std::memmove(inBuf_.data(), inBuf_.data() + n, static_cast<std::size_t>(have - n));
  inCount_ = have - n;
  return n;
}

void TCustomCommPort::PurgeInput() {
  if (IsOpen()) device_->PurgeInput();
  std::lock_guard lk(inLock_);
  inCount_ = 0;
}

void TCustomCommPort::PurgeOutput() {
  // The writer hands bytes to the device under the output lock, so nothing
  // of the old output can reach the device after this returns.
  std::lock_guard lk(outLock_);
  if (IsOpen()) device_->PurgeOutput();
  outCount_ = 0;
}

bool TCustomCommPort::Deliver(const std::function<void()>& fn, std::stop_token st) {
  if (closing_.load() || st.stop_requested()) return false;
  return dispatcher_.Invoke(
      [this, &fn] {
        ++inHandler_;
        try {
          fn();
        } catch (...) {
          // A handler's failure must not unwind into the event loop's drain.
        }
        --inHandler_;
      },
      st);
}

void TCustomCommPort::PostFinishClose() {
  std::weak_ptr<int> alive = alive_;
  const unsigned session = session_.load();
  dispatcher_.Post([this, alive, session] {
    // Only the session that asked: the port may have been reopened meanwhile.
    if (alive.lock() && session_.load() == session) {
      closing_ = true;
      FinishClose();
    }
  });
}

void TCustomCommPort::ReadModemLines() {
  SerialModemLines lines;
  if (device_->GetModemLines(lines)) {
    linesKnown_ = true;
  } else {
    // A device without modem lines (a pseudo-terminal): CTS, DSR and RLSD
    // count as on so that writing works.
    linesKnown_ = false;
    lines.cts = lines.dsr = lines.rlsd = true;
    lines.ring = false;
  }
  lastLines_ = lines;
  cts_ = lines.cts;
  dsr_ = lines.dsr;
  rlsd_ = lines.rlsd;
  ring_ = lines.ring;
}

void TCustomCommPort::Nap(int ms, bool& flag, std::stop_token st) {
  std::unique_lock lk(sigMu_);
  if (ms > 0)
    sigCv_.wait_for(lk, st, std::chrono::milliseconds(ms),
                    [&] { return flag || closing_.load() || lost_.load(); });
  flag = false;
}

void TCustomCommPort::StatusDispatch(unsigned mask, unsigned errors, std::stop_token st) {
  const unsigned todo = mask & handlers_.load();
  if (todo & EV_BREAK) Deliver([this] { OnBreakSignal(); }, st);
  if (todo & EV_CTS) Deliver([this] { OnCTSSignal(); }, st);
  if (todo & EV_DSR) Deliver([this] { OnDSRSignal(); }, st);
  if (todo & EV_ERR) Deliver([this, errors] { OnErrorSignal(errors); }, st);
  if (todo & EV_RING) Deliver([this] { OnRingSignal(); }, st);
  if (todo & EV_RLSD) Deliver([this] { OnRLSDSignal(); }, st);
  if (todo & EV_TXEMPTY) Deliver([this] { OnTxEmptySignal(); }, st);
}

void TCustomCommPort::DeviceLost(std::stop_token st) {
  if (lost_.exchange(true)) return;
  device_->Wake();
  {
    std::lock_guard lk(sigMu_);
    sigCv_.notify_all();
  }
  if (Has(EV_ERR)) {
    // Told directly: the loops have ended and closing is under way.
    dispatcher_.Invoke(
        [this] {
          ++inHandler_;
          try {
            OnErrorSignal(CE_IOE);
          } catch (...) {
          }
          --inHandler_;
        },
        st);
  }
  PostFinishClose();
}

void TCustomCommPort::StatusThread(std::stop_token st) {
  ReadModemLines();
  SerialCounters prev;
  const bool haveCounters = device_->GetCounters(prev);
  SignalStarted();
  // The owner hears the initial line states once.
  StatusDispatch(EV_CTS | EV_DSR | EV_RLSD | EV_RING, 0, st);

  int prevOut = 0;
  while (Running(st)) {
    const SerialWait w = device_->WaitInput(Slice(StatusDelay));
    if (!Running(st)) break;
    if (w == SerialWait::Gone) {
      DeviceLost(st);
      break;
    }
    unsigned mask = 0, errors = 0;
    int passesBefore = 0;
    if (w == SerialWait::Readable) {
      const int q = device_->InQueue();
      if (q < 0) {
        DeviceLost(st);
        break;
      }
      bool full;
      {
        std::lock_guard lk(sigMu_);
        full = inputFull_;
        passesBefore = readPasses_;
      }
      if (q > 0 && !full) {
        mask |= EV_RXCHAR;
      } else if (q > 0) {
        // The reader's buffer is full: it takes more on its own passes, and
        // the same readable state must not make this thread spin.
        bool none = false;
        Nap(Slice(StatusDelay), none, st);
      }
    }
    if (haveCounters) {
      SerialCounters now;
      if (device_->GetCounters(now)) {
        if (now.cts != prev.cts) mask |= EV_CTS;
        if (now.dsr != prev.dsr) mask |= EV_DSR;
        if (now.rlsd != prev.rlsd) mask |= EV_RLSD;
        if (now.ring != prev.ring) mask |= EV_RING;
        if (now.brk != prev.brk) {
          mask |= EV_BREAK;
          errors |= CE_BREAK;
        }
        if (now.frame != prev.frame) errors |= CE_FRAME;
        if (now.overrun != prev.overrun) errors |= CE_OVERRUN;
        if (now.parity != prev.parity) errors |= CE_RXPARITY;
        if (now.bufOverrun != prev.bufOverrun) errors |= CE_RXOVER;
        if (errors & ~CE_BREAK) mask |= EV_ERR;
        prev = now;
      }
    } else if (linesKnown_) {
      // No counters: compare the lines themselves.
      SerialModemLines now;
      if (device_->GetModemLines(now)) {
        if (now.cts != lastLines_.cts) mask |= EV_CTS;
        if (now.dsr != lastLines_.dsr) mask |= EV_DSR;
        if (now.rlsd != lastLines_.rlsd) mask |= EV_RLSD;
        if (now.ring != lastLines_.ring) mask |= EV_RING;
      }
    }
    const int out = device_->OutQueue();
    if (prevOut > 0 && out == 0) mask |= EV_TXEMPTY;
    prevOut = out > 0 ? out : 0;

    if (mask == 0) continue;
    {
      std::lock_guard lk(sigMu_);
      readNow_ = true;
      sigCv_.notify_all();
    }
    if (inCount_.load() > 0 && Has(EV_RXCHAR))
      Deliver([this] { OnDataAvail(inCount_.load()); }, st);
    if (mask & (EV_CTS | EV_DSR | EV_RLSD | EV_ERR | EV_RING)) {
      ReadModemLines();
      if (cts_.load()) {
        std::lock_guard lk(sigMu_);
        writeNow_ = true;
        sigCv_.notify_all();
      }
    }
    StatusDispatch(mask, errors, st);
    if (mask & EV_RXCHAR) {
      // Until the reader has taken the bytes the device stays readable: wait
      // for its pass rather than report the same bytes again.
      std::unique_lock lk(sigMu_);
      sigCv_.wait_for(lk, st, std::chrono::milliseconds(Slice(StatusDelay)), [&] {
        return readPasses_ != passesBefore || closing_.load() || lost_.load();
      });
    }
  }
}

void TCustomCommPort::ReadThread(std::stop_token st) {
  SignalStarted();
  while (Running(st)) {
    Nap(Slice(ReadDelay), readNow_, st);
    if (!Running(st)) break;
    const int queued = device_->InQueue();
    if (queued < 0) {
      DeviceLost(st);
      break;
    }
    bool gone = false;
    int room;
    {
      std::lock_guard lk(inLock_);
      const int have = inCount_.load();
      room = inBuffSize_ - have;
      const int n = std::min(queued, room);
      if (n > 0 && !closing_.load()) {
        const long r = device_->Read(inBuf_.data() + have, static_cast<std::size_t>(n), gone);
        if (r > 0) inCount_ = std::min(inBuffSize_, have + static_cast<int>(r));
      }
    }
    {
      std::lock_guard lk(sigMu_);
      ++readPasses_;
      inputFull_ = queued > room;
      sigCv_.notify_all();
    }
    if (gone) {
      DeviceLost(st);
      break;
    }
    if (inCount_.load() > 0 && Has(EV_RXCHAR))
      Deliver([this] { OnDataAvail(inCount_.load()); }, st);
  }
}

void TCustomCommPort::WriteThread(std::stop_token st) {
  SignalStarted();
  while (Running(st)) {
    bool wrote = false, gone = false;
    if (outCount_.load() > 0) {
      std::lock_guard lk(outLock_);
      int queued = device_->OutQueue();
      if (queued < 0) queued = 0;
      const int count = outCount_.load();
      const int n = std::min(count, outBuffSize_ - queued);
      if (n > 0 && !closing_.load() && cts_.load()) {
        const long r = device_->Write(outBuf_.data(), static_cast<std::size_t>(n), gone);
        if (r > 0) {
          std::memmove(outBuf_.data(), outBuf_.data() + r, static_cast<std::size_t>(count - r));
          outCount_ = count - static_cast<int>(r);
          wrote = true;
        }
      }
    }
    if (gone) {
      DeviceLost(st);
      break;
    }
    // More to write after progress: the configured pace.  Otherwise wait to
    // be woken by new output, by CTS coming on, or by the next slice.
    const int wait = (wrote && outCount_.load() > 0) ? WriteDelay : Slice(WriteDelay);
    Nap(wait, writeNow_, st);
  }
}

}  // namespace zv

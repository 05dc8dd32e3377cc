#pragma once
// The serial-port component: one device, three worker threads (status,
// reader, writer), an input and an output buffer each under its own lock, and
// events that always run on the main thread, handed over synchronously
// through the dispatcher.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/PortMap.h"
#include "platform/SerialDevice.h"

namespace zv {

enum TComNumber { cnCOM1, cnCOM2, cnCOM3, cnCOM4, cnCOM5, cnCOM6, cnCOM7, cnCOM8 };
enum TBaudRate {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TDataBits { db4, db5, db6, db7, db8 };
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits { sb1_0, sb1_5, sb2_0 };

unsigned BaudRateValue(TBaudRate rate);
// The rate of the table for bit/s, false when there is none.
bool BaudRateFromValue(int bitsPerSecond, TBaudRate& rate);

// Line events of one status pass.
enum CommEventMask : unsigned {
  EV_RXCHAR = 0x0001,
  EV_TXEMPTY = 0x0004,
  EV_CTS = 0x0008,
  EV_DSR = 0x0010,
  EV_RLSD = 0x0020,
  EV_BREAK = 0x0040,
  EV_ERR = 0x0080,
  EV_RING = 0x0100,
};

// Error flags handed to OnErrorSignal.
enum CommErrorFlags : unsigned {
  CE_RXOVER = 0x0001,
  CE_OVERRUN = 0x0002,
  CE_RXPARITY = 0x0004,
  CE_FRAME = 0x0008,
  CE_BREAK = 0x0010,
  CE_IOE = 0x0400,  // the device failed or vanished; the port closes itself
};

class TCustomCommPort {
 public:
  using DeviceFactory = SerialDeviceFactory;
  using TNotifyEvent = std::function<void()>;
  using TCommDataAvailEvent = std::function<void(int count)>;
  using TCommErrorEvent = std::function<void(unsigned errors)>;

  // The device of every Open comes from factory; without one, no port opens
  // ("no device").
  TCustomCommPort(IDispatcher& dispatcher, const PortMap& ports, DeviceFactory factory = {});
  virtual ~TCustomCommPort();
  TCustomCommPort(const TCustomCommPort&) = delete;
  TCustomCommPort& operator=(const TCustomCommPort&) = delete;

  void Open();
  void Close();
  virtual bool IsOpen() const;

  int Write(const void* buffer, int count);
  int WriteString(const std::string& s);
  int Read(void* buffer, int count);
  virtual bool DataAvailable() const { return inCount_.load() > 0; }
  int OutFree() const { return outBuffSize_ - outCount_.load(); }
  int InCount() const { return inCount_.load(); }
  int OutCount() const { return outCount_.load(); }
  void PurgeInput();
  virtual void PurgeOutput();

  TComNumber ComNumber() const { return comNumber_; }
  void SetComNumber(TComNumber n) { comNumber_ = n; }
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate r);
  TParity Parity() const { return parity_; }
  void SetParity(TParity p);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits s);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits d);
  int InBuffSize() const { return inBuffSize_; }
  void SetInBuffSize(int size);
  int OutBuffSize() const { return outBuffSize_; }
  void SetOutBuffSize(int size);

  bool CTS() const { return cts_.load(); }
  bool DSR() const { return dsr_.load(); }
  bool RLSD() const { return rlsd_.load(); }
  bool Ring() const { return ring_.load(); }
  // The device path used by the last Open.
  const std::string& DevicePath() const { return devicePath_; }
  // Why the last Open failed ("/dev/ttyS4: Permission denied"); empty after
  // an Open that succeeded.
  const std::string& OpenError() const { return openError_; }
  // False when the last Open, or a setter while open, had a line setting refused.
  bool LineAccepted() const { return lineAccepted_; }

  int StatusDelay = 0;
  int WriteDelay = 0;
  int ReadDelay = 0;

  TNotifyEvent OnBreakSignal, OnClose, OnCTSSignal, OnDSRSignal, OnDTRSignal, OnOpen, OnRingSignal,
      OnRLSDSignal, OnRxDSignal, OnTxDSignal, OnTxEmptySignal;
  TCommErrorEvent OnErrorSignal;
  TCommDataAvailEvent OnDataAvail;

 private:
  bool ApplyLine();
  void StatusThread(std::stop_token st);
  void ReadThread(std::stop_token st);
  void WriteThread(std::stop_token st);
  void StatusDispatch(unsigned mask, unsigned errors, std::stop_token st);
  void ReadModemLines();
  void Nap(int ms, bool& flag, std::stop_token st);
  bool Running(const std::stop_token& st) const {
    return !closing_.load() && !lost_.load() && !st.stop_requested();
  }
  bool Has(unsigned handler) const { return (handlers_.load() & handler) != 0; }
  // Runs fn on the main thread and waits for it; false when given up.
  bool Deliver(const std::function<void()>& fn, std::stop_token st);
  void DeviceLost(std::stop_token st);
  void FinishClose();
  void PostFinishClose();
  void SignalStarted();
  void WaitStarted(int& seen);
  void StopThreads();

  IDispatcher& dispatcher_;
  const PortMap& ports_;
  DeviceFactory factory_;
  std::unique_ptr<ISerialDevice> device_;
  std::string devicePath_;
  std::string openError_;

  TComNumber comNumber_ = cnCOM2;
  TBaudRate baudRate_ = br19200;
  TParity parity_ = paNone;
  TStopBits stopBits_ = sb1_0;
  TDataBits dataBits_ = db8;
  bool lineAccepted_ = true;

  std::atomic<bool> closing_{false};
  std::atomic<bool> open_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> cts_{false}, dsr_{false}, rlsd_{false}, ring_{false};
  bool linesKnown_ = true;      // status thread only; false: the device has no modem lines
  SerialModemLines lastLines_;  // status thread only
  // Which events have a handler, taken at Open: workers never touch the
  // handlers themselves.  Assign handlers while the port is closed.
  std::atomic<unsigned> handlers_{0};
  std::atomic<unsigned> session_{0};

  std::mutex outLock_, inLock_;
  std::vector<std::uint8_t> outBuf_, inBuf_;
  int outBuffSize_ = 4096, inBuffSize_ = 4096;
  std::atomic<int> outCount_{0}, inCount_{0};

  // Thread start/stop signals and the wake-ups of the reader and writer.
  std::mutex sigMu_;
  std::condition_variable_any sigCv_;
  int started_ = 0;
  bool readNow_ = false;
  bool writeNow_ = false;
  int readPasses_ = 0;      // reader passes so far
  bool inputFull_ = false;  // the last pass left bytes it had no room for

  std::jthread status_, reader_, writer_;
  int inHandler_ = 0;  // main thread only: depth of port events being run
  bool finishPosted_ = false;
  std::shared_ptr<int> alive_;
};

// The component as placed on a form: the base with its settings and events.
class TCommPort : public TCustomCommPort {
 public:
  using TCustomCommPort::TCustomCommPort;
};

}  // namespace zv

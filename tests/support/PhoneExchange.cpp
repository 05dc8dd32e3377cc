#include "support/PhoneExchange.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace zv::test {

namespace {
using Clock = std::chrono::steady_clock;
constexpr char kDLE = 16;
constexpr char kETX = 3;
constexpr auto kRingEvery = std::chrono::seconds(2);
constexpr auto kEscapeGuard = std::chrono::milliseconds(500);
constexpr auto kAnswerDelay = std::chrono::milliseconds(200);
constexpr std::size_t kVoiceRate = 8000;       // bytes a second a subscriber hears
constexpr std::size_t kHeardBeforeKeys = 400;  // voice heard before the digits come
constexpr std::size_t kPeerBacklog = 256 * 1024;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

struct PhoneExchange::Modem {
  std::string number, path;
  bool cable = false;  // an end of a direct cable, not a modem
  int master = -1, slaveKeep = -1;
  bool echo = false;
  int fclass = 0;
  enum class Mode { Command, Online, VoiceTx, VoiceRx } mode = Mode::Command;
  enum class Call { Idle, Dialling, Ringing, Modem, Voice } call = Call::Idle;
  Modem* peer = nullptr;   // the other modem of a data call (or the caller)
  std::string subscriber;  // the voice subscriber of a voice call
  std::string line;        // command line being typed
  bool voiceDle = false;   // a DLE in the voice data, its code to come
  std::string toHost;      // bytes for the host not yet written
  std::vector<std::string> commands;
  std::size_t dataSent = 0;
  bool keyed = false;
  Clock::time_point lastInput{}, nextRing{}, answerAt{}, voiceStart{}, voiceRxNext{};
  bool escape = false;  // "+++" came after a pause; a pause after it ends the call's data
  std::size_t voiceTaken = 0;
  bool pull = false;  // to be pulled out by the exchange's thread
};

PhoneExchange::PhoneExchange() {
  thread_ = std::thread([this] { Run(); });
}

PhoneExchange::~PhoneExchange() {
  {
    std::lock_guard lk(mu_);
    stop_ = true;
  }
  thread_.join();
  for (auto& m : modems_) {
    if (m->master >= 0) ::close(m->master);
    if (m->slaveKeep >= 0) ::close(m->slaveKeep);
  }
}

std::string PhoneExchange::AddModem(const std::string& number) {
  auto m = std::make_unique<Modem>();
  m->number = number;
  const std::string path = Open(*m);
  std::lock_guard lk(mu_);
  modems_.push_back(std::move(m));
  return path;
}

std::pair<std::string, std::string> PhoneExchange::AddCable() {
  auto a = std::make_unique<Modem>(), b = std::make_unique<Modem>();
  a->cable = b->cable = true;
  a->peer = b.get();
  b->peer = a.get();
  std::pair<std::string, std::string> paths{Open(*a), Open(*b)};
  std::lock_guard lk(mu_);
  modems_.push_back(std::move(a));
  modems_.push_back(std::move(b));
  return paths;
}

std::string PhoneExchange::Open(Modem& mr) {
  Modem* m = &mr;
  m->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m->master < 0 || ::grantpt(m->master) != 0 || ::unlockpt(m->master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  char name[128];
  if (::ptsname_r(m->master, name, sizeof name) != 0) throw std::runtime_error("ptsname");
  m->path = name;
  // Held open so that the master never sees a hang-up while the host closes
  // and reopens its side.
  m->slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  return name;
}

void PhoneExchange::AddSubscriber(const std::string& number, Subscriber subscriber) {
  std::lock_guard lk(mu_);
  subscribers_[number] = std::move(subscriber);
}

std::vector<std::string> PhoneExchange::Dialled() const {
  std::lock_guard lk(mu_);
  return dialled_;
}

std::vector<std::string> PhoneExchange::Commands(const std::string& modem) const {
  std::lock_guard lk(mu_);
  for (const auto& m : modems_)
    if (m->number == modem) return m->commands;
  return {};
}

std::size_t PhoneExchange::DataSent(const std::string& modem) const {
  std::lock_guard lk(mu_);
  for (const auto& m : modems_)
    if (m->number == modem) return m->dataSent;
  return 0;
}

std::size_t PhoneExchange::VoiceHeard(const std::string& subscriber) const {
  std::lock_guard lk(mu_);
  const auto it = heard_.find(subscriber);
  return it == heard_.end() ? 0 : it->second;
}

bool PhoneExchange::Connected(const std::string& modem) const {
  std::lock_guard lk(mu_);
  for (const auto& m : modems_)
    if (m->number == modem) return m->call == Modem::Call::Modem;
  return false;
}

bool PhoneExchange::WaitFor(const std::function<bool()>& pred, int timeoutMs) const {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

PhoneExchange::Modem* PhoneExchange::ByPath(const std::string& path) {
  for (auto& m : modems_)
    if (m->path == path) return m.get();
  return nullptr;
}

void PhoneExchange::Unplug(const std::string& path) {
  {
    std::lock_guard lk(mu_);
    Modem* m = ByPath(path);
    if (!m) return;
    m->pull = true;
  }
  // The exchange's own thread closes it, between two of its passes.
  WaitFor([&] {
    std::lock_guard lk(mu_);
    const Modem* m = ByPath(path);
    return !m || m->master < 0;
  });
}

std::string PhoneExchange::Replug(const std::string& path) {
  std::lock_guard lk(mu_);
  Modem* m = ByPath(path);
  if (!m || m->master >= 0) return path;
  const std::string number = m->number;
  const bool cable = m->cable;
  Modem* peer = m->peer;
  *m = Modem{};
  m->number = number;
  m->cable = cable;
  if (cable) m->peer = peer;
  return Open(*m);
}

PhoneExchange::Modem* PhoneExchange::FindModem(const std::string& number) {
  for (auto& m : modems_)
    if (m->number == number) return m.get();
  return nullptr;
}

void PhoneExchange::ToHost(Modem& m, const std::string& bytes) {
  m.toHost += bytes;
}

void PhoneExchange::Reply(Modem& m, const std::string& text) {
  ToHost(m, "\r\n" + text + "\r\n");
}

void PhoneExchange::Run() {
  for (;;) {
    std::vector<pollfd> fds;
    {
      std::lock_guard lk(mu_);
      if (stop_) return;
      for (const auto& m : modems_) {
        if (m->pull) {
          // The device goes: the host's side hangs up, and no one else holds it.
          if (!m->cable) HangUp(*m, true);
          ::close(m->master);
          ::close(m->slaveKeep);
          m->master = m->slaveKeep = -1;
          m->toHost.clear();
          m->pull = false;
        }
        short events = 0;
        // A sender waits while its peer's host has not taken what it sent.
        const bool blocked =
            m->peer && m->mode == Modem::Mode::Online && m->peer->toHost.size() > kPeerBacklog;
        if (!blocked) events |= POLLIN;
        if (!m->toHost.empty()) events |= POLLOUT;
        fds.push_back({m->master, events, 0});
      }
    }
    if (fds.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    ::poll(fds.data(), fds.size(), 10);
    std::lock_guard lk(mu_);
    for (std::size_t i = 0; i < fds.size() && i < modems_.size(); ++i) {
      Modem& m = *modems_[i];
      if (fds[i].revents & POLLIN) {
        std::size_t want = 4096;
        if (m.mode == Modem::Mode::VoiceTx) {
          // Voice is heard no faster than it is spoken.
          const auto ms =
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m.voiceStart)
                  .count();
          const std::size_t allowed = static_cast<std::size_t>(ms) * kVoiceRate / 1000 + 256;
          want = allowed > m.voiceTaken ? std::min<std::size_t>(allowed - m.voiceTaken, 4096) : 0;
        }
        if (want > 0) {
          char buf[4096];
          const ssize_t n = ::read(m.master, buf, want);
          if (n > 0) Input(m, buf, static_cast<std::size_t>(n));
        }
      }
      if (!m.toHost.empty() && m.master >= 0) {
        const ssize_t n = ::write(m.master, m.toHost.data(), m.toHost.size());
        if (n > 0) m.toHost.erase(0, static_cast<std::size_t>(n));
      }
    }
    Pass();
  }
}

// What happens with time: rings, answers, the recorded voice of AT+VRX.
void PhoneExchange::Pass() {
  const auto now = Clock::now();
  for (auto& mp : modems_) {
    Modem& m = *mp;
    if (m.call == Modem::Call::Ringing && now >= m.nextRing) {
      Reply(m, "RING");
      m.nextRing = now + kRingEvery;
    }
    if (m.call == Modem::Call::Dialling && !m.subscriber.empty() && now >= m.answerAt) {
      // A subscriber picks up; a data modem cannot talk to a telephone.
      if (m.fclass == 8) {
        m.call = Modem::Call::Voice;
        Reply(m, "VCON");
      } else {
        m.call = Modem::Call::Idle;
        m.subscriber.clear();
        Reply(m, "NO CARRIER");
      }
    }
    if (m.escape && now - m.lastInput >= kEscapeGuard) {
      m.escape = false;
      m.mode = Modem::Mode::Command;
      Reply(m, "OK");
    }
    if (m.mode == Modem::Mode::VoiceRx && now >= m.voiceRxNext) {
      ToHost(m, std::string(800, '\x80'));  // silence, a tenth of a second of it
      m.voiceRxNext = now + std::chrono::milliseconds(100);
    }
  }
}

void PhoneExchange::Input(Modem& m, const char* data, std::size_t n) {
  if (m.cable) {
    if (m.peer) ToHost(*m.peer, std::string(data, n));
    m.dataSent += n;
    return;
  }
  const auto now = Clock::now();
  const bool afterPause = now - m.lastInput >= kEscapeGuard;
  m.lastInput = now;
  if (m.mode == Modem::Mode::Online) {
    // "+++" between two pauses is the escape to command mode; anything that
    // follows it sooner, a carriage return too, makes it data.
    if (afterPause && n == 3 && std::string(data, 3) == "+++") {
      m.escape = true;
      return;
    }
    std::string bytes = m.escape ? "+++" : "";
    m.escape = false;
    bytes.append(data, n);
    if (m.peer) ToHost(*m.peer, bytes);
    m.dataSent += bytes.size();
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const char c = data[i];
    if (m.mode == Modem::Mode::VoiceTx) {
      ++m.voiceTaken;
      if (m.voiceDle) {
        m.voiceDle = false;
        if (c == kETX) {  // the end of the voice data (also after DLE CAN)
          m.mode = Modem::Mode::Command;
          Reply(m, "OK");
        } else if (c == kDLE && !m.subscriber.empty()) {
          ++heard_[m.subscriber];
        }
        continue;
      }
      if (c == kDLE) {
        m.voiceDle = true;
        continue;
      }
      if (m.subscriber.empty()) continue;
      std::size_t& heard = ++heard_[m.subscriber];
      const auto sub = subscribers_.find(m.subscriber);
      if (!m.keyed && heard >= kHeardBeforeKeys && sub != subscribers_.end()) {
        m.keyed = true;
        for (char d : sub->second.digits) ToHost(m, std::string{kDLE, d});
      }
      continue;
    }
    if (m.mode == Modem::Mode::VoiceRx) {
      // Recording: the host stops it with DLE "!".
      if (m.voiceDle && c == '!') {
        m.mode = Modem::Mode::Command;
        ToHost(m, std::string{kDLE, kETX});
        Reply(m, "OK");
      }
      m.voiceDle = c == kDLE;
      continue;
    }
    if (m.mode == Modem::Mode::Online) {
      if (m.peer) ToHost(*m.peer, std::string(data + i, n - i));
      m.dataSent += n - i;
      return;
    }
    if (c == '\r') {
      const std::string line = m.line;
      m.line.clear();
      if (m.echo) ToHost(m, line + "\r");
      CommandLine(m, line);
    } else if (c != '\n') {
      m.line += c;
    }
  }
}

void PhoneExchange::HangUp(Modem& m, bool tellPeer) {
  if (m.peer) {
    Modem& p = *m.peer;
    p.peer = nullptr;
    if (p.call == Modem::Call::Modem && tellPeer) {
      p.mode = Modem::Mode::Command;
      Reply(p, "NO CARRIER");
    }
    p.call = Modem::Call::Idle;
  }
  m.peer = nullptr;
  m.subscriber.clear();
  m.call = Modem::Call::Idle;
  m.mode = Modem::Mode::Command;
}

void PhoneExchange::CommandLine(Modem& m, const std::string& raw) {
  if (raw.empty()) return;
  m.commands.push_back(raw);
  const std::string line = Upper(raw);
  if (line.rfind("AT", 0) != 0) return;  // not a command: ignored
  const std::string cmd = line.substr(2);
  if (cmd == "E0" || cmd == "E1") {
    m.echo = cmd == "E1";
    Reply(m, "OK");
  } else if (cmd.rfind("+FCLASS=", 0) == 0) {
    m.fclass = std::atoi(cmd.c_str() + 8);
    Reply(m, "OK");
  } else if (cmd.rfind("D", 0) == 0) {
    std::string number = raw.substr(3);
    if (!number.empty() &&
        (number[0] == 'T' || number[0] == 'P' || number[0] == 't' || number[0] == 'p'))
      number.erase(0, 1);
    dialled_.push_back(number);
    if (subscribers_.count(number)) {
      m.call = Modem::Call::Dialling;
      m.subscriber = number;
      m.keyed = false;
      m.answerAt = Clock::now() + kAnswerDelay;
      return;
    }
    Modem* other = FindModem(number);
    if (!other || other == &m || other->call != Modem::Call::Idle) {
      Reply(m, "BUSY");
      return;
    }
    m.call = Modem::Call::Dialling;
    m.peer = other;
    other->call = Modem::Call::Ringing;
    other->peer = &m;
    other->nextRing = Clock::now();
  } else if (cmd == "A") {
    Modem* caller = m.peer;
    if (m.call != Modem::Call::Ringing || !caller || m.fclass != 0 || caller->fclass != 0) {
      Reply(m, "NO CARRIER");
      return;
    }
    m.call = caller->call = Modem::Call::Modem;
    m.mode = caller->mode = Modem::Mode::Online;
    Reply(m, "CONNECT 33600");
    Reply(*caller, "CONNECT 33600");
  } else if (cmd == "H" || cmd == "H0") {
    HangUp(m, true);
    Reply(m, "OK");
  } else if (cmd == "+VTX") {
    if (m.fclass != 8) {
      Reply(m, "ERROR");
      return;
    }
    m.mode = Modem::Mode::VoiceTx;
    m.voiceDle = false;
    m.voiceStart = Clock::now();
    m.voiceTaken = 0;
    Reply(m, "CONNECT");
  } else if (cmd == "+VRX") {
    if (m.fclass != 8) {
      Reply(m, "ERROR");
      return;
    }
    m.mode = Modem::Mode::VoiceRx;
    m.voiceDle = false;
    m.voiceRxNext = Clock::now();
    Reply(m, "CONNECT");
  } else {
    Reply(m, "OK");  // everything else a voice modem takes (ATZ, AT+VLS, AT+VSM ...)
  }
}

}  // namespace zv::test

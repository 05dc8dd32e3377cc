#include <cstdio>
#include <exception>
#include <filesystem>

#include "link/Link.h"

namespace zv {

SiteDispatch::SiteDispatch(LinkSubsystem& link) : l_(link) {}

void SiteDispatch::CountAlarmSecond() {
  ++l_.st.Timer4Tag;
}

void SiteDispatch::TickSteps(bool quiet) {
  LinkContext& c = l_.ctx;
  LinkState& st = l_.st;
  SiteStatus& site = c.site;
  // The reaction delay: the owner's time to disarm.
  bool trigger = false;
  if (quiet) {
    c.timer4.SetEnabled(false);
    st.Timer4Tag = 0;
  } else {
    if (!c.timer4.Enabled()) c.timer4.SetEnabled(true);
    trigger = st.Timer4Tag >= c.form.DefenceOffDelay.Value();
  }
  if (!site.Armed) {
    // Disarmed: the dispatch is over, and so is its sound recording.
    if (site.DispatchActive || (l_.Player() && l_.Player()->Recording())) {
      site.DispatchActive = false;
      if (IMediaPlayer* p = l_.Player(); p && p->Recording()) p->Save();
    }
    return;
  }

  TAbonentArray& ab = c.settings.Abonents;
  const int count = std::min(c.settings.AbonentsCount, kMaxAbonents);
  const TDateTime now = c.services.clock.Now();
  if (!trigger) {
    bool done = true;
    for (int i = 1; i <= count; ++i)
      if (!ab[static_cast<std::size_t>(i)].Reached && !ab[static_cast<std::size_t>(i)].GaveUp)
        done = false;
    if (done) {
      site.DispatchActive = false;
      StopSound();
    }
    if (st.Timer3Tag > l_.ClientTestCallPeriod.Value() * 60 && !st.CallInProgress) ServiceCall();
  } else if (!site.DispatchActive) {
    site.DispatchActive = true;
    st.AlarmStart = now;
    for (int i = 1; i <= count; ++i) {
      TAbonentRecord& a = ab[static_cast<std::size_t>(i)];
      a.Reached = false;
      a.GaveUp = false;
      a.Attempts = 0;
    }
    if (c.form.RecordSound.Checked()) StartSoundRecording();
  }
  if (!site.DispatchActive) return;
  for (int i = 1; i <= count; ++i) {
    // A disarm (by DTMF during the call before, by the station, at the
    // keyboard) ends the dispatch at once: nobody else is called.
    if (!Dispatching()) return;
    TAbonentRecord& a = ab[static_cast<std::size_t>(i)];
    try {
      const TDateTime t = c.services.clock.Now();
      if (!a.Reached && !a.GaveUp && !st.CallInProgress &&
          (a.Attempts == 0 || t - a.LastAttemptTime > a.RecallDelay * kOneSecond)) {
        st.CallInProgress = true;
        ++a.Attempts;
        a.LastAttemptTime = t;
        l_.ModemProfile1.DialTimeOut = a.WaitAnswerTimeout;
        struct Clear {
          LinkState& st;
          bool& calling;
          ~Clear() {
            calling = false;
            // A voice call is over when it returns; a data call to the
            // station lasts until its connection ends.
            if (!st.DataConnected) st.CallInProgress = false;
          }
        } clear{st, dispatchCall_};
        dispatchCall_ = true;
        callStopped_ = false;
        lastCallPoll_ = c.services.clock.TickMs();
        if (a.ConnectToServerMode)
          a.Reached = ServerCall(a.PhoneNumber);
        else
          a.Reached = VoiceCall(a.VoiceFile, true, a.PhoneNumber);
      }
      c.services.pump.ProcessEvents();
      // DTMF digits the call left queued in the modem count before the next.
      if (!l_.VoiceModem1.InUse()) l_.VoiceModem1.ProcessEvents();
      if (l_.Closing()) return;
      if (!a.Reached && c.services.clock.Now() - st.AlarmStart > a.RecallTime * kOneMinute)
        a.GaveUp = true;
    } catch (const ModemAbort&) {
      c.journal.ReportError("Модем занят", jcDispatchCall, 1);
    } catch (const std::exception& e) {
      c.journal.ReportError(e.what(), jcDispatchCall, 1);
    }
  }
}

bool SiteDispatch::Dispatching() const {
  const SiteStatus& site = l_.ctx.site;
  return site.Armed && site.DispatchActive;
}

void SiteDispatch::StopCallIfDisarmed() {
  if (!dispatchCall_ || callStopped_ || Dispatching()) return;
  callStopped_ = true;
  l_.VoiceModem1.Stop();
}

void SiteDispatch::PollDuringCall() {
  if (!dispatchCall_) return;
  const std::uint64_t now = l_.ctx.services.clock.TickMs();
  if (now - lastCallPoll_ < 1000) return;
  lastCallPoll_ = now;
  // A door opened and closed while a subscriber is being called is
  // journaled as it happens, not lost between two beats.
  l_.ctx.defence.PollNow();
}

void SiteDispatch::ServiceCall() {
  LinkContext& c = l_.ctx;
  c.journal.AddJournal("Служебный звонок на сервер", jkDevice, jeServiceCall,
                       c.form.ObjNum.Value());
  l_.st.Timer3Tag = 0;
  const int kind = l_.CommKind();
  if (kind == 2) {
    if (l_.Client() && l_.Client()->Connected()) {
      l_.SendPictureMessage(1);
    } else {
      l_.ServiceCallPending = true;  // sent once the socket is up
      l_.Button1Click();             // which opens it
    }
  } else if (kind == 1) {
    l_.SendPictureMessage(1, true);
  }
}

void SiteDispatch::StartSoundRecording() {
  LinkContext& c = l_.ctx;
  try {
    IMediaPlayer* p = l_.Player();
    if (!p) throw std::runtime_error("нет устройства записи звука");
    if (p->Playing()) p->Stop();
    std::string why;
    if (!p->StartRecording(l_.SoundFile(), why)) throw std::runtime_error(why);
  } catch (const std::exception& e) {
    c.journal.AddFailure(e.what(), jcRecording);
  }
}

void SiteDispatch::StopSound() {
  IMediaPlayer* p = l_.Player();
  if (!p) return;
  if (p->Playing()) p->Stop();
  if (p->Recording()) p->Save();
}

void SiteDispatch::LockModem() {
  if (!l_.VoiceModem1.Acquire(this)) throw ModemAbort{};
}

void SiteDispatch::UnlockModem() {
  l_.VoiceModem1.Release();
}

int SiteDispatch::EnterVoice() {
  TVoiceModem& m = l_.VoiceModem1;
  if (!m.IsOpen()) return -1;
  LockModem();
  int r;
  if (l_.st.VoiceEntries == 0) {
    // Both steps must succeed for the modem to be in voice mode.
    r = m.VoiceModeOn();
    if (r == 0) r = m.InitVoice();
  } else {
    r = m.RestoreVoiceMode();
  }
  UnlockModem();
  if (r == 0) {
    l_.st.ModemDataMode = false;
    ++l_.st.VoiceEntries;
  }
  return r;
}

int SiteDispatch::LeaveVoice() {
  LockModem();
  const int r = l_.VoiceModem1.VoiceModeOff();
  UnlockModem();
  l_.st.ModemDataMode = true;
  return r;
}

bool SiteDispatch::VoiceCall(const std::string& file, bool onLine, const std::string& number) {
  if (file.empty()) return true;
  LinkContext& c = l_.ctx;
  TVoiceModem& m = l_.VoiceModem1;
  if (EnterVoice() != 0) {
    LeaveVoice();
    return false;
  }
  bool dialled = true, played = false;
  LockModem();
  {
    struct Unlock {
      SiteDispatch& d;
      LinkContext& c;
      bool numbered;
      ~Unlock() {
        d.UnlockModem();
        if (numbered) c.journal.ShowStatus("Завершение соединения", jkNotice, 1);
      }
    } unlock{*this, c, !number.empty()};
    m.SetDevice(onLine ? 2 : l_.ModemProfile1.PlayDevice);
    if (!number.empty()) {
      c.journal.ShowStatus("Исходящий голосовой звонок (" + number + ")", jkNotice, 1);
      l_.ApplyDialMode();
      dialled = m.Dial(number) == 0;
    }
    if (dialled && callStopped_) dialled = false;  // disarmed meanwhile: nothing to say
    if (dialled) {
      m.Wait(2000);
      c.capture.SetPreview(true);
      played = m.PlayFile(file) == 0;
      // Back to the mode the capture was in: frames keep coming (unless the
      // live video shows the card's own picture), or the site would detect,
      // record and send nothing after its first call.
      c.capture.SetPreview(!c.capture.Overlay());
    }
    if (!number.empty()) m.HangUp();
  }
  const int left = LeaveVoice();
  return dialled && played && left == 0;
}

bool SiteDispatch::RecordVoice(const std::string& file, bool onLine, bool* recorded) {
  bool ok = false;
  if (EnterVoice() == 0) {
    LockModem();
    l_.VoiceModem1.SetDevice(onLine ? 2 : l_.ModemProfile1.RecDevice);
    // A recording ends by a stop (silence, its time limit, the stop button).
    const int r = l_.VoiceModem1.RecordFile(file);
    ok = r == 0 || r == kStopped;
    UnlockModem();
  }
  if (recorded) *recorded = ok;
  return LeaveVoice() == 0 && ok;
}

bool SiteDispatch::ServerCall(const std::string& number) {
  LinkContext& c = l_.ctx;
  int r = LeaveVoice();
  if (r != 0) return false;
  LockModem();
  l_.ModemProfile1.DialTimeOut = 90;
  if (!number.empty()) {
    c.journal.ShowStatus("Исходящий звонок на сервер (" + number + ")", jkNotice, 1);
    l_.ApplyDialMode();
    r = l_.VoiceModem1.Dial(number);
  }
  UnlockModem();
  if (r != 0 && r != -1) {
    l_.st.DataConnected = false;
    if (!number.empty())
      c.journal.ShowStatus("Завершение соединения" + std::to_string(r), jkNotice, 1);
  }
  if (r == 0 && !number.empty()) {
    // The station answered: pictures go over this connection until it ends
    // (the station hangs up) or its time-out ends it.
    l_.st.RingTime = c.services.clock.Now();
    l_.DataConnectionUp(l_.ConnectLine().empty() ? std::string("CONNECT") : l_.ConnectLine());
  }
  return r == 0;
}

void SiteDispatch::VoiceModem1Event(ModemEvent event, TEventData data, int& result) {
  if (event == ModemEvent::Dtmf && !l_.ServerMode()) TakeDtmfDigit(static_cast<char>(data.value));
  // The last event on the status bar's second panel.
  l_.ctx.journal.SetStatus(1,
                           std::to_string(EventCode(event)) + " " + std::to_string(data.value) +
                               " " + std::to_string(result),
                           0, colors::clNavy, jkInfo, 0);
}

void SiteDispatch::TakeDtmfDigit(char digit) {
  LinkContext& c = l_.ctx;
  LinkState& st = l_.st;
  st.DtmfBuffer += digit;
  // The codes are looked for among the digits so far, and guessing is
  // limited: three wrong codes end the call, and after repeated failed
  // calls no code is taken for a while.
  const DtmfLockout::Result r =
      DtmfLock.Digit(digit, c.site.Armed, c.form.DefenceOnDTMF.Text(), c.form.DefenceOffDTMF.Text(),
                     c.services.clock.TickMs());
  for (const auto& line : r.journal)
    c.journal.AddJournal(line.text, line.kind == 3 ? jkAlarm : jkNotice);
  switch (r.verdict) {
    case DtmfLockout::Verdict::Arm:
      st.DtmfBuffer.clear();
      if (c.defence.PollNow()) {
        l_.VoiceModem1.PlayDTMF("3");
        c.defence.RemoteSwitchMode();
      } else {
        l_.VoiceModem1.PlayDTMF("9*9*9*");
      }
      break;
    case DtmfLockout::Verdict::Disarm:
      st.DtmfBuffer.clear();
      c.defence.RemoteSwitchMode();
      break;
    case DtmfLockout::Verdict::Refused:
      st.DtmfBuffer.clear();
      break;
    case DtmfLockout::Verdict::HangUp:
      // The modem is busy with the event that brought the digit: the
      // heartbeat hangs up.
      st.DtmfBuffer.clear();
      st.HangUpDue = true;
      break;
    case DtmfLockout::Verdict::None:
    case DtmfLockout::Verdict::WrongCode:
      break;
  }
}

void SiteDispatch::WaveTestClick() {
  l_.RecStopBtn.SetVisible(true);
  try {
    VoiceCall(l_.WaveFile.Text(), false, "");
  } catch (const ModemAbort&) {
  }
  l_.RecStopBtn.SetVisible(false);
}

void SiteDispatch::WaveRecClick() {
  const std::string file = l_.WaveFile.Text();
  std::error_code ec;
  std::string bak;
  if (!file.empty() && std::filesystem::exists(file, ec)) {
    const std::string b = std::filesystem::path(file).replace_extension(".bak").string();
    if (!std::filesystem::exists(b, ec)) {
      std::filesystem::rename(file, b, ec);
      if (!ec) bak = b;
    }
  }
  l_.RecStopBtn.SetVisible(true);
  bool recorded = false;
  try {
    RecordVoice(file, false, &recorded);
  } catch (const ModemAbort&) {
  }
  l_.RecStopBtn.SetVisible(false);
  if (recorded) return;
  // No new message (no modem, a full disk): the subscribers keep hearing
  // the one they had, not a broken file or none.
  if (!bak.empty()) {
    std::filesystem::remove(file, ec);
    std::filesystem::rename(bak, file, ec);
  }
  l_.ctx.journal.ReportError("Голосовое сообщение \"" + file + "\" не записано !", jcRecording, 1);
}

void SiteDispatch::RecStopBtnClick() {
  l_.VoiceModem1.Stop();
}

}  // namespace zv

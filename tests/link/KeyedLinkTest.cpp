// The link with keys, site and station as whole programs on the in-memory
// network: a keyed pair works, mismatched and missing keys are refused on
// both sides, an attacker's recorded, changed, repeated or cut records act
// on nothing, and the limits on connections hold with or without a key.
#include <sys/stat.h>

#include <functional>

#include "link/MemLinkFixture.h"
#include "link/secure/SecureChannel.h"

namespace zv::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kKey1 = "00112233445566778899aabbccddeeff00112233445566778899aabbccddee01";
const std::string kKey2 = "f0e1d2c3b4a5968778695a4b3c2d1e0ff0e1d2c3b4a5968778695a4b3c2d1e02";

LinkKey Key(const std::string& text) {
  LinkKey k;
  EXPECT_EQ(LinkKey::Parse(text, k), KeyTextError::Ok);
  return k;
}

// A picture message with only the status block: the site armed or not.
Bytes StatusMessage(int objId, bool armed) {
  Bytes m = BuildHeader(19 + 4, link::mtPicture, static_cast<std::uint8_t>(objId), 1, 0xFF, 0);
  m.insert(m.end(), {static_cast<std::uint8_t>(armed ? 1 : 0), 0, 0, 0});
  return m;
}

// Someone with a socket to the station who speaks the secure link through
// the engine, and records every byte it sends.
struct Speaker {
  std::unique_ptr<INetClient> socket;
  std::unique_ptr<SecureChannel> channel;
  Bytes sent;
  void Flush() {
    ByteBuffer& out = channel->Outbox();
    if (out.empty()) return;
    sent.insert(sent.end(), out.data(), out.data() + out.size());
    socket->Send(out.data(), out.size());
    out.clear();
  }
  void SendRaw(const Bytes& b) {
    sent.insert(sent.end(), b.begin(), b.end());
    socket->Send(b.data(), b.size());
  }
};

class KeyedLinkTest : public MemLinkFixture {
 protected:
  TObjectRecord& Obj(int i) { return a_->app->settings.Objects[static_cast<std::size_t>(i)]; }

  // A session as a site with this Object ID and key; established when the
  // station proved the key.
  std::unique_ptr<Speaker> Speak(std::uint32_t id, const std::string& key) {
    auto s = std::make_unique<Speaker>();
    s->socket = Raw();
    s->channel = std::make_unique<SecureChannel>(id, Key(key), ChannelOptions::Network(),
                                                 loop.clock.TickMs());
    Speaker* sp = s.get();
    s->socket->OnData = [this, sp] {
      std::uint8_t buf[4096];
      while (std::size_t n = sp->socket->Read(buf, sizeof buf))
        sp->channel->Receive(buf, n, loop.clock.TickMs());
      sp->Flush();
    };
    s->channel->Start(loop.clock.TickMs());
    s->Flush();
    Settle();
    return s;
  }

  // A sealed record of plain, not sent.
  static Bytes Record(Speaker& s, const Bytes& plain) {
    EXPECT_TRUE(s.channel->Seal(plain));
    ByteBuffer& out = s.channel->Outbox();
    Bytes r(out.data(), out.data() + out.size());
    out.clear();
    return r;
  }

  bool NoKeyIn(const MemProgram& p, const std::string& key) {
    for (const auto& l : p.app->journal.View())
      if (l.text.find(key) != std::string::npos) return false;
    return true;
  }
};

TEST_F(KeyedLinkTest, KeyedSiteAndStationCarryPicturesStatusAndCommands) {
  a_ = Station(kKey1);
  b_ = Site(1, kKey1);
  Connect(*b_);
  Settle();
  EXPECT_EQ(a_->Count("Защищённая связь с объектом №1(Склад) (127.0.0.1) установлена (ключ #"), 1);
  EXPECT_EQ(b_->Count("Защищённая связь с сервером 127.0.0.1 установлена (ключ #"), 1);
  EXPECT_TRUE(Obj(1).LinkSecure);
  // The site introduced itself: armed, its picture in the Object's camera.
  EXPECT_TRUE(Obj(1).ArmedNow);
  EXPECT_GT(a_->link().ReceivedBytes(1), 0);
  b_->link().Button1Click();
  Settle();
  EXPECT_GT(a_->link().ReceivedBytes(2), 0);
  // The Object list marks only the Object without a key.
  EXPECT_EQ(a_->app->form.ObjectListBox.Mark(0), "");
  EXPECT_EQ(a_->app->form.ObjectListBox.Mark(1), Settings::kUnprotectedMark);
  EXPECT_EQ(a_->Count("без ключа связи: не защищена"), 0);

  // The operator's disarm goes through the sealed link.
  TCheckListBox& list = a_->app->form.ObjectListBox;
  list.SetChecked(0, false);
  list.OnClickCheck(0);
  Settle();
  EXPECT_FALSE(b_->site().Armed);

  // The key is in no journal line, and the settings file that holds it is
  // the owner's alone.
  EXPECT_TRUE(NoKeyIn(*a_, kKey1));
  EXPECT_TRUE(NoKeyIn(*b_, kKey1));
  for (auto* p : {&a_, &b_}) {
    (*p)->app->settings.SaveSettings();
    struct stat st {};
    ASSERT_EQ(::stat((*p)->dir.file("Zorvenix.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST_F(KeyedLinkTest, KeylessPairsWorkAsBeforeAndAreJournaledAsUnprotected) {
  a_ = Station();
  b_ = Site(2);
  Connect(*b_);
  Settle();
  EXPECT_TRUE(Obj(2).ArmedNow);
  EXPECT_EQ(a_->Count("Связь с объектом №2(Офис) (127.0.0.1) без ключа связи: не защищена"), 1);
  b_->link().Button1Click();
  Settle();
  EXPECT_EQ(a_->Count("без ключа связи: не защищена"), 1);  // once per connection
  EXPECT_EQ(a_->app->form.ObjectListBox.Mark(1), Settings::kUnprotectedMark);
  TCheckListBox& list = a_->app->form.ObjectListBox;
  list.SetChecked(1, false);
  list.OnClickCheck(1);
  Settle();
  EXPECT_FALSE(b_->site().Armed);
  // Without a key the settings file keeps its ordinary mode.
  a_->app->settings.SaveSettings();
  struct stat st {};
  ASSERT_EQ(::stat(a_->dir.file("Zorvenix.ini").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0077, 0u);
}

// Each pairing that cannot work is refused on both sides, each side's line
// says what to set, and the station acts on nothing the site sent.
TEST_F(KeyedLinkTest, MismatchedOrOneSidedKeysAreRefusedOnBothSides) {
  struct Case {
    std::string stationKey1, siteKey;
    int objNum;
    SecureFault station, site;
  };
  const Case cases[] = {
      {kKey1, kKey2, 1, SecureFault::RefusedMismatch, SecureFault::KeyMismatch},
      {kKey1, "", 1, SecureFault::PlainPeer, SecureFault::RefusedKeyNeeded},
      {"", kKey1, 1, SecureFault::NoKey, SecureFault::RefusedNoKey},
      {kKey1, kKey1, 7, SecureFault::UnknownObject, SecureFault::RefusedUnknown},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(SecureFaultName(k.station));
    a_ = Station(k.stationKey1);
    b_ = Site(k.objNum, k.siteKey);
    b_->link().Button1Click();
    Settle();
    b_->link().Button1Click();
    Settle();
    EXPECT_EQ(a_->Count(SecureFaultText(k.station, SecureRole::Station)), 1);
    EXPECT_EQ(b_->Count(SecureFaultText(k.site, SecureRole::Site)), 1);
    EXPECT_FALSE(Obj(1).ArmedNow);
    EXPECT_EQ(a_->link().ReceivedBytes(1), 0);
    EXPECT_FALSE(Obj(1).LinkSecure);
    Stop(b_);
    Stop(a_);
  }
}

TEST_F(KeyedLinkTest, ASiteClaimingAnotherObjectsIdProvesNothing) {
  // Object 2 has its own key; a site with Object 1's key says it is 2.
  a_ = Station(kKey1, kKey2);
  auto s = Speak(2, kKey1);
  EXPECT_FALSE(s->channel->Established());
  EXPECT_EQ(a_->Count(SecureFaultText(SecureFault::RefusedMismatch, SecureRole::Station)), 1);
  EXPECT_EQ(a_->link().ConnectionCount(), 0);
  EXPECT_FALSE(Obj(2).ArmedNow);
}

TEST_F(KeyedLinkTest, RecordedChangedRepeatedAndCutRecordsActOnNothing) {
  a_ = Station(kKey1);
  // A real session: its arming is taken.
  auto real = Speak(1, kKey1);
  ASSERT_TRUE(real->channel->Established());
  const Bytes armed = Record(*real, StatusMessage(1, true));
  real->SendRaw(armed);
  Settle();
  ASSERT_TRUE(Obj(1).ArmedNow);
  const long long handled = a_->link().MessagesHandled();

  // Its recording played again on a new connection: the station's fresh
  // nonce makes the recorded proof worthless.
  {
    auto replay = Raw();
    replay->Send(real->sent.data(), real->sent.size());
    Settle();
    EXPECT_EQ(a_->Count(SecureFaultText(SecureFault::ProofFailed, SecureRole::Station)), 1);
    EXPECT_FALSE(replay->Connected());
  }
  // A record sent again (an old counter) ends the session, unread.
  real->SendRaw(armed);
  Settle();
  EXPECT_EQ(a_->Count(SecureFaultText(SecureFault::Replayed, SecureRole::Station)), 1);
  EXPECT_FALSE(real->socket->Connected());

  // One byte changed in flight: the disarming is never acted on.
  auto changed = Speak(1, kKey1);
  ASSERT_TRUE(changed->channel->Established());
  Bytes disarm = Record(*changed, StatusMessage(1, false));
  disarm[disarm.size() - 20] ^= 0x01;
  changed->SendRaw(disarm);
  Settle();
  EXPECT_EQ(a_->Count(SecureFaultText(SecureFault::AuthFailed, SecureRole::Station)), 1);
  EXPECT_FALSE(changed->socket->Connected());

  // A record cut short by the end of the connection.
  auto cut = Speak(1, kKey1);
  ASSERT_TRUE(cut->channel->Established());
  const Bytes whole = Record(*cut, StatusMessage(1, false));
  cut->SendRaw(Bytes(whole.begin(), whole.begin() + 20));
  Settle();
  net.Kill(*cut->socket);
  Settle();
  EXPECT_EQ(a_->Count(SecureFaultText(SecureFault::Truncated, SecureRole::Station)), 1);

  // A record skipped: the next one's counter is ahead.
  auto skip = Speak(1, kKey1);
  ASSERT_TRUE(skip->channel->Established());
  Record(*skip, StatusMessage(1, false));
  skip->SendRaw(Record(*skip, StatusMessage(1, false)));
  Settle();
  EXPECT_EQ(a_->Count(SecureFaultText(SecureFault::OutOfOrder, SecureRole::Station)), 1);

  EXPECT_TRUE(Obj(1).ArmedNow);
  EXPECT_EQ(a_->link().MessagesHandled(), handled);
  EXPECT_EQ(a_->Count("Снятие с охраны"), 0);
}

TEST_F(KeyedLinkTest, ConnectionsAreCappedTimedAndBoundedWithOrWithoutAKey) {
  a_ = Station(kKey1, {}, "MaxConnections=3\r\n");
  auto c1 = Raw(), c2 = Raw(), c3 = Raw();
  auto c4 = net.CreateClient();
  c4->Open("127.0.0.1", kPort);
  Settle();
  EXPECT_EQ(a_->link().ConnectionCount(), 3);
  EXPECT_EQ(a_->Count("отклонено: открыто 3 соединений"), 1);

  // c1 begins a handshake and stops; c2 sends half a keyless message; c3
  // says nothing.  None of them is a site ten seconds on.
  const Bytes hello = [] {
    SecureChannel ch(1, Key(kKey1), ChannelOptions::Network(), 0);
    ch.Start(0);
    ByteBuffer& o = ch.Outbox();
    return Bytes(o.data(), o.data() + 20);
  }();
  c1->Send(hello.data(), hello.size());
  const Bytes half = StatusMessage(2, true);
  c2->Send(half.data(), 10);
  Settle();
  loop.clock.AdvanceMs(LinkSubsystem::kFirstMessageMs + 1000);
  a_->link().Heartbeat();
  Settle();
  EXPECT_EQ(a_->link().ConnectionCount(), 0);

  // Noise without end from what never became a site.
  auto noisy = Raw();
  const Bytes noise(64 * 1024, 0x55);
  for (int i = 0; i < 20 && noisy->Connected(); ++i) {
    noisy->Send(noise.data(), noise.size());
    Settle();
  }
  EXPECT_FALSE(noisy->Connected());
  EXPECT_EQ(a_->link().ConnectionCount(), 0);
}

// A full directory, every other Object with a key of its own: each site on
// its own connection arms its Object, and the list shows which are protected.
TEST_F(KeyedLinkTest, AHundredObjectsKeyedAndKeylessMixed) {
  auto keyOf = [](int id) {
    char text[65];
    for (int i = 0; i < 64; ++i) text[i] = "0123456789abcdef"[(id * 7 + i * 13) % 16];
    text[64] = 0;
    return std::string(text);
  };
  a_ = std::make_unique<MemProgram>();
  std::string ini =
      "[Main]\r\nServerMode=1\r\nObjectsCount=100\r\nLinkPort=" + std::to_string(kPort) +
      "\r\n[MainForm]\r\nServerCommType.ItemIndex=2\r\n";
  for (int id = 1; id <= 100; ++id)
    ini += "[Object" + std::to_string(id) + "]\r\nName=Объект " + std::to_string(id) +
           "\r\nID=" + std::to_string(id) + "\r\nCams=0\r\n" +
           (id % 2 == 0 ? "LinkKey=" + keyOf(id) + "\r\n" : std::string());
  WriteFile(a_->dir.file("Zorvenix.ini"), ini + Ports(a_->dir.path().string()));
  Start(*a_);

  std::vector<std::unique_ptr<Speaker>> keyed;
  std::vector<std::unique_ptr<INetClient>> keyless;
  for (int id = 1; id <= 100; ++id) {
    const Bytes armed = StatusMessage(id, true);
    if (id % 2 == 0) {
      keyed.push_back(Speak(static_cast<std::uint32_t>(id), keyOf(id)));
      ASSERT_TRUE(keyed.back()->channel->Established()) << id;
      keyed.back()->SendRaw(Record(*keyed.back(), armed));
    } else {
      keyless.push_back(Raw());
      keyless.back()->Send(armed.data(), armed.size());
    }
  }
  Settle();
  EXPECT_EQ(a_->link().ConnectionCount(), 100);
  const TCheckListBox& list = a_->app->form.ObjectListBox;
  for (int id = 1; id <= 100; ++id) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(Obj(id).ArmedNow);
    EXPECT_EQ(Obj(id).LinkSecure, id % 2 == 0);
    EXPECT_EQ(list.Mark(id - 1), id % 2 == 0 ? "" : Settings::kUnprotectedMark);
  }
  EXPECT_EQ(a_->Count("без ключа связи: не защищена"), 50);
  EXPECT_EQ(a_->Count("Защищённая связь с объектом"), 50);
}

}  // namespace
}  // namespace zv::test

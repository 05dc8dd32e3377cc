// The secure link between a site and its station, both ends in memory:
// every byte either end sends goes through the test, which may record,
// change, hold back, cut or replay it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "link/Protocol.h"
#include "link/secure/SecureChannel.h"

namespace zv {
namespace {

using Bytes = std::vector<std::uint8_t>;

LinkKey KeyOf(std::uint8_t seed) {
  std::uint8_t b[LinkKey::kSize];
  for (std::size_t i = 0; i < sizeof b; ++i) b[i] = static_cast<std::uint8_t>(seed + 7 * i + 1);
  return LinkKey::FromBytes(b);
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 8));
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One end of the link and what it saw.
struct End {
  std::unique_ptr<SecureChannel> ch;
  Bytes plain;
  std::vector<SecureFault> faults;
  std::vector<bool> repeated;
  int established = 0;
  Bytes wire;  // everything this end sent

  void Hook() {
    ch->OnPlain = [this](std::span<std::uint8_t> p) {
      plain.insert(plain.end(), p.begin(), p.end());
    };
    ch->OnFault = [this](SecureFault f, bool r) {
      faults.push_back(f);
      repeated.push_back(r);
    };
    ch->OnEstablished = [this] { ++established; };
  }
  Bytes TakeOut() {
    ByteBuffer& o = ch->Outbox();
    Bytes b(o.data(), o.data() + o.size());
    o.clear();
    wire.insert(wire.end(), b.begin(), b.end());
    return b;
  }
  bool Seal(const Bytes& b) { return ch->Seal(b); }
};

struct SecureLinkTest : ::testing::Test {
  std::uint64_t now = 5000;
  std::map<std::uint32_t, ObjectKey> objects{
      {7, {true, KeyOf(1)}}, {8, {true, KeyOf(2)}}, {9, {true, LinkKey()}}};
  End site, station;
  std::size_t chunk = 0;  // read size at the receiving end; 0: all at once
  // Called with the bytes in flight and how many went that way before.
  std::function<void(Bytes&, std::size_t)> toStation, toSite;
  std::size_t sentToStation = 0, sentToSite = 0;

  void MakeSite(std::uint32_t id, const LinkKey& key,
                ChannelOptions o = ChannelOptions::Network()) {
    site = End();
    site.ch = std::make_unique<SecureChannel>(id, key, std::move(o), now);
    site.Hook();
  }
  void MakeStation(ChannelOptions o = ChannelOptions::Network()) {
    station = End();
    station.ch = std::make_unique<SecureChannel>(
        [this](std::uint32_t id) {
          const auto it = objects.find(id);
          return it == objects.end() ? ObjectKey{} : it->second;
        },
        std::move(o), now);
    station.Hook();
  }
  void Deliver(End& to, const Bytes& b) {
    if (chunk == 0) {
      to.ch->Receive(b.data(), b.size(), now);
      return;
    }
    for (std::size_t i = 0; i < b.size(); i += chunk)
      to.ch->Receive(b.data() + i, std::min(chunk, b.size() - i), now);
  }
  // Moves bytes both ways until neither end has more to send.
  void Pump() {
    for (int round = 0; round < 50; ++round) {
      Bytes a = site.TakeOut(), b = station.TakeOut();
      if (a.empty() && b.empty()) return;
      if (!a.empty()) {
        if (toStation) toStation(a, sentToStation);
        sentToStation += a.size();
        Deliver(station, a);
      }
      if (!b.empty()) {
        if (toSite) toSite(b, sentToSite);
        sentToSite += b.size();
        Deliver(site, b);
      }
    }
    FAIL() << "the ends never stop talking";
  }
  void Connect(std::uint32_t id, const LinkKey& key, ChannelOptions o = ChannelOptions::Network()) {
    MakeSite(id, key, o);
    MakeStation(o);
    site.ch->Start(now);
    Pump();
  }
};

TEST_F(SecureLinkTest, KeyedEndsShakeHandsAndCarryTheLinkBothWays) {
  Connect(7, KeyOf(1));
  ASSERT_TRUE(site.ch->Established());
  ASSERT_TRUE(station.ch->Established());
  EXPECT_EQ(site.established, 1);
  EXPECT_EQ(station.established, 1);
  // The station knows which Object speaks: the one whose key was proven.
  EXPECT_EQ(station.ch->ObjectId(), 7);
  EXPECT_TRUE(site.faults.empty());
  EXPECT_TRUE(station.faults.empty());
  // Hello 48, reply 75, proof 43 bytes.
  EXPECT_EQ(site.wire.size(), 48u + 43u);
  EXPECT_EQ(station.wire.size(), 75u);

  // A 352 x 288 picture message, sealed as the sender sends it (header and
  // payload apart, straight from the picture), and two commands back.  At
  // the station the plaintext is opened straight into the receive assembler.
  std::vector<LinkMessage> got;
  Bytes payload;
  LinkAssembler assembler([&](const LinkMessage& m) {
    got.push_back(m);
    payload.assign(m.Payload, m.Payload + m.PayloadSize);
  });
  station.ch->PlainRoom = [&](std::size_t n) {
    return n <= assembler.Space() ? std::span<std::uint8_t>(assembler.WritePtr(), n)
                                  : std::span<std::uint8_t>();
  };
  station.ch->PlainCommit = [&](std::size_t n) { assembler.ReceiveBytes(n); };
  const Bytes picture = Pattern(304128, 3);
  const Bytes header = BuildHeader(304147, link::mtPicture, 7, 1, 0xFF, 0);
  ASSERT_TRUE(site.Seal(header));
  const std::size_t before = site.ch->Outbox().size();
  ASSERT_TRUE(site.Seal(picture));
  // Split into records, the size told beforehand (what a sender checks
  // against the room left on its line).
  EXPECT_EQ(site.ch->Outbox().size() - before, site.ch->SealedSize(picture.size()));
  ASSERT_TRUE(station.Seal(BuildCommand(true, 6)));
  ASSERT_TRUE(station.Seal(BuildCommand(false, 6)));
  // Sealing leaves the picture as it was and hides it on the line.
  EXPECT_EQ(picture, Pattern(304128, 3));
  const Bytes& out = Bytes(site.ch->Outbox().data(), site.ch->Outbox().data() + 200000);
  EXPECT_EQ(std::search(out.begin(), out.end(), picture.begin() + 1000, picture.begin() + 1032),
            out.end());
  Pump();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Length, 304147);
  EXPECT_EQ(got[0].Arg1, 7);
  EXPECT_EQ(payload, picture);
  EXPECT_EQ(site.plain, Concat({BuildCommand(true, 6), BuildCommand(false, 6)}));
  EXPECT_TRUE(site.faults.empty());
  EXPECT_TRUE(station.faults.empty());

  // In place, after what the outbox holds.
  Bytes buf(secure::kRecordHead + 19 + secure::kTagSize);
  const Bytes cmd = BuildCommand(true, 2);
  std::copy(cmd.begin(), cmd.end(), buf.begin() + secure::kRecordHead);
  ASSERT_TRUE(site.Seal(Bytes{1, 2, 3}));
  Bytes first = site.TakeOut();
  ASSERT_EQ(site.ch->SealInPlace(buf.data(), 19), buf.size());
  station.ch->PlainRoom = nullptr;
  station.plain.clear();
  Deliver(station, Concat({first, buf}));
  EXPECT_EQ(station.plain, Concat({Bytes{1, 2, 3}, cmd}));
}

TEST_F(SecureLinkTest, NothingIsSealedOrOpenedBeforeTheKeyIsProven) {
  MakeSite(7, KeyOf(1));
  MakeStation();
  EXPECT_FALSE(site.Seal(Bytes{1, 2, 3}));
  site.ch->Start(now);
  EXPECT_FALSE(site.Seal(Bytes{1, 2, 3}));
  Deliver(station, site.TakeOut());
  EXPECT_FALSE(station.Seal(BuildCommand(false, 0)));
  EXPECT_FALSE(station.ch->Established());
  EXPECT_EQ(station.ch->Outbox().size(), 75u);  // its reply only
}

TEST_F(SecureLinkTest, WrongKeyOrAnotherObjectsIdIsRefusedOnBothEnds) {
  struct Case {
    std::uint32_t id;
    std::uint8_t key;
  };
  // A wrong key for its own Object, and a site that claims Object 8 while
  // holding Object 7's key.
  for (const Case c : {Case{7, 5}, Case{8, 1}}) {
    SCOPED_TRACE(c.id);
    Connect(c.id, KeyOf(c.key));
    EXPECT_FALSE(site.ch->Established());
    EXPECT_FALSE(station.ch->Established());
    EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::KeyMismatch});
    EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::RefusedMismatch});
    EXPECT_EQ(site.ch->GetState(), SecureChannel::State::Closed);
    EXPECT_EQ(station.ch->GetState(), SecureChannel::State::Closed);
    EXPECT_FALSE(site.Seal(Bytes{1}));
  }

  // A peer that claims Object 7 and answers the reply with a made-up proof.
  MakeStation();
  Bytes hello(48);
  std::memcpy(hello.data(), "ZvxSec\x01\x25\0\0\0\x01\x07\0\0\0", 16);
  Deliver(station, hello);
  ASSERT_EQ(station.TakeOut().size(), 75u);
  Bytes proof(43);
  std::memcpy(proof.data(), "ZvxSec\x03\x20\0\0\0", 11);
  Deliver(station, Concat({proof, Bytes(60, 0)}));
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::ProofFailed});
  EXPECT_TRUE(station.plain.empty());
}

TEST_F(SecureLinkTest, StationWithoutTheObjectOrItsKeyRefusesAndTheSiteSaysWhatToSet) {
  Connect(9, KeyOf(1));  // known, without a key
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::NoKey});
  EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::RefusedNoKey});
  Connect(42, KeyOf(1));  // unknown
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::UnknownObject});
  EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::RefusedUnknown});
  EXPECT_EQ(station.ch->ObjectId(), 42);  // the claim, for the journal

  // Every fault has its text for both ends.
  for (int f = 1; f <= static_cast<int>(SecureFault::Oversize); ++f)
    for (SecureRole r : {SecureRole::Site, SecureRole::Station})
      EXPECT_FALSE(SecureFaultText(static_cast<SecureFault>(f), r).empty()) << f;
}

TEST_F(SecureLinkTest, ARecordedSessionReplayedToFreshEndsNeverCompletes) {
  Connect(7, KeyOf(1));
  ASSERT_TRUE(site.Seal(BuildCommand(false, 0)));  // pretend: a site's status
  ASSERT_TRUE(station.Seal(BuildCommand(false, 6)));
  Pump();
  const Bytes fromSite = site.wire, fromStation = station.wire;

  // The site's half to a new station connection.
  End replayed;
  std::swap(replayed, station);
  MakeStation();
  Deliver(station, fromSite);
  EXPECT_FALSE(station.ch->Established());
  EXPECT_TRUE(station.plain.empty());
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::ProofFailed});

  // The station's half to a site that has just said hello.
  MakeSite(7, KeyOf(1));
  site.ch->Start(now);
  site.TakeOut();
  Deliver(site, fromStation);
  EXPECT_FALSE(site.ch->Established());
  EXPECT_TRUE(site.plain.empty());
  EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::KeyMismatch});
}

TEST_F(SecureLinkTest, AFlippedBitAnywhereIsNeverActedOn) {
  const Bytes a = Pattern(40, 1), b = Pattern(300, 2), c = Pattern(19, 3);
  const Bytes all = Concat({a, b, c});
  auto run = [&](bool towardStation, std::size_t at) {
    sentToStation = sentToSite = 0;
    auto flip = [at](Bytes& bytes, std::size_t before) {
      if (at >= before && at < before + bytes.size()) bytes[at - before] ^= 0x10;
    };
    toStation = towardStation ? std::function<void(Bytes&, std::size_t)>(flip) : nullptr;
    toSite = towardStation ? nullptr : std::function<void(Bytes&, std::size_t)>(flip);
    Connect(7, KeyOf(1));
    for (const Bytes* m : {&a, &b, &c}) {
      site.Seal(*m);
      station.Seal(*m);
      Pump();
    }
    site.ch->EndOfInput(now);
    station.ch->EndOfInput(now);
  };
  run(true, 1u << 30);  // unchanged: how many bytes go each way
  ASSERT_EQ(station.plain, all);
  ASSERT_EQ(site.plain, all);
  const std::size_t upBytes = sentToStation, downBytes = sentToSite;
  for (const bool up : {true, false}) {
    for (std::size_t at = 0; at < (up ? upBytes : downBytes); ++at) {
      run(up, at);
      const End& receiver = up ? station : site;
      SCOPED_TRACE(testing::Message() << (up ? "to station, byte " : "to site, byte ") << at);
      // Only what was sent, never all of it, and a fault on some end.
      ASSERT_LT(receiver.plain.size(), all.size());
      ASSERT_TRUE(std::equal(receiver.plain.begin(), receiver.plain.end(), all.begin()));
      ASSERT_FALSE(site.faults.empty() && station.faults.empty());
    }
  }
}

TEST_F(SecureLinkTest, CutReorderedReplayedAndOversizeRecordsEndTheSession) {
  // Three records the site sealed, taken apart.
  auto records = [&] {
    Connect(7, KeyOf(1));
    std::vector<Bytes> r;
    for (std::uint8_t i = 0; i < 3; ++i) {
      site.Seal(Bytes(10, i));
      r.push_back(site.TakeOut());
    }
    return r;
  };
  struct Case {
    std::vector<int> order;
    SecureFault fault;
    std::size_t delivered;  // records handed on before it
  };
  for (const Case& c :
       {Case{{0, 2}, SecureFault::OutOfOrder, 1}, Case{{0, 1, 0}, SecureFault::Replayed, 2},
        Case{{1}, SecureFault::OutOfOrder, 0}}) {
    const auto r = records();
    for (int i : c.order) Deliver(station, r[static_cast<std::size_t>(i)]);
    EXPECT_EQ(station.faults, std::vector<SecureFault>{c.fault});
    EXPECT_EQ(station.plain.size(), 10 * c.delivered);
    EXPECT_EQ(station.ch->GetState(), SecureChannel::State::Closed);
  }

  // A record cut short: when the connection ends, and when it stalls.
  auto r = records();
  r[0].pop_back();
  Deliver(station, r[0]);
  EXPECT_TRUE(station.faults.empty());
  station.ch->EndOfInput(now);
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::Truncated});
  EXPECT_TRUE(station.plain.empty());

  r = records();
  Deliver(station, Bytes(r[0].begin(), r[0].begin() + 20));
  now += 59999;
  station.ch->Tick(now);
  EXPECT_FALSE(station.ch->Expired(now));
  now += 1;
  EXPECT_TRUE(station.ch->Expired(now));
  station.ch->Tick(now);
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::Truncated});

  // A record above the limit is refused on its header, before its body
  // is held.
  Connect(7, KeyOf(1));
  Bytes big(11, 0);
  std::memcpy(big.data(), "ZvxSec\x04", 7);
  const std::uint32_t len = secure::kMaxRecordPlain + 25;
  for (int i = 0; i < 4; ++i) big[7 + i] = static_cast<std::uint8_t>(len >> (8 * i));
  Deliver(station, big);
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::Oversize});
}

TEST_F(SecureLinkTest, WhatComesBeforeTheHandshakeIsNeverHeld) {
  // A TCP connection that begins with a huge record, with garbage, or with
  // the keyless link's messages is refused at once.
  const Bytes plainMessage = BuildCommand(true, 0);
  Bytes record(11, 0);
  std::memcpy(record.data(), "ZvxSec\x04\x00\x00\x10\x00", 11);
  for (const Bytes& first : {record, Bytes(5000, 'x'), plainMessage}) {
    MakeStation();
    Deliver(station, Concat({first, Bytes(100000, 0)}));
    ASSERT_EQ(station.faults.size(), 1u);
    EXPECT_EQ(station.ch->GetState(), SecureChannel::State::Closed);
    EXPECT_EQ(station.ch->Held(), 0u);
  }
  EXPECT_EQ(station.faults[0], SecureFault::PlainPeer);

  // The deadline of a connection that never shakes hands.
  MakeStation();
  now += 9999;
  EXPECT_FALSE(station.ch->Expired(now));
  now += 1;
  EXPECT_TRUE(station.ch->Expired(now));
  station.ch->Tick(now);
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::HandshakeTimeout});
  // Nor does a site wait for ever for a station that does not answer.
  MakeSite(7, KeyOf(1));
  site.ch->Start(now);
  now += 10000;
  site.ch->Tick(now);
  EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::HandshakeTimeout});
}

TEST_F(SecureLinkTest, TheSameWhateverTheReadBoundaries) {
  auto session = [&](std::size_t readSize) {
    chunk = readSize;
    sentToStation = 0;
    Bytes replay;
    // The site's third record arrives twice.
    toStation = [&](Bytes& b, std::size_t) {
      if (station.ch->Established() && site.ch->Established() && b.size() > 40) replay = b;
    };
    Connect(7, KeyOf(1));
    site.Seal(Pattern(70000, 1));
    station.Seal(Pattern(33, 2));
    Pump();
    site.Seal(Pattern(5, 3));
    site.Seal(Bytes());
    Pump();
    site.Seal(Pattern(1000, 4));
    Pump();
    Deliver(station, replay);
    toStation = nullptr;
    return std::make_tuple(site.plain, station.plain, site.faults, station.faults);
  };
  const auto whole = session(0);
  EXPECT_EQ(std::get<1>(whole), Concat({Pattern(70000, 1), Pattern(5, 3), Pattern(1000, 4)}));
  EXPECT_EQ(std::get<0>(whole), Pattern(33, 2));
  EXPECT_EQ(std::get<3>(whole), std::vector<SecureFault>{SecureFault::Replayed});
  for (std::size_t n : {1u, 2u, 11u, 4096u}) EXPECT_EQ(session(n), whole) << n;
}

TEST_F(SecureLinkTest, AMessageStartIsJudgedWhenItsMarkerIsWholeHoweverItArrives) {
  // In a session, bytes that begin like the keyless link's marker and are
  // not it: the same fault whether they come at once or a byte at a time.
  const Bytes plainMessage = BuildCommand(true, 0);
  Bytes nearlyPlain = plainMessage;
  nearlyPlain[4] = 'e';
  for (const auto& [bytes, fault] : {std::pair{nearlyPlain, SecureFault::Malformed},
                                     std::pair{plainMessage, SecureFault::PlainPeer}}) {
    for (std::size_t n : {0u, 1u, 4u}) {
      Connect(7, KeyOf(1));
      chunk = n;
      Deliver(station, bytes);
      chunk = 0;
      EXPECT_EQ(station.faults, std::vector<SecureFault>{fault}) << n;
    }
  }

  // A header begun and never finished is a message cut short, as a body is.
  Connect(7, KeyOf(1));
  site.Seal(Bytes(10, 1));
  const Bytes record = site.TakeOut();
  Deliver(station, Bytes(record.begin(), record.begin() + 8));
  now += 30000;
  Deliver(station, Bytes(record.begin() + 8, record.begin() + 9));
  station.ch->Tick(now);
  EXPECT_TRUE(station.faults.empty());
  now += 30000;  // the stall counts from the message's first bytes
  station.ch->Tick(now);
  EXPECT_EQ(station.faults, std::vector<SecureFault>{SecureFault::Truncated});
}

TEST_F(SecureLinkTest, BytesArrivingWhileARecordIsHandedOnFollowInOrder) {
  Connect(7, KeyOf(1));
  site.Seal(Bytes{1, 1});
  site.Seal(Bytes{2, 2});
  Bytes second = site.TakeOut();
  Bytes first(second.begin(), second.begin() + 37);
  second.erase(second.begin(), second.begin() + 37);
  // The handler lets events run, and the next read comes in the middle.
  station.ch->OnPlain = [&](std::span<std::uint8_t> p) {
    station.plain.insert(station.plain.end(), p.begin(), p.end());
    if (!second.empty()) {
      const Bytes later = std::exchange(second, Bytes());
      station.ch->Receive(later.data(), later.size(), now);
      EXPECT_EQ(station.plain, (Bytes{1, 1}));
    }
  };
  Deliver(station, first);
  EXPECT_EQ(station.plain, (Bytes{1, 1, 2, 2}));
}

TEST_F(SecureLinkTest, KeylessPeersAreToldApartAtTheirFirstBytes) {
  const Bytes plain = BuildCommand(true, 3);
  MakeSite(7, KeyOf(1));
  site.ch->Start(now);
  const Bytes hello = site.TakeOut();

  EXPECT_EQ(DetectLinkStart(plain).kind, LinkStart::Plain);
  EXPECT_EQ(DetectLinkStart(hello).kind, LinkStart::Secure);
  const Bytes noisy = Concat({Bytes{'Z', 'v', 0, 'Z'}, hello});
  EXPECT_EQ(DetectLinkStart(noisy).kind, LinkStart::Secure);
  EXPECT_EQ(DetectLinkStart(noisy).at, 4u);
  const auto partial = DetectLinkStart(Bytes{1, 2, 'Z', 'v', 'x'});
  EXPECT_EQ(partial.kind, LinkStart::NeedMore);
  EXPECT_EQ(partial.at, 2u);  // "Zvx" may still become a marker
  EXPECT_EQ(DetectLinkStart(Bytes(10, 'q')).at, 10u);

  // A keyless site finds the station's refusal among its incoming bytes.
  const Bytes refusal = BuildRefusal(secure::Refusal::KeyRequired);
  EXPECT_EQ(FindRefusal(Concat({plain, refusal, plain})), SecureFault::RefusedKeyNeeded);
  EXPECT_EQ(FindRefusal(plain), SecureFault::None);
  EXPECT_EQ(FindRefusal(Bytes(refusal.begin(), refusal.end() - 1)), SecureFault::None);

  // A keyed site that hears the keyless link's messages.
  Deliver(site, plain);
  EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::PlainPeer});
}

// ---------------------------------------------------------------- lines that restart

struct SecureSerialLineTest : SecureLinkTest {
  void SetUp() override { Connect(7, KeyOf(1), ChannelOptions::SerialLine()); }
  // The site's status goes across and arrives.
  void ExpectStatusArrives(std::uint8_t n) {
    station.plain.clear();
    ASSERT_TRUE(site.Seal(Bytes(23, n)));
    Pump();
    EXPECT_EQ(station.plain, Bytes(23, n));
  }
};

TEST_F(SecureSerialLineTest, AStationRestartedIsShakenHandsWithAgain) {
  ASSERT_TRUE(station.ch->Established());
  ExpectStatusArrives(1);
  // A new station on the line knows nothing of the session: the next
  // status makes it ask the site to begin anew; that status is lost.
  MakeStation(ChannelOptions::SerialLine());
  site.Seal(Bytes(23, 2));
  Pump();
  EXPECT_TRUE(station.plain.empty());
  EXPECT_TRUE(station.ch->Established());
  EXPECT_EQ(site.ch->Sessions(), 2);
  ExpectStatusArrives(3);
  EXPECT_TRUE(station.faults.empty());
  EXPECT_TRUE(site.faults.empty());
}

TEST_F(SecureSerialLineTest, ASiteRestartedBeginsANewSession) {
  MakeSite(7, KeyOf(1), ChannelOptions::SerialLine());
  site.ch->Start(now);
  Pump();
  EXPECT_TRUE(site.ch->Established());
  EXPECT_EQ(station.ch->Sessions(), 2);
  ExpectStatusArrives(4);
  // Commands sealed for the old session reach nobody.
  EXPECT_TRUE(station.faults.empty());
}

TEST_F(SecureSerialLineTest, NoiseOnTheLineCostsOneSessionAndIsJournaledOnce) {
  for (int i = 0; i < 3; ++i) {
    bool once = true;
    toStation = [&once](Bytes& b, std::size_t) {
      if (std::exchange(once, false)) b[b.size() / 2 - 10] ^= 0xFF;
    };
    site.Seal(Bytes(23, 5));
    site.Seal(Bytes(23, 6));
    // The broken record and the one after are lost; the session begins anew.
    Pump();
    toStation = nullptr;
    EXPECT_TRUE(site.ch->Established());
    ExpectStatusArrives(7);
  }
  EXPECT_EQ(site.ch->Sessions(), 4);
  ASSERT_EQ(station.faults.size(), 3u);
  EXPECT_EQ(station.faults[0], SecureFault::AuthFailed);
  EXPECT_FALSE(station.repeated[0]);  // each time a session came between
  EXPECT_FALSE(station.repeated[2]);

  // Noise in the station's command: the site begins anew by itself.
  bool once = true;
  toSite = [&once](Bytes& b, std::size_t) {
    if (std::exchange(once, false)) b[3] ^= 1;
  };
  station.Seal(BuildCommand(true, 0));
  Pump();
  toSite = nullptr;
  EXPECT_TRUE(site.plain.empty());
  EXPECT_EQ(site.faults.back(), SecureFault::Malformed);
  EXPECT_TRUE(site.ch->Established());
  ExpectStatusArrives(8);
}

TEST_F(SecureSerialLineTest, ASilentStationIsRetriedAndAWrongKeyReportedOnce) {
  // Nobody at the other end: a new hello after the deadline, each time.
  MakeSite(7, KeyOf(1), ChannelOptions::SerialLine());
  site.ch->Start(now);
  const Bytes first = site.TakeOut();
  now += 10000;
  site.ch->Tick(now);
  const Bytes second = site.TakeOut();
  ASSERT_EQ(second.size(), 48u);
  EXPECT_NE(first, second);  // a fresh nonce
  EXPECT_EQ(site.faults, std::vector<SecureFault>{SecureFault::HandshakeTimeout});

  // A station with another key: refused, tried again later, journaled once.
  objects[7].key = KeyOf(9);
  MakeStation(ChannelOptions::SerialLine());
  Deliver(station, second);
  Pump();
  for (int i = 0; i < 2; ++i) {
    now += 10000;
    site.ch->Tick(now);
    Pump();
  }
  EXPECT_EQ(site.faults.size(), 4u);
  EXPECT_EQ(site.faults.back(), SecureFault::KeyMismatch);
  EXPECT_TRUE(site.repeated.back());
  EXPECT_EQ(station.faults.size(), 3u);
  EXPECT_TRUE(station.repeated.back());
  // The operator sets the right key: the next retry gets through.
  objects[7].key = KeyOf(1);
  now += 10000;
  site.ch->Tick(now);
  Pump();
  EXPECT_TRUE(site.ch->Established());
  ExpectStatusArrives(9);
}

TEST_F(SecureSerialLineTest, ALongMessageGoesInRecordsOfTheLinesSizeAsToldBeforehand) {
  const Bytes long_ = Pattern(200000, 4);
  site.TakeOut();
  const std::size_t told = site.ch->SealedSize(long_.size());
  EXPECT_EQ(told, long_.size() + 4 * secure::kRecordOverhead);
  ASSERT_TRUE(site.Seal(long_));
  EXPECT_EQ(site.ch->Outbox().size(), told);
  station.plain.clear();
  Pump();
  EXPECT_EQ(station.plain, long_);
  EXPECT_EQ(site.ch->SealedSize(0), 0u);
}

TEST_F(SecureSerialLineTest, AnswersToHellosGivenUpOnAreNotTakenForAWrongKey) {
  // A stalled line: the site gives up on hello after hello, and when the
  // line moves again the station answers each of them in turn.
  MakeSite(7, KeyOf(1), ChannelOptions::SerialLine());
  site.ch->Start(now);
  Bytes hellos = site.TakeOut();
  for (int i = 0; i < 5; ++i) {
    now += 10000;
    site.ch->Tick(now);
    hellos = Concat({hellos, site.TakeOut()});
  }
  ASSERT_EQ(hellos.size(), 6 * 48u);
  Deliver(station, hellos);
  Pump();
  EXPECT_TRUE(site.ch->Established());
  EXPECT_TRUE(station.ch->Established());
  EXPECT_EQ(site.faults, std::vector<SecureFault>(5, SecureFault::HandshakeTimeout));
  EXPECT_TRUE(station.faults.empty());
  ExpectStatusArrives(2);
}

TEST_F(SecureSerialLineTest, AKeylessSiteOnTheLineIsReportedAndNotActedOn) {
  MakeStation(ChannelOptions::SerialLine());
  for (int i = 0; i < 3; ++i) Deliver(station, BuildCommand(true, 0));
  EXPECT_TRUE(station.plain.empty());
  ASSERT_EQ(station.faults.size(), 3u);
  EXPECT_EQ(station.faults[0], SecureFault::PlainPeer);
  EXPECT_FALSE(station.repeated[0]);
  EXPECT_TRUE(station.repeated[2]);
  EXPECT_LT(station.ch->Held(), 6u);
}

}  // namespace
}  // namespace zv

#pragma once
// The secure link between a site and its station: a handshake that proves
// both ends hold the Object's link key, then every byte of the link sealed
// in authenticated, encrypted records with a counter per direction.
//
// SecureChannel is a state machine without sockets: it is fed the bytes
// that arrived (Receive) and the time, and it produces the bytes to send
// (Outbox) and the plaintext to hand on (OnPlain).  The plaintext is the
// link's own byte stream, unchanged: framed messages for the receive
// assembler, or the modem's picture stream for its receiver.
//
// The site is the initiator, the station the responder.  Messages on the
// line (all integers little-endian), each beginning with an 11-byte header:
//
//   "ZvxSec" (6)  kind (1)  body length (4)  body
//
//   hello    1  site -> station, in clear: version 1 (1), Object ID (4),
//               the site's fresh random nonce (32)
//   reply    2  station -> site: the station's fresh nonce (32), the
//               station's proof (32)
//   proof    3  site -> station: the site's proof (32)
//   record   4  either way, once established: counter (8), ciphertext,
//               tag (16)
//   refusal  5  either way, in clear: reason (1)
//   restart  6  station -> site on a serial line or modem call, in clear,
//               empty: "I have no session with you, begin anew"
//
// The derivations and the threat model are described in docs/security.md.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/secure/LinkKey.h"

namespace zv {

namespace secure {
constexpr char kMarker[] = "ZvxSec";
constexpr std::size_t kMarkerSize = 6;
constexpr std::size_t kHeaderSize = 11;
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kNonceSize = 32;
constexpr std::size_t kMacSize = 32;
constexpr std::size_t kHelloBody = 1 + 4 + kNonceSize;
constexpr std::size_t kReplyBody = kNonceSize + kMacSize;
constexpr std::size_t kProofBody = kMacSize;
constexpr std::size_t kCounterSize = 8;
constexpr std::size_t kTagSize = 16;
// Bytes a record adds before and after its plaintext.
constexpr std::size_t kRecordHead = kHeaderSize + kCounterSize;
constexpr std::size_t kRecordOverhead = kRecordHead + kTagSize;
// The largest plaintext of one record: a whole framed message (below
// 1,000,000 bytes) fits in one.
constexpr std::size_t kMaxRecordPlain = 1u << 20;

enum Kind : std::uint8_t {
  skHello = 1,
  skReply = 2,
  skProof = 3,
  skRecord = 4,
  skRefusal = 5,
  skRestart = 6,
};

// The reason byte of a refusal.
enum class Refusal : std::uint8_t {
  UnknownObject = 1,  // the station has no Object with the hello's ID
  NoKey = 2,          // the station's Object has no link key
  KeyMismatch = 3,    // the station's proof does not check with the site's key
  KeyRequired = 4,    // the station has a key for this Object; the site sent without one
};
}  // namespace secure

// Why a secure link was refused or ended.  Each has a journal text
// (SecureFaultText) that says what happened and what to set.
enum class SecureFault : std::uint8_t {
  None,
  Malformed,         // bytes that are not a message of the secure link, or of a wrong size
  Version,           // a hello of a version this program does not speak
  PlainPeer,         // the peer sends the link's messages without a key
  UnknownObject,     // station: the hello names an Object the station does not know
  NoKey,             // station: the hello's Object has no key here
  KeyMismatch,       // site: the station's proof does not check with the site's key
  ProofFailed,       // station: the site's proof does not check with the Object's key
  RefusedUnknown,    // site: the station does not know this Object
  RefusedNoKey,      // site: the station has no key for this Object
  RefusedMismatch,   // station: the site says the keys differ
  RefusedKeyNeeded,  // site without a key: the station requires one for this Object
  HandshakeTimeout,  // no complete handshake within the deadline
  Unexpected,        // a message out of place (a record before the handshake ...)
  AuthFailed,        // a record that fails authentication: changed, forged, another session
  Replayed,          // a record with a counter already used
  OutOfOrder,        // a record with a counter ahead of the next one: records went missing
  Truncated,         // the connection ended, or stalled, in the middle of a message
  Oversize,          // a record above the size limit
};

// Which end of the link a text is written for.
enum class SecureRole : std::uint8_t { Site, Station };

// A journal text for a fault: what happened and, where the operator can
// mend it, what to set ("Ключ связи не совпадает ..." ).  The caller puts
// the peer in front (the Object, the address or the port).
std::string SecureFaultText(SecureFault fault, SecureRole role);
// A short name of the fault for logs and test output ("auth-failed").
const char* SecureFaultName(SecureFault fault);

// What each kind of line needs of the channel.
struct ChannelOptions {
  // A serial line or a modem call has no connection set-up: a new hello
  // restarts the session there, a fault goes back to waiting for one, and
  // the site retries.  Over TCP a fault ends the channel and the caller
  // closes the connection.
  bool restartable = false;
  // Plaintext bytes per record, the same on both ends.
  std::size_t maxRecord = secure::kMaxRecordPlain;
  // The handshake must be complete this long after it began.
  std::uint64_t handshakeMs = 10000;
  // A restartable site sends a new hello this long after a failed one.
  std::uint64_t retryMs = 10000;
  // A message begun must be complete within this time.
  std::uint64_t stallMs = 60000;
  // Fills a buffer with random bytes; unset: the system's random source.
  // (Only the fuzz target sets it, to replay sessions.)
  std::function<void(std::uint8_t*, std::size_t)> random;

  static ChannelOptions Network() { return {}; }
  static ChannelOptions SerialLine() {
    ChannelOptions o;
    o.restartable = true;
    o.maxRecord = 64u * 1024;  // only status messages and commands travel there
    return o;
  }
  static ChannelOptions ModemCall() {
    ChannelOptions o;
    o.restartable = true;
    return o;
  }
};

// What the station knows of an Object named by a hello.
struct ObjectKey {
  bool known = false;  // the station has an Object with that ID
  LinkKey key;         // empty: the Object is not protected
};

// A growable byte buffer that does not clear what it adds (sealing writes
// every byte anyway).
class ByteBuffer {
 public:
  const std::uint8_t* data() const { return data_.get(); }
  std::uint8_t* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  // n more bytes at the end, not initialised; valid until the next Grow.
  std::uint8_t* Grow(std::size_t n);
  void Append(const void* p, std::size_t n);
  // Drops the first n bytes.
  void Consume(std::size_t n);
  std::size_t capacity() const { return capacity_; }
  // Room for at least n bytes in all (keeps what is held).
  void Reserve(std::size_t n);
  // The room after the held bytes, and taking count bytes of it as held.
  std::span<std::uint8_t> Spare() { return {data_.get() + size_, capacity_ - size_}; }
  void Commit(std::size_t count) { size_ += count; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

class SecureChannel {
 public:
  enum class State : std::uint8_t {
    Handshake,    // waiting for the other end's part of the handshake
    Established,  // records flow both ways
    Closed,       // ended by a fault or Close(); a restartable channel never stays here
  };
  using KeyLookup = std::function<ObjectKey(std::uint32_t objectId)>;

  // The site's end for Object objectId with its key (not empty).  Start()
  // sends the hello.
  SecureChannel(std::uint32_t objectId, const LinkKey& key, ChannelOptions options,
                std::uint64_t nowMs);
  // The station's end: the hello's Object ID is looked up through lookup.
  // Over TCP the handshake deadline runs from now (the connection's accept).
  SecureChannel(KeyLookup lookup, ChannelOptions options, std::uint64_t nowMs);
  ~SecureChannel();
  SecureChannel(const SecureChannel&) = delete;
  SecureChannel& operator=(const SecureChannel&) = delete;

  // --- events (run inside Receive, Tick and Start; none may destroy the
  // channel, all may call Seal or Close)
  // The other end has proven the key: records may be sealed now.
  std::function<void()> OnEstablished;
  // A fault.  repeated: the same fault as the one before with no session
  // in between (a line that keeps failing the same way; journal it once).
  std::function<void(SecureFault fault, bool repeated)> OnFault;
  // Plaintext of one record, valid during the call.
  std::function<void(std::span<std::uint8_t> plain)> OnPlain;
  // Optional: where a record's plaintext may be opened directly (the
  // receive assembler's write position), saving a copy.  PlainRoom(n)
  // returns room for the n plaintext bytes or an empty span; PlainCommit(n)
  // then says they are there.  OnPlain serves when no room is offered.
  std::function<std::span<std::uint8_t>(std::size_t n)> PlainRoom;
  std::function<void(std::size_t n)> PlainCommit;

  // --- input
  // Takes bytes that arrived (copied in pieces as room allows).
  void Receive(const std::uint8_t* data, std::size_t count, std::uint64_t nowMs);
  // Or reads straight into the channel: room for the next bytes, then
  // Received(count) for the count placed there.
  std::span<std::uint8_t> ReceiveSpace();
  void Received(std::size_t count, std::uint64_t nowMs);
  // The connection ended: a message cut short is reported as Truncated.
  void EndOfInput(std::uint64_t nowMs);

  // --- output
  // The site: sends a hello with a fresh nonce (a new session).  On a
  // restartable line this is also what the caller does after the station
  // was restarted by hand; the channel itself retries on faults.
  void Start(std::uint64_t nowMs);
  // Seals plaintext into records in the outbox (split at the record size).
  // False, and nothing added, before the handshake is complete.
  bool Seal(std::span<const std::uint8_t> plain);
  // What Seal adds to the outbox for plainSize bytes of plaintext.
  std::size_t SealedSize(std::size_t plainSize) const;
  // Seals in place: buffer holds kRecordHead free bytes, then plainSize
  // bytes of plaintext, then kTagSize free bytes.  Returns the record's
  // size (0 when not established or too large).  The record must be sent
  // after whatever the outbox holds.
  std::size_t SealInPlace(std::uint8_t* buffer, std::size_t plainSize);
  // Bytes to send, in order.  The caller sends them and clears it.
  ByteBuffer& Outbox() { return outbox_; }

  // --- time
  // Retries (restartable site), deadlines and stalls; may fault and may
  // fill the outbox.
  void Tick(std::uint64_t nowMs);
  // The handshake's deadline has passed or a message has stalled: over TCP
  // the caller closes the connection (Tick reports the fault).
  bool Expired(std::uint64_t nowMs) const;

  // Ends the channel: nothing more is sealed or opened.
  void Close();

  State GetState() const { return state_; }
  bool Established() const { return state_ == State::Established; }
  bool IsSite() const { return site_; }
  const ChannelOptions& Options() const { return options_; }
  // The Object this channel speaks for: at the site its own; at the station
  // the hello's ID, proven only once established (before that, -1 or the
  // ID a hello claimed, for the journal).
  std::int64_t ObjectId() const { return objectId_; }
  SecureFault LastFault() const { return lastFault_; }
  // Sessions established so far on this channel.
  int Sessions() const { return sessions_; }
  // Bytes held in the channel's receive buffer.
  std::size_t Held() const { return in_.size() + late_.size(); }
  // The most the channel ever holds of received bytes.
  std::size_t HeldLimit() const;

 private:
  struct Keys;
  void Process(std::uint64_t nowMs);
  // One complete message at the start of the buffer; false to stop.
  bool Handle(std::uint8_t kind, std::uint8_t* msg, std::size_t size, std::uint64_t nowMs);
  bool HandleHello(const std::uint8_t* msg, std::size_t size, std::uint64_t nowMs);
  bool HandleReply(const std::uint8_t* msg, std::uint64_t nowMs);
  bool HandleProof(const std::uint8_t* body);
  bool HandleRecord(std::uint8_t* msg, std::size_t size, std::uint64_t nowMs);
  bool HandleRefusal(std::uint8_t reason, std::uint64_t nowMs);
  void Fault(SecureFault f, std::uint64_t nowMs);
  void SendHello(std::uint64_t nowMs);
  void SendRefusal(secure::Refusal r);
  void SendRestart(std::uint64_t nowMs);
  void Listen();
  void Random(std::uint8_t* p, std::size_t n);
  void PutHeader(std::uint8_t* p, std::uint8_t kind, std::size_t bodySize);
  void SealRecord(std::uint8_t* record, const std::uint8_t* plain, std::size_t size);
  void Forget();
  void DeriveKeys();

  const bool site_;
  ChannelOptions options_;
  KeyLookup lookup_;
  LinkKey key_;  // site: its key; station: the key of the hello's Object
  std::unique_ptr<Keys> keys_;
  State state_ = State::Handshake;
  std::int64_t objectId_ = -1;
  // The handshake's transcript so far: hello, and the reply's header and nonce.
  std::uint8_t transcript_[secure::kHeaderSize + secure::kHelloBody + secure::kHeaderSize +
                           secure::kNonceSize] = {};
  std::uint8_t transcriptHash_[32] = {};
  // Site: the hellos sent before the present one, latest first.  A reply to
  // one of them (the station answered it after the site gave up waiting)
  // is passed over rather than taken for a wrong key.
  static constexpr std::size_t kEarlierHellos = 8;
  std::uint8_t earlier_[kEarlierHellos][secure::kHeaderSize + secure::kHelloBody] = {};
  std::size_t earlierCount_ = 0;
  bool AnswersAnEarlierHello(const std::uint8_t* reply) const;
  std::uint64_t helloSentAt_ = 0;
  bool helloSent_ = false;  // site: a hello is out and its reply awaited
  bool replySent_ = false;  // station: a reply is out and the proof awaited
  std::uint64_t handshakeSince_ = 0;
  bool handshakeTimed_ = true;  // the deadline runs
  std::uint64_t retryAt_ = 0;   // site, restartable: when to send the next hello
  bool retryDue_ = false;
  std::uint64_t restartSentAt_ = 0;
  bool restartSent_ = false;
  std::uint64_t partialSince_ = 0;  // when the message at the buffer's start began
  bool partial_ = false;
  std::uint64_t sendCounter_ = 0, receiveCounter_ = 0;
  ByteBuffer in_, late_, outbox_;
  bool inPass_ = false;
  unsigned generation_ = 0;  // changes with every Close/fault, to stop a pass
  SecureFault lastFault_ = SecureFault::None;
  bool faultSinceSession_ = false;
  int sessions_ = 0;
};

// --- pieces for the links that run without a key

// What the first bytes of a conversation are.
enum class LinkStart : std::uint8_t {
  NeedMore,  // neither marker yet
  Plain,     // a framed message ("ZvxCmd"): the peer has no key
  Secure,    // a message of the secure link ("ZvxSec")
};
struct LinkStartScan {
  LinkStart kind = LinkStart::NeedMore;
  std::size_t at = 0;  // where the marker starts (bytes before it are noise)
};
// Looks for the first marker of either kind.  With NeedMore, at is how many
// leading bytes can be dropped (they cannot begin a marker).
LinkStartScan DetectLinkStart(std::span<const std::uint8_t> bytes);

// The refusal a station sends to a keyless site whose Object has a key, or
// that a side sends before it closes.  Eleven-byte header and the reason.
std::vector<std::uint8_t> BuildRefusal(secure::Refusal reason);
// A keyless site looks for a refusal among the bytes it receives (its
// receive assembler skips them as noise).  KeyRequired -> RefusedKeyNeeded.
SecureFault FindRefusal(std::span<const std::uint8_t> bytes);

}  // namespace zv

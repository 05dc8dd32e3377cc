#include "link/secure/SecureChannel.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace zv {

using namespace secure;

namespace {

// Bytes read beyond the message being collected.
constexpr std::size_t kReadAhead = 64u * 1024;
// What a channel holds before the other end has proven the key: the
// handshake's messages are below 100 bytes.
constexpr std::size_t kPreAuthLimit = 4096;
// A site that has just sent a hello does not answer a restart request
// with another one before this long.
constexpr std::uint64_t kHelloGapMs = 1000;
// A station asks a site to begin anew at most this often.
constexpr std::uint64_t kRestartGapMs = 1000;

constexpr char kPlainMarker[] = "ZvxCmd";

// Labels of the derivations from the transcript (8 bytes each).
constexpr std::uint8_t kLabelStation[8] = {'Z', 'v', 'x', 'S', 'e', 'c', '-', 'R'};
constexpr std::uint8_t kLabelSite[8] = {'Z', 'v', 'x', 'S', 'e', 'c', '-', 'I'};
constexpr std::uint8_t kLabelSession[8] = {'Z', 'v', 'x', 'S', 'e', 'c', '-', 'S'};
constexpr char kKdfContext[crypto_kdf_CONTEXTBYTES + 1] = "ZvxLink1";

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void PutLe64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t GetLe64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// BLAKE2b-256 keyed with the link key over label || transcript hash.
void Derive(std::uint8_t out[32], const std::uint8_t label[8], const std::uint8_t th[32],
            const LinkKey& key) {
  std::uint8_t in[40];
  std::memcpy(in, label, 8);
  std::memcpy(in + 8, th, 32);
  crypto_generichash(out, 32, in, sizeof in, key.Bytes(), LinkKey::kSize);
}

void NonceFor(std::uint8_t nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES],
              std::uint64_t counter) {
  std::memset(nonce, 0, crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
  PutLe64(nonce, counter);
}

bool IsMarkerPrefix(const std::uint8_t* p, std::size_t n, const char* marker) {
  return std::memcmp(p, marker, std::min(n, kMarkerSize)) == 0;
}

// The body size a kind must have (records: checked apart).
bool BodySizeFits(std::uint8_t kind, std::uint32_t size) {
  switch (kind) {
    case skHello:
      return size == kHelloBody;
    case skReply:
      return size == kReplyBody;
    case skProof:
      return size == kProofBody;
    case skRefusal:
      return size == 1;
    case skRestart:
      return size == 0;
    default:
      return false;
  }
}

bool StreamFault(SecureFault f) {
  switch (f) {
    case SecureFault::Malformed:
    case SecureFault::Unexpected:
    case SecureFault::AuthFailed:
    case SecureFault::Replayed:
    case SecureFault::OutOfOrder:
    case SecureFault::Truncated:
    case SecureFault::Oversize:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------- ByteBuffer

void ByteBuffer::Reserve(std::size_t n) {
  if (n <= capacity_) return;
  std::size_t cap = std::max<std::size_t>(n, capacity_ + capacity_ / 2);
  std::unique_ptr<std::uint8_t[]> d(new std::uint8_t[cap]);
  if (size_ > 0) std::memcpy(d.get(), data_.get(), size_);
  data_ = std::move(d);
  capacity_ = cap;
}

std::uint8_t* ByteBuffer::Grow(std::size_t n) {
  Reserve(size_ + n);
  std::uint8_t* p = data_.get() + size_;
  size_ += n;
  return p;
}

void ByteBuffer::Append(const void* p, std::size_t n) {
  if (n > 0) std::memcpy(Grow(n), p, n);
}

void ByteBuffer::Consume(std::size_t n) {
  if (n >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_.get(), data_.get() + n, size_ - n);
  size_ -= n;
}

// ---------------------------------------------------------------- channel

struct SecureChannel::Keys {
  std::uint8_t toStation[32];
  std::uint8_t toSite[32];
  ~Keys() {
    sodium_memzero(toStation, sizeof toStation);
    sodium_memzero(toSite, sizeof toSite);
  }
};

SecureChannel::SecureChannel(std::uint32_t objectId, const LinkKey& key, ChannelOptions options,
                             std::uint64_t nowMs)
    : site_(true), options_(std::move(options)), key_(key), objectId_(objectId) {
  EnsureSodium();
  handshakeSince_ = nowMs;
}

SecureChannel::SecureChannel(KeyLookup lookup, ChannelOptions options, std::uint64_t nowMs)
    : site_(false), options_(std::move(options)), lookup_(std::move(lookup)) {
  EnsureSodium();
  handshakeSince_ = nowMs;
  // A station's serial line or modem waits for a hello as long as it takes;
  // a TCP connection must become a site within the deadline.
  handshakeTimed_ = !options_.restartable;
}

SecureChannel::~SecureChannel() {
  sodium_memzero(transcript_, sizeof transcript_);
  sodium_memzero(transcriptHash_, sizeof transcriptHash_);
}

std::size_t SecureChannel::HeldLimit() const {
  return kRecordOverhead + options_.maxRecord + kReadAhead;
}

void SecureChannel::Random(std::uint8_t* p, std::size_t n) {
  if (options_.random)
    options_.random(p, n);
  else
    randombytes_buf(p, n);
}

void SecureChannel::PutHeader(std::uint8_t* p, std::uint8_t kind, std::size_t bodySize) {
  std::memcpy(p, kMarker, kMarkerSize);
  p[6] = kind;
  PutLe32(p + 7, static_cast<std::uint32_t>(bodySize));
}

void SecureChannel::Forget() {
  keys_.reset();
  helloSent_ = false;
  replySent_ = false;
  sendCounter_ = receiveCounter_ = 0;
  sodium_memzero(transcriptHash_, sizeof transcriptHash_);
}

void SecureChannel::DeriveKeys() {
  std::uint8_t session[32];
  Derive(session, kLabelSession, transcriptHash_, key_);
  keys_ = std::make_unique<Keys>();
  crypto_kdf_derive_from_key(keys_->toStation, 32, 1, kKdfContext, session);
  crypto_kdf_derive_from_key(keys_->toSite, 32, 2, kKdfContext, session);
  sodium_memzero(session, sizeof session);
}

void SecureChannel::Start(std::uint64_t nowMs) {
  if (!site_ || state_ == State::Closed) return;
  SendHello(nowMs);
}

void SecureChannel::SendHello(std::uint64_t nowMs) {
  Forget();
  state_ = State::Handshake;
  std::uint8_t* h = transcript_;
  if (h[6] == skHello) {
    std::memmove(earlier_[1], earlier_[0], sizeof earlier_ - sizeof earlier_[0]);
    std::memcpy(earlier_[0], h, sizeof earlier_[0]);
    earlierCount_ = std::min(earlierCount_ + 1, kEarlierHellos);
  }
  PutHeader(h, skHello, kHelloBody);
  h[kHeaderSize] = kVersion;
  PutLe32(h + kHeaderSize + 1, static_cast<std::uint32_t>(objectId_));
  Random(h + kHeaderSize + 5, kNonceSize);
  outbox_.Append(h, kHeaderSize + kHelloBody);
  helloSent_ = true;
  helloSentAt_ = nowMs;
  handshakeSince_ = nowMs;
  handshakeTimed_ = true;
  retryDue_ = false;
}

void SecureChannel::SendRefusal(Refusal r) {
  std::uint8_t* p = outbox_.Grow(kHeaderSize + 1);
  PutHeader(p, skRefusal, 1);
  p[kHeaderSize] = static_cast<std::uint8_t>(r);
}

void SecureChannel::SendRestart(std::uint64_t nowMs) {
  if (restartSent_ && nowMs - restartSentAt_ < kRestartGapMs) return;
  restartSent_ = true;
  restartSentAt_ = nowMs;
  PutHeader(outbox_.Grow(kHeaderSize), skRestart, 0);
}

void SecureChannel::Listen() {
  Forget();
  state_ = State::Handshake;
  handshakeTimed_ = false;
}

void SecureChannel::Close() {
  Forget();
  state_ = State::Closed;
  ++generation_;
  partial_ = false;
  if (!inPass_) {
    in_.clear();
    late_.clear();
  }
}

void SecureChannel::Fault(SecureFault f, std::uint64_t nowMs) {
  const bool repeated = faultSinceSession_ && f == lastFault_;
  const bool wasEstablished = state_ == State::Established;
  lastFault_ = f;
  faultSinceSession_ = true;
  ++generation_;
  if (!options_.restartable) {
    Close();
  } else if (site_) {
    Forget();
    state_ = State::Handshake;
    // A broken session or a silent station: a new hello at once.  A refusal
    // or a key that does not match: again after a while, in case the
    // operator sets it meanwhile.
    if (StreamFault(f) || f == SecureFault::HandshakeTimeout) {
      SendHello(nowMs);
    } else {
      retryDue_ = true;
      retryAt_ = nowMs + options_.retryMs;
      handshakeTimed_ = false;
    }
  } else {
    Listen();
    // The site believes in the session that ended here: it is told to
    // begin anew.
    if (wasEstablished) SendRestart(nowMs);
  }
  if (OnFault) OnFault(f, repeated);
}

// ---------------------------------------------------------------- input

std::span<std::uint8_t> SecureChannel::ReceiveSpace() {
  if (state_ == State::Closed) return {};
  if (inPass_) {
    // Bytes that come while a record is being handed on wait apart.
    const std::size_t limit = HeldLimit();
    if (late_.size() >= limit) return {};
    late_.Reserve(std::min(limit, late_.size() + kReadAhead));
    return late_.Spare();
  }
  const std::size_t limit = state_ == State::Established ? HeldLimit() : kPreAuthLimit;
  std::size_t want = in_.size() + kReadAhead;
  // Room for the whole message being collected, so that it is read in one go.
  if (in_.size() >= kHeaderSize && std::memcmp(in_.data(), kMarker, kMarkerSize) == 0)
    want = std::max<std::size_t>(want, kHeaderSize + GetLe32(in_.data() + 7) + kReadAhead);
  want = std::min(want, limit);
  if (want > in_.capacity()) in_.Reserve(want);
  std::span<std::uint8_t> spare = in_.Spare();
  if (in_.size() >= limit) return {};
  return spare.first(std::min(spare.size(), limit - in_.size()));
}

void SecureChannel::Received(std::size_t count, std::uint64_t nowMs) {
  if (state_ == State::Closed) return;
  if (inPass_) {
    late_.Commit(count);
    return;
  }
  in_.Commit(count);
  Process(nowMs);
}

void SecureChannel::Receive(const std::uint8_t* data, std::size_t count, std::uint64_t nowMs) {
  while (count > 0 && state_ != State::Closed) {
    const std::span<std::uint8_t> room = ReceiveSpace();
    if (room.empty()) {
      // More than a whole record's worth arrived while one was being
      // handed on: the peer sends faster than anything could take it.
      Fault(SecureFault::Oversize, nowMs);
      if (inPass_) late_.clear();
      return;
    }
    const std::size_t n = std::min(count, room.size());
    std::memcpy(room.data(), data, n);
    Received(n, nowMs);
    data += n;
    count -= n;
  }
}

void SecureChannel::EndOfInput(std::uint64_t nowMs) {
  if (state_ == State::Closed) return;
  // What is held after a pass is the beginning of a message that will now
  // never be complete.
  if (!in_.empty() && !inPass_) {
    in_.clear();
    partial_ = false;
    Fault(SecureFault::Truncated, nowMs);
  }
  if (!options_.restartable) Close();
}

void SecureChannel::Process(std::uint64_t nowMs) {
  if (inPass_ || state_ == State::Closed) return;
  inPass_ = true;
  std::size_t pos = 0;
  bool partialBefore = partial_;
  partial_ = false;
  // The message at `pos` waits for the rest of its bytes; the same message
  // as before keeps its start time, for the stall deadline.
  auto holdPartial = [&] {
    if (!(partialBefore && pos == 0)) partialSince_ = nowMs;
    partial_ = true;
  };
  for (;;) {
    if (!late_.empty()) {
      in_.Append(late_.data(), late_.size());
      late_.clear();
    }
    if (state_ == State::Closed) break;
    const std::size_t avail = in_.size() - pos;
    if (avail == 0) break;
    std::uint8_t* p = in_.data() + pos;

    // Where a message must begin: our marker, or the start of one.
    if (!IsMarkerPrefix(p, avail, kMarker)) {
      const bool plain = IsMarkerPrefix(p, avail, kPlainMarker);
      // The beginning of the keyless link's marker: which it is shows with
      // the rest of it, however the bytes were split into reads.
      if (plain && avail < kMarkerSize) break;
      if (!options_.restartable) {
        Fault(plain ? SecureFault::PlainPeer : SecureFault::Malformed, nowMs);
        break;
      }
      // A serial line or a modem call: noise, the rest of a broken
      // session, or a site speaking without a key.  The stream is resumed
      // at the next marker.
      if (state_ == State::Established) {
        Fault(SecureFault::Malformed, nowMs);
        continue;
      }
      if (plain) Fault(SecureFault::PlainPeer, nowMs);
      std::size_t skip = 1;
      while (skip < avail && !IsMarkerPrefix(p + skip, avail - skip, kMarker) &&
             !IsMarkerPrefix(p + skip, avail - skip, kPlainMarker))
        ++skip;
      pos += skip;
      continue;
    }
    if (avail < kHeaderSize) {
      // A message of ours has begun: its header is not complete yet.
      if (avail >= kMarkerSize) holdPartial();
      break;
    }

    const std::uint8_t kind = p[6];
    const std::uint32_t bodySize = GetLe32(p + 7);
    // The message's kind and size are judged before its body is waited for.
    SecureFault bad = SecureFault::None;
    if (kind == skRecord) {
      if (bodySize < kCounterSize + kTagSize)
        bad = SecureFault::Malformed;
      else if (bodySize - kCounterSize - kTagSize > options_.maxRecord)
        bad = SecureFault::Oversize;
    } else if (!BodySizeFits(kind, bodySize)) {
      bad = SecureFault::Malformed;
    }
    // And whether it has its place now.
    bool accepted = false;
    if (bad == SecureFault::None) {
      if (site_) {
        accepted = (kind == skReply && helloSent_) || (kind == skRefusal && helloSent_) ||
                   (kind == skRecord && state_ == State::Established) ||
                   (kind == skRestart && options_.restartable);
      } else {
        accepted = (kind == skHello &&
                    (options_.restartable || (!replySent_ && state_ != State::Established))) ||
                   (kind == skProof && replySent_) || (kind == skRefusal && replySent_) ||
                   (kind == skRecord && state_ == State::Established);
      }
      if (!accepted) bad = SecureFault::Unexpected;
    }
    if (bad != SecureFault::None) {
      if (!options_.restartable) {
        Fault(bad, nowMs);
        break;
      }
      // On a line that restarts, only a session's loss is a fault; what
      // comes outside a session is passed over.  A station that gets a
      // site's records or proof without having a session with it asks the
      // site to begin anew (the station was restarted, or noise broke the
      // handshake).
      if (state_ == State::Established)
        Fault(bad, nowMs);
      else if (!site_ && (kind == skRecord || kind == skProof))
        SendRestart(nowMs);
      pos += 1;
      continue;
    }

    const std::size_t total = kHeaderSize + bodySize;
    if (avail < total) {
      holdPartial();
      break;
    }
    partialBefore = false;
    pos += total;
    Handle(kind, p, total, nowMs);
  }
  if (state_ == State::Closed) {
    in_.clear();
    late_.clear();
    partial_ = false;
  } else {
    in_.Consume(pos);
  }
  inPass_ = false;
}

bool SecureChannel::Handle(std::uint8_t kind, std::uint8_t* msg, std::size_t size,
                           std::uint64_t nowMs) {
  switch (kind) {
    case skHello:
      return HandleHello(msg, size, nowMs);
    case skReply:
      return HandleReply(msg, nowMs);
    case skProof:
      if (!HandleProof(msg + kHeaderSize)) {
        Fault(SecureFault::ProofFailed, nowMs);
        return false;
      }
      return true;
    case skRecord:
      return HandleRecord(msg, size, nowMs);
    case skRefusal:
      return HandleRefusal(msg[kHeaderSize], nowMs);
    case skRestart:
      // The site: the station has no session with it.  A hello just sent
      // is already the answer.
      if (!(helloSent_ && nowMs - helloSentAt_ < kHelloGapMs)) SendHello(nowMs);
      return true;
    default:
      return false;
  }
}

bool SecureChannel::HandleHello(const std::uint8_t* msg, std::size_t size, std::uint64_t nowMs) {
  // A new hello on a line that restarts ends whatever session there was.
  Forget();
  state_ = State::Handshake;
  handshakeTimed_ = !options_.restartable;
  const std::uint8_t* body = msg + kHeaderSize;
  if (body[0] != kVersion) {
    Fault(SecureFault::Version, nowMs);
    return false;
  }
  const std::uint32_t id = GetLe32(body + 1);
  objectId_ = id;
  const ObjectKey found = lookup_ ? lookup_(id) : ObjectKey{};
  if (!found.known || found.key.Empty()) {
    SendRefusal(found.known ? Refusal::NoKey : Refusal::UnknownObject);
    Fault(found.known ? SecureFault::NoKey : SecureFault::UnknownObject, nowMs);
    return false;
  }
  key_ = found.key;
  std::memcpy(transcript_, msg, size);
  std::uint8_t* reply = transcript_ + size;
  PutHeader(reply, skReply, kReplyBody);
  Random(reply + kHeaderSize, kNonceSize);
  crypto_generichash(transcriptHash_, sizeof transcriptHash_, transcript_, sizeof transcript_,
                     nullptr, 0);
  std::uint8_t proof[kMacSize];
  Derive(proof, kLabelStation, transcriptHash_, key_);
  outbox_.Append(reply, kHeaderSize + kNonceSize);
  outbox_.Append(proof, kMacSize);
  replySent_ = true;
  restartSent_ = false;
  handshakeSince_ = nowMs;
  handshakeTimed_ = true;
  return true;
}

bool SecureChannel::AnswersAnEarlierHello(const std::uint8_t* reply) const {
  std::uint8_t t[sizeof transcript_], th[32], expected[kMacSize];
  bool found = false;
  for (std::size_t i = 0; i < earlierCount_ && !found; ++i) {
    std::memcpy(t, earlier_[i], sizeof earlier_[i]);
    std::memcpy(t + sizeof earlier_[i], reply, kHeaderSize + kNonceSize);
    crypto_generichash(th, sizeof th, t, sizeof t, nullptr, 0);
    Derive(expected, kLabelStation, th, key_);
    found = crypto_verify_32(expected, reply + kHeaderSize + kNonceSize) == 0;
  }
  sodium_memzero(th, sizeof th);
  sodium_memzero(expected, sizeof expected);
  return found;
}

bool SecureChannel::HandleReply(const std::uint8_t* msg, std::uint64_t nowMs) {
  std::memcpy(transcript_ + kHeaderSize + kHelloBody, msg, kHeaderSize + kNonceSize);
  crypto_generichash(transcriptHash_, sizeof transcriptHash_, transcript_, sizeof transcript_,
                     nullptr, 0);
  std::uint8_t expected[kMacSize];
  Derive(expected, kLabelStation, transcriptHash_, key_);
  const bool ok = crypto_verify_32(expected, msg + kHeaderSize + kNonceSize) == 0;
  sodium_memzero(expected, sizeof expected);
  // A late answer to a hello given up on: the present one's is still to come.
  if (!ok && AnswersAnEarlierHello(msg)) return true;
  helloSent_ = false;
  if (!ok) {
    // The station journals it too, at once rather than at its deadline.
    SendRefusal(Refusal::KeyMismatch);
    Fault(SecureFault::KeyMismatch, nowMs);
    return false;
  }
  std::uint8_t* proof = outbox_.Grow(kHeaderSize + kProofBody);
  PutHeader(proof, skProof, kProofBody);
  Derive(proof + kHeaderSize, kLabelSite, transcriptHash_, key_);
  DeriveKeys();
  state_ = State::Established;
  ++sessions_;
  faultSinceSession_ = false;
  if (OnEstablished) OnEstablished();
  return true;
}

bool SecureChannel::HandleProof(const std::uint8_t* body) {
  std::uint8_t expected[kMacSize];
  Derive(expected, kLabelSite, transcriptHash_, key_);
  const bool ok = crypto_verify_32(expected, body) == 0;
  sodium_memzero(expected, sizeof expected);
  replySent_ = false;
  if (!ok) return false;
  DeriveKeys();
  state_ = State::Established;
  ++sessions_;
  faultSinceSession_ = false;
  if (OnEstablished) OnEstablished();
  return true;
}

bool SecureChannel::HandleRecord(std::uint8_t* msg, std::size_t size, std::uint64_t nowMs) {
  const std::uint64_t counter = GetLe64(msg + kHeaderSize);
  if (counter != receiveCounter_) {
    // The counter is judged before the tag, to say why; either way the
    // record is not opened.
    Fault(counter < receiveCounter_ ? SecureFault::Replayed : SecureFault::OutOfOrder, nowMs);
    return false;
  }
  const std::size_t n = size - kRecordOverhead;
  std::uint8_t* cipher = msg + kRecordHead;
  const std::uint8_t* tag = cipher + n;
  std::uint8_t nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES];
  // The nonce is the counter this end expects, not the one on the line.
  NonceFor(nonce, receiveCounter_);
  const std::uint8_t* key = site_ ? keys_->toSite : keys_->toStation;
  const unsigned gen = generation_;
  std::span<std::uint8_t> room;
  if (PlainRoom && PlainCommit && n > 0) room = PlainRoom(n);
  std::uint8_t* out = room.size() >= n && n > 0 ? room.data() : cipher;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt_detached(out, nullptr, cipher, n, tag, msg,
                                                          kRecordHead, nonce, key) != 0) {
    Fault(SecureFault::AuthFailed, nowMs);
    return false;
  }
  ++receiveCounter_;
  if (n == 0) return true;
  if (out != cipher)
    PlainCommit(n);
  else if (OnPlain)
    OnPlain(std::span<std::uint8_t>(cipher, n));
  return gen == generation_;
}

bool SecureChannel::HandleRefusal(std::uint8_t reason, std::uint64_t nowMs) {
  SecureFault f = SecureFault::Malformed;
  if (site_) {
    switch (static_cast<Refusal>(reason)) {
      case Refusal::UnknownObject:
        f = SecureFault::RefusedUnknown;
        break;
      case Refusal::NoKey:
        f = SecureFault::RefusedNoKey;
        break;
      case Refusal::KeyRequired:
        f = SecureFault::RefusedKeyNeeded;
        break;
      default:
        break;
    }
  } else if (static_cast<Refusal>(reason) == Refusal::KeyMismatch) {
    f = SecureFault::RefusedMismatch;
  }
  Fault(f, nowMs);
  return false;
}

// ---------------------------------------------------------------- output

void SecureChannel::SealRecord(std::uint8_t* record, const std::uint8_t* plain, std::size_t n) {
  PutHeader(record, skRecord, kCounterSize + n + kTagSize);
  PutLe64(record + kHeaderSize, sendCounter_);
  std::uint8_t nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES];
  NonceFor(nonce, sendCounter_);
  const std::uint8_t* key = site_ ? keys_->toStation : keys_->toSite;
  crypto_aead_xchacha20poly1305_ietf_encrypt_detached(record + kRecordHead,
                                                      record + kRecordHead + n, nullptr, plain, n,
                                                      record, kRecordHead, nullptr, nonce, key);
  ++sendCounter_;
}

bool SecureChannel::Seal(std::span<const std::uint8_t> plain) {
  if (state_ != State::Established) return false;
  const std::uint8_t* p = plain.data();
  std::size_t left = plain.size();
  while (left > 0) {
    const std::size_t n = std::min(left, options_.maxRecord);
    SealRecord(outbox_.Grow(kRecordOverhead + n), p, n);
    p += n;
    left -= n;
  }
  return true;
}

std::size_t SecureChannel::SealedSize(std::size_t plainSize) const {
  const std::size_t records = (plainSize + options_.maxRecord - 1) / options_.maxRecord;
  return plainSize + records * kRecordOverhead;
}

std::size_t SecureChannel::SealInPlace(std::uint8_t* buffer, std::size_t plainSize) {
  if (state_ != State::Established || plainSize > options_.maxRecord) return 0;
  SealRecord(buffer, buffer + kRecordHead, plainSize);
  return kRecordOverhead + plainSize;
}

// ---------------------------------------------------------------- time

bool SecureChannel::Expired(std::uint64_t nowMs) const {
  if (state_ == State::Closed) return false;
  if (state_ == State::Handshake && handshakeTimed_ &&
      nowMs - handshakeSince_ >= options_.handshakeMs)
    return true;
  return partial_ && nowMs - partialSince_ >= options_.stallMs;
}

void SecureChannel::Tick(std::uint64_t nowMs) {
  if (state_ == State::Closed || inPass_) return;
  if (partial_ && nowMs - partialSince_ >= options_.stallMs) {
    // A message begun and never finished: the line lost bytes, or the peer
    // holds the connection with a half message.
    in_.clear();
    partial_ = false;
    Fault(SecureFault::Truncated, nowMs);
    if (state_ == State::Closed) return;
  }
  if (state_ == State::Handshake && handshakeTimed_ &&
      nowMs - handshakeSince_ >= options_.handshakeMs) {
    Fault(SecureFault::HandshakeTimeout, nowMs);
    return;
  }
  if (site_ && retryDue_ && nowMs >= retryAt_) SendHello(nowMs);
}

// ---------------------------------------------------------------- texts

const char* SecureFaultName(SecureFault f) {
  switch (f) {
    case SecureFault::None:
      return "none";
    case SecureFault::Malformed:
      return "malformed";
    case SecureFault::Version:
      return "version";
    case SecureFault::PlainPeer:
      return "plain-peer";
    case SecureFault::UnknownObject:
      return "unknown-object";
    case SecureFault::NoKey:
      return "no-key";
    case SecureFault::KeyMismatch:
      return "key-mismatch";
    case SecureFault::ProofFailed:
      return "proof-failed";
    case SecureFault::RefusedUnknown:
      return "refused-unknown";
    case SecureFault::RefusedNoKey:
      return "refused-no-key";
    case SecureFault::RefusedMismatch:
      return "refused-mismatch";
    case SecureFault::RefusedKeyNeeded:
      return "refused-key-needed";
    case SecureFault::HandshakeTimeout:
      return "handshake-timeout";
    case SecureFault::Unexpected:
      return "unexpected";
    case SecureFault::AuthFailed:
      return "auth-failed";
    case SecureFault::Replayed:
      return "replayed";
    case SecureFault::OutOfOrder:
      return "out-of-order";
    case SecureFault::Truncated:
      return "truncated";
    case SecureFault::Oversize:
      return "oversize";
  }
  return "?";
}

std::string SecureFaultText(SecureFault f, SecureRole role) {
  const bool site = role == SecureRole::Site;
  switch (f) {
    case SecureFault::None:
      return {};
    case SecureFault::Malformed:
      return "получены данные, не являющиеся сообщением защищённой связи; сеанс связи прерван";
    case SecureFault::Version:
      return "запрос защищённой связи другой версии; установите одну версию программы на объекте "
             "и на сервере";
    case SecureFault::PlainPeer:
      return site ? "сервер передаёт без ключа связи: задайте тот же ключ в записи объекта на "
                    "сервере или удалите ключ в настройках связи объекта"
                  : "объект передаёт без ключа связи, а в записи объекта задан ключ: задайте тот "
                    "же ключ в настройках связи на объекте или удалите ключ из записи объекта";
    case SecureFault::UnknownObject:
      return "запрос защищённой связи от объекта, которого нет в списке объектов: добавьте объект "
             "с этим номером и его ключом связи";
    case SecureFault::NoKey:
      return "объект просит защищённую связь, но в записи объекта нет ключа связи: задайте в "
             "записи объекта тот же ключ, что на объекте";
    case SecureFault::KeyMismatch:
      return "ключ связи сервера не совпадает с ключом объекта: задайте один и тот же ключ в "
             "настройках связи объекта и в записи объекта на сервере";
    case SecureFault::ProofFailed:
      return "объект не подтвердил ключ связи: ключ не совпадает с ключом в записи объекта или "
             "соединение подделано";
    case SecureFault::RefusedUnknown:
      return "сервер не знает объекта с этим номером: проверьте номер объекта здесь и в записи "
             "объекта на сервере";
    case SecureFault::RefusedNoKey:
      return "у сервера нет ключа связи для этого объекта: задайте тот же ключ в записи объекта "
             "на сервере";
    case SecureFault::RefusedMismatch:
      return "ключ связи объекта не совпадает с ключом в записи объекта: задайте один и тот же "
             "ключ на объекте и на сервере";
    case SecureFault::RefusedKeyNeeded:
      return "сервер требует ключ связи для этого объекта: задайте в настройках связи тот же "
             "ключ, что в записи объекта на сервере";
    case SecureFault::HandshakeTimeout:
      return site ? "сервер не ответил на запрос защищённой связи: задан ли ключ связи в записи "
                    "объекта на сервере?"
                  : "защищённая связь не установлена вовремя";
    case SecureFault::Unexpected:
      return "сообщение защищённой связи не на своём месте; сеанс связи прерван";
    case SecureFault::AuthFailed:
      return "сообщение не прошло проверку подлинности (изменено, подделано или из другого "
             "сеанса); сеанс связи прерван";
    case SecureFault::Replayed:
      return "повторно получено уже принятое сообщение; сеанс связи прерван";
    case SecureFault::OutOfOrder:
      return "сообщения пришли не по порядку, часть пропущена; сеанс связи прерван";
    case SecureFault::Truncated:
      return "сообщение оборвано на середине; сеанс связи прерван";
    case SecureFault::Oversize:
      return "сообщение больше допустимого размера; сеанс связи прерван";
  }
  return {};
}

// ---------------------------------------------------------------- keyless links

LinkStartScan DetectLinkStart(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t left = n - i;
    const bool plain = IsMarkerPrefix(p + i, left, kPlainMarker);
    const bool sec = IsMarkerPrefix(p + i, left, kMarker);
    if (!plain && !sec) continue;
    if (left < kMarkerSize) return {LinkStart::NeedMore, i};
    return {plain ? LinkStart::Plain : LinkStart::Secure, i};
  }
  return {LinkStart::NeedMore, n};
}

std::vector<std::uint8_t> BuildRefusal(Refusal reason) {
  std::vector<std::uint8_t> m(kHeaderSize + 1);
  std::memcpy(m.data(), kMarker, kMarkerSize);
  m[6] = skRefusal;
  PutLe32(m.data() + 7, 1);
  m[kHeaderSize] = static_cast<std::uint8_t>(reason);
  return m;
}

SecureFault FindRefusal(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  for (std::size_t i = 0; i + kHeaderSize + 1 <= bytes.size(); ++i) {
    if (std::memcmp(p + i, kMarker, kMarkerSize) != 0 || p[i + 6] != skRefusal ||
        GetLe32(p + i + 7) != 1)
      continue;
    switch (static_cast<Refusal>(p[i + kHeaderSize])) {
      case Refusal::KeyRequired:
        return SecureFault::RefusedKeyNeeded;
      case Refusal::NoKey:
        return SecureFault::RefusedNoKey;
      case Refusal::UnknownObject:
        return SecureFault::RefusedUnknown;
      case Refusal::KeyMismatch:
        return SecureFault::RefusedMismatch;
    }
  }
  return SecureFault::None;
}

}  // namespace zv

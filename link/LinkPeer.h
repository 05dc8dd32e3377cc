#pragma once
#include <string>
#include <utility>

namespace zv {

// One source of link messages at the station: a TCP connection, the direct
// serial line or a modem data call.  A peer speaks for one Object: the first
// picture message it sends binds it to that Object's ID, and a message for
// any other Object on it is refused.  A peer that proved its Object's link
// key is bound by the handshake instead.
class LinkPeer {
 public:
  static constexpr int kUnbound = -1;
  explicit LinkPeer(std::string address = {}) : address_(std::move(address)) {}

  const std::string& Address() const { return address_; }
  void SetAddress(std::string a) { address_ = std::move(a); }
  // The ID of the Object this peer speaks for; kUnbound until it is known.
  int ObjectId() const { return objectId_; }
  bool Bound() const { return objectId_ != kUnbound; }
  void Bind(int objectId) { objectId_ = objectId; }
  // A new connection on the same line: nothing is known of it any more.
  void Reset() {
    objectId_ = kUnbound;
    unknownReported_ = foreignReported_ = false;
    secure_ = keyRefused_ = false;
  }

  // The peer proved its Object's link key; bound by the handshake.
  bool Secure() const { return secure_; }
  void SetSecure(bool s) { secure_ = s; }
  // A keyless peer spoke for an Object that has a key: refused, and
  // nothing more it sends counts while that Object keeps its key.
  bool KeyRefused() const { return keyRefused_; }
  int RefusedFor() const { return refusedFor_; }
  void RefuseKeyless(int objectId) {
    keyRefused_ = true;
    refusedFor_ = objectId;
  }
  void LiftRefusal() { keyRefused_ = false; }

  // Each kind of refusal is journaled once per connection, so a peer that
  // keeps sending cannot flood the journal.
  bool FirstUnknown() { return !std::exchange(unknownReported_, true); }
  bool FirstForeign() { return !std::exchange(foreignReported_, true); }

 private:
  std::string address_;
  int objectId_ = kUnbound;
  bool unknownReported_ = false;
  bool foreignReported_ = false;
  bool secure_ = false;
  bool keyRefused_ = false;
  int refusedFor_ = kUnbound;
};

}  // namespace zv

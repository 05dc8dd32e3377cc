#pragma once
// The framed link messages between a site and the station, the receive
// assembler that finds them in a byte stream (one per connection or serial
// line), and the unframed picture stream of a modem data connection.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace zv {

namespace link {
constexpr std::size_t kMarkerSize = 6;
constexpr std::size_t kHeaderSize = 19;
constexpr std::int32_t kMinLength = 19;
constexpr std::int32_t kMaxLength = 999999;
constexpr std::size_t kReceiveBufferSize = 2100000;
constexpr std::size_t kGarbageLimit = 2000000;
constexpr std::size_t kModemBufferSize = 1000000;

enum MessageType : std::uint8_t { mtPicture = 1, mtArm = 2, mtDisarm = 3 };
}  // namespace link

// A complete message as the assembler hands it over.  The bytes stay valid
// only during the handler's call.
struct LinkMessage {
  std::int32_t Length = 0;
  std::uint8_t Type = 0;
  std::uint8_t Arg1 = 0, Arg2 = 0, Arg3 = 0, Arg4 = 0;
  std::uint32_t Trailer = 0;  // the message's last four bytes
  const std::uint8_t* Payload = nullptr;
  std::size_t PayloadSize = 0;
};

// The 19 header bytes of a message: marker, Length, Type, Arg1..Arg4, 0.
std::vector<std::uint8_t> BuildHeader(std::int32_t length, std::uint8_t type, std::uint8_t arg1,
                                      std::uint8_t arg2, std::uint8_t arg3, std::uint8_t arg4);
// A whole arm (armed) or disarm command for the Object at list position index.
std::vector<std::uint8_t> BuildCommand(bool armed, int index);

class LinkAssembler {
 public:
  using Handler = std::function<void(const LinkMessage&)>;
  explicit LinkAssembler(Handler handler) : handler_(std::move(handler)) {}

  // Room left for the next read; a read never takes more than this.
  std::size_t Space() const { return link::kReceiveBufferSize - end_; }
  // Where the next read's bytes go (valid for Space() bytes).
  std::uint8_t* WritePtr();
  // Bytes arriving while a message is being handled (a handler that lets
  // events run) are only stored; the running pass takes them in.
  // The caller has placed count bytes at WritePtr(): every complete message
  // now held is handed to the handler, in order.
  void ReceiveBytes(std::size_t count);
  // Copies count bytes in and handles them (reads larger than the room are
  // taken in pieces).
  void Feed(const void* data, std::size_t count);

  // Takes a receive buffer of kReceiveBufferSize bytes allocated elsewhere
  // (at start-up) instead of allocating its own; ignored once it has one.
  void AdoptBuffer(std::unique_ptr<std::uint8_t[]> buf) {
    if (!buf_) buf_ = std::move(buf);
  }

  std::size_t Held() const { return end_; }
  bool Searching() const { return searching_; }
  // Forgets every byte held, as for a new connection: a half message of the
  // old one must not take in the first bytes of the next.  Not while a
  // message is being handled.
  void Reset();
  long long Handled() const { return handled_; }

 private:
  void Search(std::size_t count);
  Handler handler_;
  // Allocated on first use and never moved, so a message handed over stays
  // in place while its handler runs; pages are touched only as they fill.
  std::unique_ptr<std::uint8_t[]> buf_;
  std::size_t end_ = 0;      // bytes held
  std::size_t scan_ = 0;     // next start position to try for a marker
  std::int32_t length_ = 0;  // of the message being collected
  bool searching_ = true;
  long long handled_ = 0;
  bool inPass_ = false;
};

// The site's status as a picture of the modem stream carries it: a comment
// segment right after the JPEG start marker, which decoders skip.
struct PictureStatus {
  std::uint8_t ObjectId = 0;   // the site's Object ID
  std::uint8_t Camera = 0;     // the site's camera number, 1..
  std::uint8_t Block[4] = {};  // armed flag, gauge enabled, gauge alarm, camera alarm masks
};
// The JPEG picture with the status segment added (unchanged when it does not
// start with a JPEG start marker).
std::vector<std::uint8_t> AddStatusSegment(std::span<const std::uint8_t> jpeg,
                                           const PictureStatus& status);
// Finds the status segment among the segments before the picture data.
bool ReadStatusSegment(const std::uint8_t* jpeg, std::size_t size, PictureStatus& status);

// The station's receiver of the modem picture stream: a 32-bit count and
// that many JPEG bytes, picture after picture.  The stream has no marker of
// its own, but every picture begins with the JPEG start marker: where a count
// is impossible or not followed by one, the stream has lost its place (bytes
// lost or added on the line), and the receiver looks for the next count that
// is followed by a picture's start.  What it hands over does not depend on
// how the bytes were split into reads.
class ModemPictureReceiver {
 public:
  using Handler = std::function<void(const std::uint8_t* jpeg, std::size_t size)>;
  // Told once each time the stream loses its place, with the count found
  // there.
  using Lost = std::function<void(std::uint32_t declared)>;
  ModemPictureReceiver(Handler onPicture, Lost onLost)
      : onPicture_(std::move(onPicture)), onLost_(std::move(onLost)) {}

  // Appends the bytes and hands over every complete picture held.
  void Receive(const std::uint8_t* data, std::size_t count);
  std::size_t Held() const { return held_.size(); }
  void Reset() {
    held_.clear();
    lost_ = false;
  }

 private:
  Handler onPicture_;
  Lost onLost_;
  std::vector<std::uint8_t> held_;
  bool lost_ = false;  // between a loss of place and the next picture
};

}  // namespace zv

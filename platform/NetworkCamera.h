#pragma once
// A camera on the network: an RTSP or HTTP stream (or anything the
// implementation can open, a file for instance) decoded on a worker thread
// of its own and handed to the main thread one picture at a time.
//
// Pictures arrive in the program's own layout: 24-bit BGR, rows stored
// bottom-up, each row padded to a multiple of 4 bytes, scaled to the size
// asked for.  At most one decoded picture per camera waits for the main
// loop; a newer one replaces it, so a slow loop costs frames, never latency
// or memory.  The worker never waits for the main loop.
//
// A source that cannot be reached or stops delivering is reported lost
// once, retried with a growing pause, and reported back once pictures flow
// again.  Every network wait is bounded, and Stop() ends a connection
// attempt at once.
//
// Credentials are kept apart from the address: they are put into the
// address only when it is opened, and every text that leaves the source
// (loss reasons, the decoder library's log) has them removed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Dispatcher.h"

namespace zv {

enum class NetTransport { Tcp, Udp };

struct NetworkCameraConfig {
  std::string url;  // as the user typed it, without credentials
  std::string user, password;
  NetTransport transport = NetTransport::Tcp;  // RTSP only
  // Size of the delivered pictures; 0 x 0: the stream's own size.
  int width = 0, height = 0;
  // Most pictures per second handed on; 0 or less: every decoded picture.
  double maxFps = 0;
  unsigned openTimeoutMs = 5000;  // connecting, up to the first picture
  unsigned readTimeoutMs = 5000;  // longest time without a picture once streaming
  unsigned retryFirstMs = 1000;   // pause before the first retry
  unsigned retryMaxMs = 30000;    // the pause doubles up to this
  int decoderThreads = 1;
  // A local file is played at its own pace and starts over at its end (it
  // stands in for a camera); false plays it as fast as it decodes, once.
  bool paceFiles = true;
};

// One picture, in the program's picture layout.
struct NetFrame {
  int width = 0, height = 0, stride = 0;
  std::vector<std::uint8_t> pixels;  // stride * height bytes, bottom row first
  TDateTime stamp = 0;               // local time the picture was decoded
  std::uint64_t sequence = 0;        // counts decoded pictures handed on, from 1
  static int StrideFor(int width) { return (width * 3 + 3) & ~3; }
};

// What a camera tells the main thread.  Each runs on the main thread, through
// the dispatcher, and never after Stop() has returned.
struct NetworkCameraEvents {
  std::function<void(const NetFrame&)> onFrame;
  // The source cannot be reached or stopped delivering: reported once, with
  // the reason (the address without credentials and the error).
  std::function<void(const std::string& reason)> onLost;
  // Pictures flow again after a loss.
  std::function<void()> onReturned;
};

struct NetworkCameraStats {
  std::uint64_t decoded = 0;   // pictures decoded
  std::uint64_t offered = 0;   // pictures handed towards the main thread
  std::uint64_t replaced = 0;  // of those, replaced by a newer one before the loop took it
  std::uint64_t delivered = 0;
  std::uint64_t attempts = 0;  // connection attempts
  bool streaming = false;
};

class INetworkCamera {
 public:
  virtual ~INetworkCamera() = default;
  // Starts the worker (it connects, and reconnects after a loss).
  virtual void Start() = 0;
  // Stops the worker; no event of this camera runs after it returns.  Call
  // it on the main thread.
  virtual void Stop() = 0;
  virtual bool Running() const = 0;
  virtual NetworkCameraStats Stats() const = 0;
};

class INetworkCameraFactory {
 public:
  virtual ~INetworkCameraFactory() = default;
  virtual std::unique_ptr<INetworkCamera> Create(const NetworkCameraConfig& config,
                                                 IDispatcher& dispatcher,
                                                 NetworkCameraEvents events) = 0;
};

// --- addresses and credentials

// True for an address with a network scheme (rtsp://, http://, ...); false
// for a file name or a file: address.
bool IsNetworkUrl(const std::string& url);
// The address without any user name or password in it.
std::string RedactUrl(const std::string& url);
// The address with user and password (percent-encoded) as its user part,
// replacing any it had; the address unchanged when user is empty or it has
// no network scheme.
std::string InsertCredentials(const std::string& url, const std::string& user,
                              const std::string& password);
// Takes user and password (percent-decoded) out of an address typed with
// them; false, url unchanged, when it has none.
bool SplitCredentials(std::string& url, std::string& user, std::string& password);
// Percent-encoding of the user part of an address (RFC 3986 unreserved
// characters kept).
std::string PercentEncode(const std::string& text);

// Removes secrets from a line of text before it goes to any log: the user
// part of every address, every "Authorization:" header value, and every
// secret string given (with its percent-encoded and base64 forms of
// "user:password").
class SecretRedactor {
 public:
  // Adds the credentials of a camera (kept until removed).
  void Add(const std::string& user, const std::string& password);
  void Remove(const std::string& user, const std::string& password);
  std::string Redact(std::string text) const;

 private:
  std::vector<std::string> secrets_;
};

// The base64 form of text (for the "user:password" of basic authentication).
std::string Base64(const std::string& text);

}  // namespace zv

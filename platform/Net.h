#pragma once
// TCP for the site-station link: a non-blocking client and a non-blocking
// listener whose events (data, connection up, disconnect, error) arrive on
// the main loop.  Nothing here ever blocks the loop: sends are queued, and a
// queue that grows past its bound means the peer stopped reading, so the
// connection is dropped.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace zv {

class INetSocket {
 public:
  // Output a socket may hold unsent before its peer counts as dead.
  static constexpr std::size_t kMaxPending = 8u * 1024 * 1024;

  virtual ~INetSocket() = default;
  // The connection is up.
  virtual bool Connected() const = 0;
  virtual std::size_t BytesAvailable() const = 0;
  virtual std::size_t Read(void* buffer, std::size_t max) = 0;
  // Queues bytes to send.  False when not connected, or when the bytes would
  // pass kMaxPending: the connection is then dropped (OnDisconnect follows).
  virtual bool Send(const void* data, std::size_t count) = 0;
  // Bytes queued and not yet handed to the system.
  virtual std::size_t Pending() const = 0;
  // Closes at once, dropping what is queued; no OnDisconnect follows.
  virtual void Close() = 0;
  virtual std::string PeerAddress() const = 0;

  std::function<void()> OnData;
  std::function<void()> OnConnected;
  std::function<void()> OnDisconnect;
  std::function<void(const std::string&)> OnError;
};

class INetClient : public INetSocket {
 public:
  // Starts connecting to a numeric IPv4 address; returns at once.  False
  // when the address is not one.
  virtual bool Open(const std::string& address, int port) = 0;
  // Connecting or connected.
  virtual bool Active() const = 0;
};

class INetListener {
 public:
  virtual ~INetListener() = default;
  // Listens on all addresses; port 0 picks a free port.
  virtual bool Listen(int port) = 0;
  virtual void Close() = 0;
  virtual bool Active() const = 0;
  virtual int Port() const = 0;
  // A new connection, owned by the callee from now on.
  std::function<void(std::unique_ptr<INetSocket>)> OnAccept;
};

class INetFactory {
 public:
  virtual ~INetFactory() = default;
  virtual std::unique_ptr<INetClient> CreateClient() = 0;
  virtual std::unique_ptr<INetListener> CreateListener() = 0;
};

}  // namespace zv

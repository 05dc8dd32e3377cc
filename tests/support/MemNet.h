#pragma once
// An in-memory network behind the platform's TCP interfaces (platform/Net.h),
// for tests of the link: no sockets, no threads, no clock.  Nothing happens
// by itself: Run() moves sent bytes toward their readers and delivers the
// events (accept, connected, data, disconnect, error) one at a time in the
// order they arose, until nothing is left to do.  A test can hold back
// either direction of a connection (a peer that stops reading, a stalled
// line) and kill an end (its process died: the peer still reads what had
// reached it, then gets its disconnect).
//
// Like the program's sockets: a Send that would leave more than
// INetSocket::kMaxPending bytes unsent drops the connection (OnDisconnect
// runs at once, inside Send); Close drops what is queued and raises nothing
// on its own side; connecting where nobody listens ends in OnError.
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Net.h"

namespace zv::test {

class MemNet final : public INetFactory {
 public:
  MemNet();
  ~MemNet() override;
  MemNet(const MemNet&) = delete;
  MemNet& operator=(const MemNet&) = delete;

  std::unique_ptr<INetClient> CreateClient() override;
  std::unique_ptr<INetListener> CreateListener() override;

  // Moves bytes and delivers events until nothing is left (or maxEvents ran);
  // returns the number of events delivered.
  int Run(int maxEvents = 1000000);

  // What one end's system buffers take before the sender's bytes must wait
  // in its own queue (Pending).
  std::size_t window = 256 * 1024;

  // What s sends stays queued at s (the line stalls; the peer takes nothing).
  void HoldOutput(const INetSocket& s, bool hold);
  // What is sent toward s stays queued at its peer (s stops reading).
  void HoldInput(const INetSocket& s, bool hold);
  // The process that owns s is gone: whatever s had not handed over is lost,
  // s itself hears nothing more; its peer reads what had reached it and then
  // gets its disconnect.
  void Kill(const INetSocket& s);

  // Every connection attempt, address and port, in order.
  std::vector<std::pair<std::string, int>> attempts;
  // Connections with both ends still open.
  int OpenConnections() const;
  // Bytes delivered so far to readers, all connections together.
  std::size_t delivered = 0;

  struct Conn;
  class Socket;
  class Listener;

 private:
  friend class Socket;
  friend class Listener;
  struct Event {
    int target;  // socket or listener id
    enum Kind { Connect, Accept, Connected, Data, Disconnect, Error } kind;
    std::string text;
    int port = 0;     // connect: the port; accept: the accepted socket
    int attempt = 0;  // connect: the client's attempt it belongs to
  };
  void Post(Event e) { events_.push_back(std::move(e)); }
  bool Transfer();
  void Deliver(const Event& e);
  void EndClosed(Conn& c, int side);

  int nextId_ = 1;
  int nextPort_ = 40000;
  std::map<int, Socket*> sockets_;
  std::map<int, Listener*> listeners_;
  std::map<int, std::unique_ptr<Socket>> unaccepted_;  // by listener-side socket id
  std::vector<std::shared_ptr<Conn>> conns_;
  std::deque<Event> events_;
};

}  // namespace zv::test

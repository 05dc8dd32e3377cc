#include "support/MemNet.h"

#include <arpa/inet.h>

#include <algorithm>

namespace zv::test {

struct MemNet::Conn {
  struct End {
    int socket = 0;   // id of the socket at this end; 0 once it is gone
    std::string out;  // sent, not yet taken by the line
    std::string in;   // arrived, not yet read
    bool open = true;
    bool holdOut = false, holdIn = false;
    bool dataPosted = false;
  };
  End end[2];  // 0: the connecting side, 1: the accepted side
};

class MemNet::Socket final : public INetClient {
 public:
  Socket(MemNet& net) : net_(net), id_(net.nextId_++) { net_.sockets_[id_] = this; }
  ~Socket() override {
    Drop();
    net_.sockets_.erase(id_);
  }
  int Id() const { return id_; }

  bool Open(const std::string& address, int port) override {
    in_addr a;
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
    Drop();
    state_ = Connecting;
    net_.attempts.emplace_back(address, port);
    net_.Post({id_, Event::Connect, address, port, ++attempt_});
    return true;
  }
  bool Active() const override { return state_ != Unconnected; }
  bool Connected() const override { return state_ == IsConnected; }
  std::size_t BytesAvailable() const override { return conn_ ? End().in.size() : 0; }
  std::size_t Read(void* buffer, std::size_t max) override {
    if (!conn_) return 0;
    std::string& in = End().in;
    const std::size_t n = std::min(max, in.size());
    std::copy_n(in.data(), n, static_cast<char*>(buffer));
    in.erase(0, n);
    net_.delivered += n;
    return n;
  }
  bool Send(const void* data, std::size_t count) override {
    if (!Connected()) return false;
    std::string& out = End().out;
    if (out.size() + count > kMaxPending) {
      // The peer stopped reading: the connection is dropped, as the
      // program's sockets do, and the owner hears of it at once.
      Drop();
      if (OnDisconnect) OnDisconnect();
      return false;
    }
    out.append(static_cast<const char*>(data), count);
    return true;
  }
  std::size_t Pending() const override { return conn_ ? End().out.size() : 0; }
  void Close() override { Drop(); }
  std::string PeerAddress() const override { return "127.0.0.1"; }

  // The connection ends here: queued output is lost, the peer is told.
  void Drop() {
    state_ = Unconnected;
    if (!conn_) return;
    Conn& c = *conn_;
    c.end[side_].out.clear();
    c.end[side_].in.clear();
    c.end[side_].socket = 0;
    net_.EndClosed(c, side_);
    conn_.reset();
  }
  void Attach(std::shared_ptr<Conn> c, int side) {
    conn_ = std::move(c);
    side_ = side;
    conn_->end[side].socket = id_;
    state_ = IsConnected;
  }
  // The peer's disconnect reached this end.
  void Lost() {
    state_ = Unconnected;
    if (conn_) conn_->end[side_].socket = 0;
    conn_.reset();
  }
  bool Killed() const { return killed_; }
  void Kill() {
    killed_ = true;
    Drop();
  }
  enum State { Unconnected, Connecting, IsConnected };
  State state() const { return state_; }
  Conn* conn() const { return conn_.get(); }
  int side() const { return side_; }
  int attempt() const { return attempt_; }

 private:
  Conn::End& End() const { return conn_->end[side_]; }
  MemNet& net_;
  const int id_;
  State state_ = Unconnected;
  std::shared_ptr<Conn> conn_;
  int side_ = 0;
  bool killed_ = false;
  int attempt_ = 0;  // an event of an earlier attempt finds a later one
};

class MemNet::Listener final : public INetListener {
 public:
  explicit Listener(MemNet& net) : net_(net), id_(net.nextId_++) { net_.listeners_[id_] = this; }
  ~Listener() override { net_.listeners_.erase(id_); }
  bool Listen(int port) override {
    Close();
    if (port == 0) port = net_.nextPort_++;
    for (const auto& [id, l] : net_.listeners_)
      if (l != this && l->Active() && l->Port() == port) return false;
    port_ = port;
    return true;
  }
  void Close() override { port_ = 0; }
  bool Active() const override { return port_ != 0; }
  int Port() const override { return port_; }
  int Id() const { return id_; }

 private:
  MemNet& net_;
  const int id_;
  int port_ = 0;
};

MemNet::MemNet() = default;
MemNet::~MemNet() = default;

std::unique_ptr<INetClient> MemNet::CreateClient() {
  return std::make_unique<Socket>(*this);
}

std::unique_ptr<INetListener> MemNet::CreateListener() {
  return std::make_unique<Listener>(*this);
}

namespace {
MemNet::Socket* Find(const std::map<int, MemNet::Socket*>& m, int id) {
  const auto it = m.find(id);
  return it == m.end() ? nullptr : it->second;
}
}  // namespace

void MemNet::EndClosed(Conn& c, int side) {
  c.end[side].open = false;
  Conn::End& peer = c.end[1 - side];
  // The peer reads what reached it first, then hears of the disconnect.
  if (peer.open && peer.socket) Post({peer.socket, Event::Disconnect, "", 0});
}

bool MemNet::Transfer() {
  bool moved = false;
  for (const auto& c : conns_)
    for (int s = 0; s < 2; ++s) {
      Conn::End& from = c->end[s];
      Conn::End& to = c->end[1 - s];
      if (from.out.empty() || from.holdOut || to.holdIn || !to.open || !to.socket) continue;
      if (to.in.size() >= window) continue;
      const std::size_t n = std::min(from.out.size(), window - to.in.size());
      to.in.append(from.out, 0, n);
      from.out.erase(0, n);
      moved = true;
      if (!to.dataPosted) {
        to.dataPosted = true;
        // Data before any disconnect already queued for that end.
        const auto firstDisconnect = std::find_if(
            events_.begin(), events_.end(),
            [&](const Event& e) { return e.target == to.socket && e.kind == Event::Disconnect; });
        events_.insert(firstDisconnect, {to.socket, Event::Data, "", 0});
      }
    }
  // Connections whose both ends are gone are forgotten.
  conns_.erase(std::remove_if(conns_.begin(), conns_.end(),
                              [](const auto& c) { return !c->end[0].socket && !c->end[1].socket; }),
               conns_.end());
  return moved;
}

void MemNet::Deliver(const Event& e) {
  switch (e.kind) {
    case Event::Connect: {
      Socket* client = Find(sockets_, e.target);
      if (!client || client->state() != Socket::Connecting || client->attempt() != e.attempt)
        return;
      Listener* target = nullptr;
      for (const auto& [id, l] : listeners_)
        if (l->Active() && l->Port() == e.port) target = l;
      if (!target) {
        client->Drop();
        Post({client->Id(), Event::Error, "Connection refused", 0});
        return;
      }
      auto c = std::make_shared<Conn>();
      conns_.push_back(c);
      auto server = std::make_unique<Socket>(*this);
      server->Attach(c, 1);
      client->Attach(c, 0);
      const int sid = server->Id();
      unaccepted_[sid] = std::move(server);
      Post({target->Id(), Event::Accept, "", sid});
      Post({client->Id(), Event::Connected, "", 0});
      return;
    }
    case Event::Accept: {
      auto it = unaccepted_.find(e.port);
      if (it == unaccepted_.end()) return;
      std::unique_ptr<Socket> s = std::move(it->second);
      unaccepted_.erase(it);
      const auto l = listeners_.find(e.target);
      if (l == listeners_.end() || !l->second->Active() || !l->second->OnAccept) return;  // reset
      l->second->OnAccept(std::move(s));
      return;
    }
    default:
      break;
  }
  Socket* s = Find(sockets_, e.target);
  if (!s || s->Killed()) return;
  switch (e.kind) {
    case Event::Connected:
      if (s->Connected() && s->OnConnected) s->OnConnected();
      break;
    case Event::Data:
      if (s->conn()) s->conn()->end[s->side()].dataPosted = false;
      if (s->BytesAvailable() > 0 && s->OnData) s->OnData();
      break;
    case Event::Disconnect:
      if (!s->conn()) break;  // closed meanwhile by its owner
      s->Lost();
      if (s->OnDisconnect) s->OnDisconnect();
      break;
    case Event::Error:
      if (s->OnError) s->OnError(e.text);
      break;
    default:
      break;
  }
}

int MemNet::Run(int maxEvents) {
  int ran = 0;
  while (ran < maxEvents) {
    Transfer();
    if (events_.empty()) break;
    const Event e = events_.front();
    events_.pop_front();
    Deliver(e);
    ++ran;
  }
  return ran;
}

void MemNet::HoldOutput(const INetSocket& s, bool hold) {
  const auto& sock = static_cast<const Socket&>(s);
  if (sock.conn()) sock.conn()->end[sock.side()].holdOut = hold;
}

void MemNet::HoldInput(const INetSocket& s, bool hold) {
  const auto& sock = static_cast<const Socket&>(s);
  if (sock.conn()) sock.conn()->end[sock.side()].holdIn = hold;
}

void MemNet::Kill(const INetSocket& s) {
  const_cast<Socket&>(static_cast<const Socket&>(s)).Kill();
}

int MemNet::OpenConnections() const {
  int n = 0;
  for (const auto& c : conns_)
    if (c->end[0].open && c->end[1].open && c->end[0].socket && c->end[1].socket) ++n;
  return n;
}

}  // namespace zv::test

#include "platform/MosquittoClient.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace zv {

namespace {

std::once_flag gLibInit;

std::string ErrorText(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(rc);
}

}  // namespace

struct MosquittoClient::Shared {
  MqttOptions opt;
  mosquitto* m = nullptr;
  std::thread worker;

  std::mutex mu;  // guards everything below
  std::condition_variable cv;
  bool stop = false;
  bool done = false;
  std::vector<std::pair<std::string, int>> subscriptions;
  int wakeFds[2] = {-1, -1};  // interrupts the TCP probe

  std::atomic<bool> connected{false};
  std::atomic<int> refusal{0};  // the broker's refusal code of the last attempt

  // The main side of the client: set by Start, used to post events.
  IDispatcher* dispatcher = nullptr;
  MosquittoClient* owner = nullptr;
  std::shared_ptr<bool> alive;

  ~Shared() {
    if (m) mosquitto_destroy(m);
    for (int fd : wakeFds)
      if (fd >= 0) ::close(fd);
  }

  // Runs fn with the client on the main loop, unless the client was stopped.
  template <class Fn>
  void Post(Fn fn) {
    std::lock_guard lk(mu);
    if (stop) return;
    dispatcher->Post([alive = alive, owner = owner, fn = std::move(fn)] {
      if (*alive) fn(*owner);
    });
  }

  bool Stopping() {
    std::lock_guard lk(mu);
    return stop;
  }

  // Waits ms, or less when stopped.
  void Wait(int ms) {
    std::unique_lock lk(mu);
    cv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return stop; });
  }

  // Whether a TCP connection to the broker can be made within the connect
  // time-out; the reason when not.
  bool Probe(std::string& reason) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const std::string port = std::to_string(opt.port);
    const int gai = ::getaddrinfo(opt.host.c_str(), port.c_str(), &hints, &res);
    if (gai != 0) {
      reason = std::string("адрес не найден: ") + ::gai_strerror(gai);
      return false;
    }
    bool ok = false;
    reason = "нет ответа";
    for (addrinfo* a = res; a && !ok; a = a->ai_next) {
      const int fd =
          ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
      if (fd < 0) continue;
      int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
      if (rc == 0) {
        ok = true;
      } else if (errno == EINPROGRESS) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFds[0], POLLIN, 0}};
        rc = ::poll(p, 2, opt.connectTimeoutMs);
        if (rc > 0 && (p[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
          int err = 0;
          socklen_t len = sizeof err;
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
          if (err == 0)
            ok = true;
          else
            reason = std::strerror(err);
        }
      } else {
        reason = std::strerror(errno);
      }
      ::close(fd);
    }
    ::freeaddrinfo(res);
    return ok;
  }

  void Run() {
    int delay = opt.reconnectMinMs;
    bool first = true;
    while (!Stopping()) {
      if (!first) {
        Wait(delay);
        if (Stopping()) break;
        delay = std::min(delay * 2, opt.reconnectMaxMs);
      }
      first = false;
      std::string reason;
      if (!Probe(reason)) {
        Post([reason](MosquittoClient& c) {
          if (c.OnDisconnected) c.OnDisconnected(reason);
        });
        continue;
      }
      refusal = 0;
      int rc = mosquitto_connect(m, opt.host.c_str(), opt.port, opt.keepAliveSeconds);
      if (rc != MOSQ_ERR_SUCCESS) {
        reason = ErrorText(rc);
        Post([reason](MosquittoClient& c) {
          if (c.OnDisconnected) c.OnDisconnected(reason);
        });
        continue;
      }
      const auto start = std::chrono::steady_clock::now();
      bool up = false;
      while (!Stopping()) {
        rc = mosquitto_loop(m, 50, 1);
        if (rc != MOSQ_ERR_SUCCESS) break;
        if (connected) {
          up = true;
          delay = opt.reconnectMinMs;
        } else if (!up && std::chrono::steady_clock::now() - start >
                              std::chrono::milliseconds(opt.connectTimeoutMs)) {
          rc = MOSQ_ERR_TIMEOUT;
          break;
        }
      }
      if (Stopping()) {
        if (connected) {
          // A clean goodbye, so that the broker does not publish the will.
          mosquitto_disconnect(m);
          for (int i = 0; i < 5 && mosquitto_loop(m, 20, 1) == MOSQ_ERR_SUCCESS; ++i) {
          }
        }
        connected = false;
        break;
      }
      connected = false;
      if (refusal != 0)
        reason = mosquitto_connack_string(refusal);
      else if (rc == MOSQ_ERR_TIMEOUT && !up)
        reason = "брокер не ответил";
      else
        reason = ErrorText(rc);
      Post([reason](MosquittoClient& c) {
        if (c.OnDisconnected) c.OnDisconnected(reason);
      });
    }
    std::lock_guard lk(mu);
    done = true;
    cv.notify_all();
  }

  static void OnConnect(mosquitto* m, void* obj, int rc) {
    auto* s = static_cast<Shared*>(obj);
    if (rc != 0) {
      s->refusal = rc;
      return;
    }
    {
      std::lock_guard lk(s->mu);
      for (const auto& [pattern, qos] : s->subscriptions)
        mosquitto_subscribe(m, nullptr, pattern.c_str(), qos);
    }
    s->connected = true;
    s->Post([](MosquittoClient& c) {
      if (c.OnConnected) c.OnConnected();
    });
  }
  static void OnDisconnect(mosquitto*, void* obj, int) {
    static_cast<Shared*>(obj)->connected = false;
  }
  static void OnPublish(mosquitto*, void* obj, int mid) {
    static_cast<Shared*>(obj)->Post([mid](MosquittoClient& c) {
      if (c.OnPublished) c.OnPublished(mid);
    });
  }
  static void OnMessage(mosquitto*, void* obj, const mosquitto_message* msg) {
    std::string topic = msg->topic ? msg->topic : "";
    std::string payload(static_cast<const char*>(msg->payload),
                        msg->payload ? static_cast<std::size_t>(msg->payloadlen) : 0);
    const bool retained = msg->retain;
    static_cast<Shared*>(obj)->Post(
        [topic = std::move(topic), payload = std::move(payload), retained](MosquittoClient& c) {
          if (c.OnMessage) c.OnMessage(topic, payload, retained);
        });
  }
};

MosquittoClient::MosquittoClient(IDispatcher& dispatcher)
    : dispatcher_(dispatcher), alive_(std::make_shared<bool>(true)) {
  std::call_once(gLibInit, [] { mosquitto_lib_init(); });
}

MosquittoClient::~MosquittoClient() {
  Stop();
}

bool MosquittoClient::Start(const MqttOptions& options, std::string& error) {
  Stop();
  if (options.host.empty() || options.port <= 0 || options.port > 65535) {
    error = "неверный адрес брокера";
    return false;
  }
  auto sh = std::make_shared<Shared>();
  sh->opt = options;
  if (sh->opt.keepAliveSeconds < 5) sh->opt.keepAliveSeconds = 5;
  if (sh->opt.reconnectMinMs < 10) sh->opt.reconnectMinMs = 10;
  if (sh->opt.reconnectMaxMs < sh->opt.reconnectMinMs)
    sh->opt.reconnectMaxMs = sh->opt.reconnectMinMs;
  sh->m =
      mosquitto_new(options.clientId.empty() ? nullptr : options.clientId.c_str(), true, sh.get());
  if (!sh->m) {
    error = "клиент MQTT не создан";
    return false;
  }
  mosquitto_threaded_set(sh->m, true);
  mosquitto_int_option(sh->m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(sh->m, &Shared::OnConnect);
  mosquitto_disconnect_callback_set(sh->m, &Shared::OnDisconnect);
  mosquitto_publish_callback_set(sh->m, &Shared::OnPublish);
  mosquitto_message_callback_set(sh->m, &Shared::OnMessage);
  if (!options.username.empty() &&
      mosquitto_username_pw_set(sh->m, options.username.c_str(),
                                options.password.empty() ? nullptr : options.password.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    error = "неверное имя пользователя MQTT";
    return false;
  }
  if (!options.caFile.empty()) {
    const int rc =
        mosquitto_tls_set(sh->m, options.caFile.c_str(), nullptr,
                          options.certFile.empty() ? nullptr : options.certFile.c_str(),
                          options.keyFile.empty() ? nullptr : options.keyFile.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = "TLS: " + ErrorText(rc);
      return false;
    }
  }
  if (!options.willTopic.empty())
    mosquitto_will_set(sh->m, options.willTopic.c_str(),
                       static_cast<int>(options.willPayload.size()), options.willPayload.data(), 1,
                       true);
  if (::pipe2(sh->wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::strerror(errno);
    return false;
  }
  alive_ = std::make_shared<bool>(true);
  sh->dispatcher = &dispatcher_;
  sh->owner = this;
  sh->alive = alive_;
  sh->worker = std::thread([sh] { sh->Run(); });
  sh_ = std::move(sh);
  return true;
}

void MosquittoClient::Stop() {
  *alive_ = false;
  if (!sh_) return;
  std::shared_ptr<Shared> sh = std::move(sh_);
  {
    std::unique_lock lk(sh->mu);
    sh->stop = true;
    sh->cv.notify_all();
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(sh->wakeFds[1], &c, 1);
    // The thread ends within one turn of its loop; only a broker that holds
    // a connect half-way (a TLS handshake that never ends) keeps it longer,
    // and then it is left to end by itself, owning what it uses.
    sh->cv.wait_for(lk, std::chrono::seconds(2), [&] { return sh->done; });
    if (!sh->done) {
      sh->worker.detach();
      return;
    }
  }
  sh->worker.join();
}

bool MosquittoClient::Connected() const {
  return sh_ && sh_->connected;
}

int MosquittoClient::Publish(const std::string& topic, const std::string& payload, int qos,
                             bool retain) {
  if (!sh_ || !sh_->connected) return 0;
  int mid = 0;
  const int rc = mosquitto_publish(sh_->m, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), qos, retain);
  return rc == MOSQ_ERR_SUCCESS ? (mid > 0 ? mid : 1) : 0;
}

void MosquittoClient::Subscribe(const std::string& pattern, int qos) {
  if (!sh_) return;
  {
    std::lock_guard lk(sh_->mu);
    sh_->subscriptions.emplace_back(pattern, qos);
  }
  if (sh_->connected) mosquitto_subscribe(sh_->m, nullptr, pattern.c_str(), qos);
}

}  // namespace zv

#include "support/MjpegServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "platform/NetworkCamera.h"

namespace zv::test {

MjpegServer::MjpegServer(std::vector<std::vector<std::uint8_t>> pictures, int fps)
    : pictures_(std::move(pictures)), fps_(std::max(fps, 1)) {}

MjpegServer::~MjpegServer() {
  Stop();
}

void MjpegServer::RequireAuth(const std::string& user, const std::string& password) {
  auth_ = "Basic " + Base64(user + ":" + password);
}

std::string MjpegServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string MjpegServer::LastRequest() const {
  std::lock_guard lk(mu_);
  return lastRequest_;
}

bool MjpegServer::Start(int port) {
  Stop();
  stopping_ = false;
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return false;
  const int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_, 16) != 0) {
    ::close(listen_);
    listen_ = -1;
    return false;
  }
  socklen_t len = sizeof a;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  if (::pipe2(wake_, O_CLOEXEC) != 0) return false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void MjpegServer::Stop() {
  if (listen_ < 0) return;
  stopping_ = true;
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard lk(mu_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  ::close(listen_);
  listen_ = -1;
  ::close(wake_[0]);
  ::close(wake_[1]);
  wake_[0] = wake_[1] = -1;
}

void MjpegServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) continue;
    if (p[1].revents) break;
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard lk(mu_);
    open_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

bool MjpegServer::SendAll(int fd, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

void MjpegServer::Serve(int fd) {
  // The request, up to its blank line.
  std::string req;
  char buf[1024];
  while (!stopping_ && req.find("\r\n\r\n") == std::string::npos && req.size() < 16384) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    req.append(buf, static_cast<std::size_t>(n));
  }
  {
    std::lock_guard lk(mu_);
    lastRequest_ = req;
  }
  std::mt19937 rng(12345);
  const Mode mode = mode_;
  const std::string header =
      "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=zvframe\r\n"
      "Cache-Control: no-cache\r\nConnection: close\r\n\r\n";
  if (!auth_.empty() && req.find("Authorization: " + auth_ + "\r\n") == std::string::npos) {
    const std::string r =
        "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"camera\"\r\n"
        "Content-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(fd, r.data(), r.size());
  } else if (mode == Mode::NotFound) {
    const std::string r =
        "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(fd, r.data(), r.size());
  } else if (mode == Mode::Silent) {
    while (!stopping_ && mode_ == Mode::Silent) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) break;
    }
  } else if (mode == Mode::GarbageBody || mode == Mode::GarbageRaw) {
    bool open = mode == Mode::GarbageRaw || SendAll(fd, header.data(), header.size());
    while (open && !stopping_ && mode_ == mode) {
      std::vector<std::uint8_t> junk(4096);
      for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
      open = SendAll(fd, junk.data(), junk.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  } else if (SendAll(fd, header.data(), header.size())) {
    std::size_t i = 0;
    auto next = std::chrono::steady_clock::now();
    while (!stopping_ && mode_ == Mode::Stream && !pictures_.empty()) {
      const std::vector<std::uint8_t>& pic = pictures_[i++ % pictures_.size()];
      const std::string part =
          "--zvframe\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(pic.size()) +
          "\r\n\r\n";
      if (!SendAll(fd, part.data(), part.size()) || !SendAll(fd, pic.data(), pic.size()) ||
          !SendAll(fd, "\r\n", 2))
        break;
      next += std::chrono::microseconds(1000000 / fps_);
      std::this_thread::sleep_until(next);
    }
  }
  std::lock_guard lk(mu_);
  open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
  ::close(fd);
}

// ---------------------------------------------------------------------------

bool ChildProcess::Start(const std::vector<std::string>& argv) {
  Terminate();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(fds[1], 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  pid_ = pid;
  out_ = fds[0];
  buffer_.clear();
  return true;
}

bool ChildProcess::ReadLine(std::string& line, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<std::size_t>(n));
  }
}

void ChildProcess::Terminate() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_)
        gone = true;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!gone) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  pid_ = -1;
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

}  // namespace zv::test

#pragma once
// An HTTP camera on 127.0.0.1 for the tests: serves its JPEG pictures as a
// multipart stream ("multipart/x-mixed-replace"), as network cameras do, and
// can misbehave on demand: answer 404, send garbage, or say nothing at all.
// It can also demand basic authentication.  Every connection has a thread of
// its own; Stop() closes the listener and every connection.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zv::test {

class MjpegServer {
 public:
  enum class Mode {
    Stream,       // the pictures, over and over, at the set rate
    NotFound,     // "404 Not Found"
    GarbageBody,  // a proper multipart header, then random bytes
    GarbageRaw,   // random bytes from the first byte on
    Silent,       // accepts, reads the request, never answers
  };

  explicit MjpegServer(std::vector<std::vector<std::uint8_t>> pictures, int fps = 25);
  ~MjpegServer();
  MjpegServer(const MjpegServer&) = delete;
  MjpegServer& operator=(const MjpegServer&) = delete;

  // Listens on 127.0.0.1:port (0: any free port); false when it cannot.
  bool Start(int port = 0);
  void Stop();
  int Port() const { return port_; }
  std::string Url(const std::string& path = "/video") const;

  void SetMode(Mode m) { mode_ = m; }
  void RequireAuth(const std::string& user, const std::string& password);

  int Connections() const { return connections_; }
  // The request lines and headers of the last connection.
  std::string LastRequest() const;

 private:
  void AcceptLoop();
  void Serve(int fd);
  bool SendAll(int fd, const void* data, std::size_t n);

  std::vector<std::vector<std::uint8_t>> pictures_;
  int fps_;
  int port_ = 0;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};
  std::atomic<Mode> mode_{Mode::Stream};
  std::atomic<int> connections_{0};
  std::string auth_;  // expected "Authorization" value, empty: none
  mutable std::mutex mu_;
  std::string lastRequest_;
  std::vector<int> open_;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

// Starts a program with its standard output on a pipe, for servers that say
// where they listen; the destructor ends it (SIGTERM, then SIGKILL).
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Terminate(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::vector<std::string>& argv);
  // The next line of its output, waiting up to timeoutMs; false at the end
  // of its output or on time-out.
  bool ReadLine(std::string& line, int timeoutMs);
  void Terminate();
  bool Running() const { return pid_ > 0; }

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace zv::test

#include "platform/ParallelPort.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zv {

struct AsyncParallelStatus::Shared {
  explicit Shared(Reader r) : reader(std::move(r)) {}
  Reader reader;
  std::mutex m;
  std::condition_variable wake, done;
  bool started = false, stop = false;
  bool busy = false;    // a read is running (or waiting to run)
  std::string request;  // the port it reads
  bool hasResult = false;
  std::string resultPath;
  ParallelRead result;

  static void Work(const std::shared_ptr<Shared>& s) {
    std::unique_lock<std::mutex> lk(s->m);
    for (;;) {
      s->wake.wait(lk, [&] { return s->stop || s->busy; });
      if (s->stop) return;
      const std::string path = s->request;
      lk.unlock();
      ParallelRead r = s->reader(path);
      lk.lock();
      s->result = std::move(r);
      s->resultPath = path;
      s->hasResult = true;
      s->busy = false;
      s->done.notify_all();
    }
  }
};

AsyncParallelStatus::AsyncParallelStatus(Reader reader, unsigned waitMs)
    : shared_(std::make_shared<Shared>(std::move(reader))), waitMs_(waitMs) {}

AsyncParallelStatus::~AsyncParallelStatus() {
  std::lock_guard<std::mutex> lk(shared_->m);
  shared_->stop = true;
  shared_->wake.notify_all();
}

ParallelRead AsyncParallelStatus::Read(const std::string& path) {
  Shared& s = *shared_;
  std::unique_lock<std::mutex> lk(s.m);
  if (!s.started) {
    s.started = true;
    // Detached: it holds the shared state, so a claim that never returns
    // keeps nobody waiting, not even the program's exit.
    std::thread([sp = shared_] { Shared::Work(sp); }).detach();
  }
  if (!s.busy) {
    s.request = path;
    s.busy = true;
    s.hasResult = false;
    s.wake.notify_all();
  }
  s.done.wait_for(lk, std::chrono::milliseconds(waitMs_), [&] { return !s.busy; });
  if (s.busy || !s.hasResult || s.resultPath != path) {
    ParallelRead r;
    r.status = ParallelRead::Busy;
    return r;
  }
  s.hasResult = false;
  return s.result;
}

}  // namespace zv

#pragma once
// The hand-over of a network camera's pictures and events from its worker
// thread to the main thread.  One slot holds the newest picture not yet
// taken; a newer picture replaces it.  The first picture into an empty slot
// posts one delivery to the dispatcher; later ones only replace the
// picture, so at most one delivery per camera is ever queued and the worker
// never waits for the main loop.
//
// Loss and return are posted in order with the pictures: a loss drops the
// picture waiting in the slot, so the main thread never sees a picture from
// before a loss after the loss itself.  Close() (main thread) ends every
// delivery: posted work that runs later does nothing.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Dispatcher.h"
#include "platform/NetworkCamera.h"

namespace zv {

class FrameHandoff : public std::enable_shared_from_this<FrameHandoff> {
 public:
  static std::shared_ptr<FrameHandoff> Create(IDispatcher& dispatcher, NetworkCameraEvents events);

  // --- worker side
  // Puts frame into the slot; frame gets back a spent buffer to fill next
  // (no allocation per picture once running).  Does nothing after Close().
  void Offer(NetFrame& frame);
  void PostLost(const std::string& reason);
  void PostReturned();
  bool Closed() const;

  // --- main thread
  // Ends every delivery; events already posted are dropped when they run.
  void Close();

  std::uint64_t Offered() const { return offered_; }
  std::uint64_t Replaced() const { return replaced_; }
  std::uint64_t Delivered() const { return delivered_; }

 private:
  FrameHandoff(IDispatcher& dispatcher, NetworkCameraEvents events);
  void Deliver(std::uint64_t epoch);

  IDispatcher& dispatcher_;
  NetworkCameraEvents events_;  // used on the main thread only

  mutable std::mutex mu_;
  NetFrame slot_;
  bool full_ = false;
  bool posted_ = false;
  bool closed_ = false;
  std::uint64_t epoch_ = 0;  // moves on with every loss
  NetFrame taken_;           // the picture being delivered (main thread)

  std::atomic<std::uint64_t> offered_{0}, replaced_{0}, delivered_{0};
};

}  // namespace zv

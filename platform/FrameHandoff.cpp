#include "platform/FrameHandoff.h"

#include <utility>

namespace zv {

std::shared_ptr<FrameHandoff> FrameHandoff::Create(IDispatcher& dispatcher,
                                                   NetworkCameraEvents events) {
  return std::shared_ptr<FrameHandoff>(new FrameHandoff(dispatcher, std::move(events)));
}

FrameHandoff::FrameHandoff(IDispatcher& dispatcher, NetworkCameraEvents events)
    : dispatcher_(dispatcher), events_(std::move(events)) {}

bool FrameHandoff::Closed() const {
  std::lock_guard lk(mu_);
  return closed_;
}

void FrameHandoff::Offer(NetFrame& frame) {
  std::lock_guard lk(mu_);
  if (closed_) return;
  ++offered_;
  if (full_) ++replaced_;
  std::swap(slot_, frame);
  full_ = true;
  if (posted_) return;
  posted_ = true;
  // Posted under the lock: Close() cannot slip in between the check and the
  // post, so nothing reaches the dispatcher once it has returned.
  dispatcher_.Post([self = shared_from_this(), epoch = epoch_] { self->Deliver(epoch); });
}

void FrameHandoff::Deliver(std::uint64_t epoch) {
  {
    std::lock_guard lk(mu_);
    if (closed_ || epoch != epoch_) return;  // a loss came in between: that post is spent
    posted_ = false;
    if (!full_) return;
    std::swap(taken_, slot_);
    full_ = false;
  }
  ++delivered_;
  if (events_.onFrame) events_.onFrame(taken_);
}

void FrameHandoff::PostLost(const std::string& reason) {
  std::lock_guard lk(mu_);
  if (closed_) return;
  full_ = false;
  posted_ = false;
  ++epoch_;
  dispatcher_.Post([self = shared_from_this(), reason] {
    if (self->Closed()) return;
    if (self->events_.onLost) self->events_.onLost(reason);
  });
}

void FrameHandoff::PostReturned() {
  std::lock_guard lk(mu_);
  if (closed_) return;
  dispatcher_.Post([self = shared_from_this()] {
    if (self->Closed()) return;
    if (self->events_.onReturned) self->events_.onReturned();
  });
}

void FrameHandoff::Close() {
  std::lock_guard lk(mu_);
  closed_ = true;
  full_ = false;
}

}  // namespace zv

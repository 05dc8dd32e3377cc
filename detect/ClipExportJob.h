#pragma once
// A clip export run beside the window: the exporter works on a thread of
// its own, and its progress and result come back on the main thread
// through the dispatcher.  At most one progress update waits for the main
// loop at a time (a newer one replaces it), so a fast export never floods
// the loop.  Cancelling, or destroying the job, stops the export at its
// next record; the exporter then removes its temporary file, so nothing
// partial is left behind.
#include <functional>
#include <memory>
#include <thread>

#include "detect/ClipExport.h"
#include "platform/Dispatcher.h"

namespace zv {

class ClipExportJob {
 public:
  ClipExportJob(IClipWriterFactory& writers, IDispatcher& dispatcher);
  // Cancels a running export and waits for its thread.
  ~ClipExportJob();
  ClipExportJob(const ClipExportJob&) = delete;
  ClipExportJob& operator=(const ClipExportJob&) = delete;

  // Starts the export; false when one is still running.
  bool Start(const ClipExportRequest& request);
  // Asks the running export to stop; OnDone follows with Cancelled.
  void Cancel();
  // An export has started and its OnDone has not run yet.
  bool Running() const { return running_; }

  // Both run on the main thread.
  std::function<void(const ClipExportProgress&)> OnProgress;
  std::function<void(const ClipExportResult&)> OnDone;

 private:
  struct Shared;
  IClipWriterFactory& writers_;
  IDispatcher& dispatcher_;
  std::shared_ptr<Shared> shared_;
  std::jthread thread_;
  bool running_ = false;
};

}  // namespace zv

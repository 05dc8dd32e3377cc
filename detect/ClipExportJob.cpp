#include "detect/ClipExportJob.h"

#include <atomic>
#include <mutex>

namespace zv {

// What the worker and the main thread share; it outlives the job as long as
// a posted update still refers to it.
struct ClipExportJob::Shared {
  std::atomic<bool> cancel{false};
  std::mutex mu;
  ClipExportProgress latest;
  bool posted = false;           // an update is waiting for the main loop
  ClipExportJob* job = nullptr;  // null once the job is gone (main thread only)
};

ClipExportJob::ClipExportJob(IClipWriterFactory& writers, IDispatcher& dispatcher)
    : writers_(writers), dispatcher_(dispatcher) {}

ClipExportJob::~ClipExportJob() {
  if (shared_) {
    shared_->cancel = true;
    shared_->job = nullptr;
  }
  if (thread_.joinable()) thread_.join();
}

bool ClipExportJob::Start(const ClipExportRequest& request) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();  // the last one has posted its result
  if (shared_) shared_->job = nullptr;
  shared_ = std::make_shared<Shared>();
  shared_->job = this;
  running_ = true;
  std::shared_ptr<Shared> sh = shared_;
  IDispatcher& d = dispatcher_;
  IClipWriterFactory& writers = writers_;
  thread_ = std::jthread([sh, &d, &writers, request] {
    ClipExporter exporter(writers);
    const ClipExportResult result = exporter.Export(request, [&](const ClipExportProgress& p) {
      bool post = false;
      {
        std::lock_guard lock(sh->mu);
        sh->latest = p;
        post = !sh->posted;
        sh->posted = true;
      }
      if (post)
        d.Post([sh] {
          ClipExportProgress p;
          {
            std::lock_guard lock(sh->mu);
            p = sh->latest;
            sh->posted = false;
          }
          if (sh->job && sh->job->OnProgress) sh->job->OnProgress(p);
        });
      return !sh->cancel;
    });
    d.Post([sh, result] {
      ClipExportJob* job = sh->job;
      if (!job) return;
      job->running_ = false;
      if (job->OnDone) job->OnDone(result);
    });
  });
  return true;
}

void ClipExportJob::Cancel() {
  if (shared_) shared_->cancel = true;
}

}  // namespace zv

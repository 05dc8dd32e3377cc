#include "platform/FfmpegCamera.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/FfmpegLog.h"
#include "platform/FrameHandoff.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace zv {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch())
      .count();
}

constexpr std::int64_t kMs = 1000000;  // nanoseconds

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

// The full-range JPEG formats are deprecated in the scaler: it wants the
// plain format with the range set on the context.
AVPixelFormat PlainFormat(AVPixelFormat f, bool& fullRange) {
  switch (f) {
    case AV_PIX_FMT_YUVJ420P:
      fullRange = true;
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      fullRange = true;
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      fullRange = true;
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      fullRange = true;
      return AV_PIX_FMT_YUV440P;
    default:
      return f;
  }
}

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

}  // namespace

struct FfmpegCamera::Worker {
  Worker(const NetworkCameraConfig& c, std::shared_ptr<FrameHandoff> h)
      : cfg(c), handoff(std::move(h)) {}
  ~Worker() {
    if (sws) sws_freeContext(sws);
  }

  const NetworkCameraConfig cfg;
  const std::shared_ptr<FrameHandoff> handoff;

  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> deadline{INT64_MAX};  // for the library's blocking calls
  std::mutex mu;
  std::condition_variable cv;
  bool finished = false;

  std::atomic<std::uint64_t> decoded{0}, attempts{0};
  std::atomic<bool> streaming{false};

  // Worker-thread state.
  bool lost = false;
  bool deliveredThisSession = false;
  std::uint64_t sequence = 0;
  std::int64_t nextDueNs = 0;
  std::int64_t lastProgressNs = 0;
  bool gotPicture = false;
  SwsContext* sws = nullptr;
  std::vector<std::uint8_t> scratch;  // the scaled picture, top row first
  NetFrame out;
  SystemClock clock;
  // Pacing of a local file.
  std::int64_t paceOriginNs = 0, paceOriginTs = AV_NOPTS_VALUE;

  static int Interrupt(void* opaque) {
    auto* w = static_cast<Worker*>(opaque);
    return w->stop.load() || NowNs() > w->deadline.load();
  }

  // Waits up to ms, or until stopped; false when stopped.
  bool Pause(std::int64_t ns) {
    std::unique_lock lk(mu);
    cv.wait_for(lk, std::chrono::nanoseconds(ns), [this] { return stop.load(); });
    return !stop.load();
  }

  void Run();
  bool Session(std::string& reason);
  void Picture(AVFrame* frame);
  bool Due(std::int64_t now) const { return cfg.maxFps <= 0 || now >= nextDueNs; }
  void Lose(const std::string& reason);
};

void FfmpegCamera::Worker::Run() {
  RegisterFfmpegSecret(cfg.user, cfg.password);
  unsigned pauseMs = std::max(cfg.retryFirstMs, 1u);
  while (!stop) {
    ++attempts;
    std::string reason;
    deliveredThisSession = false;
    Session(reason);
    streaming = false;
    if (stop) break;
    Lose(reason);
    if (deliveredThisSession) pauseMs = std::max(cfg.retryFirstMs, 1u);
    if (!Pause(static_cast<std::int64_t>(pauseMs) * kMs)) break;
    pauseMs = std::min(pauseMs * 2, std::max(cfg.retryMaxMs, cfg.retryFirstMs));
  }
  UnregisterFfmpegSecret(cfg.user, cfg.password);
  std::lock_guard lk(mu);
  finished = true;
  cv.notify_all();
}

void FfmpegCamera::Worker::Lose(const std::string& reason) {
  if (lost) return;
  lost = true;
  handoff->PostLost(RedactFfmpegText(RedactUrl(cfg.url) + ": " + reason));
}

bool FfmpegCamera::Worker::Session(std::string& reason) {
  const bool network = IsNetworkUrl(cfg.url);
  const bool pace = !network && cfg.paceFiles;
  const std::int64_t openLimit = static_cast<std::int64_t>(std::max(cfg.openTimeoutMs, 1u)) * kMs;
  const std::int64_t readLimit = static_cast<std::int64_t>(std::max(cfg.readTimeoutMs, 1u)) * kMs;

  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) {
    reason = "out of memory";
    return false;
  }
  raw->interrupt_callback.callback = &Worker::Interrupt;
  raw->interrupt_callback.opaque = this;
  AVDictionary* opts = nullptr;
  const bool rtsp = cfg.url.rfind("rtsp://", 0) == 0 || cfg.url.rfind("rtsps://", 0) == 0;
  if (rtsp) {
    av_dict_set(&opts, "rtsp_transport", cfg.transport == NetTransport::Udp ? "udp" : "tcp", 0);
    av_dict_set_int(&opts, "timeout", static_cast<std::int64_t>(cfg.readTimeoutMs) * 1000, 0);
  }
  av_dict_set(&opts, "analyzeduration", "2000000", 0);

  const std::int64_t started = NowNs();
  deadline = started + openLimit;
  const std::string url = InsertCredentials(cfg.url, cfg.user, cfg.password);
  int rc = avformat_open_input(&raw, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (rc < 0) {
    // avformat_open_input frees the context on failure.
    reason = stop                 ? "stopped"
             : NowNs() > deadline ? "no answer in " + std::to_string(cfg.openTimeoutMs) + " ms"
                                  : AvError(rc);
    return false;
  }
  std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw);
  rc = avformat_find_stream_info(fmt.get(), nullptr);
  if (rc < 0) {
    reason = NowNs() > deadline ? "no picture in " + std::to_string(cfg.openTimeoutMs) + " ms"
                                : AvError(rc);
    return false;
  }
  const AVCodec* codec = nullptr;
  const int index = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (index < 0 || !codec) {
    reason =
        index == AVERROR_DECODER_NOT_FOUND ? "no decoder for the stream" : "no video in the stream";
    return false;
  }
  AVStream* stream = fmt->streams[index];
  for (unsigned i = 0; i < fmt->nb_streams; ++i)
    if (static_cast<int>(i) != index) fmt->streams[i]->discard = AVDISCARD_ALL;

  std::unique_ptr<AVCodecContext, CodecCloser> dec(avcodec_alloc_context3(codec));
  if (!dec || avcodec_parameters_to_context(dec.get(), stream->codecpar) < 0) {
    reason = "cannot set up the decoder";
    return false;
  }
  dec->thread_count = std::max(cfg.decoderThreads, 1);
  dec->thread_type = FF_THREAD_SLICE;  // no frame delay
  dec->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if ((rc = avcodec_open2(dec.get(), codec, nullptr)) < 0) {
    reason = "cannot open the decoder: " + AvError(rc);
    return false;
  }
  const AVCodecDescriptor* desc = avcodec_descriptor_get(dec->codec_id);
  const bool intraOnly = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);

  std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  gotPicture = false;
  lastProgressNs = NowNs();
  paceOriginTs = AV_NOPTS_VALUE;
  nextDueNs = 0;
  streaming = true;

  while (!stop) {
    // Until the first picture the connection time-out holds, then the
    // longest pause allowed between pictures.
    const std::int64_t due = gotPicture ? lastProgressNs + readLimit : started + openLimit;
    deadline = due;
    rc = av_read_frame(fmt.get(), pkt.get());
    if (stop) break;
    if (rc == AVERROR(EAGAIN)) {
      if (!Pause(10 * kMs)) break;
      continue;
    }
    if (rc == AVERROR_EOF && !network) {
      // A file stands in for a camera: it starts over.
      avcodec_send_packet(dec.get(), nullptr);
      while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
        Picture(frame.get());
        av_frame_unref(frame.get());
      }
      if (!gotPicture) {
        reason = "no picture in the file";
        return deliveredThisSession;
      }
      avcodec_flush_buffers(dec.get());
      const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
      if (av_seek_frame(fmt.get(), index, start, AVSEEK_FLAG_BACKWARD) < 0) {
        reason = "the file cannot start over";
        return deliveredThisSession;
      }
      paceOriginTs = AV_NOPTS_VALUE;
      lastProgressNs = NowNs();
      continue;
    }
    if (rc < 0) {
      if (NowNs() > due)
        reason = "no picture for " +
                 std::to_string((gotPicture ? cfg.readTimeoutMs : cfg.openTimeoutMs)) + " ms";
      else
        reason = rc == AVERROR_EOF ? "the stream ended" : AvError(rc);
      return deliveredThisSession;
    }
    if (pkt->stream_index != index) {
      av_packet_unref(pkt.get());
      continue;
    }
    const std::int64_t now = NowNs();
    if (intraOnly && !Due(now) && !pace) {
      // Every picture stands alone: one that would be dropped by the rate
      // limit is not even decoded.
      lastProgressNs = now;
      gotPicture = true;
      av_packet_unref(pkt.get());
      continue;
    }
    rc = avcodec_send_packet(dec.get(), pkt.get());
    av_packet_unref(pkt.get());
    if (rc < 0 && rc != AVERROR(EAGAIN))
      continue;  // a damaged packet; the watch above ends a run of them
    while (!stop && avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      if (pace) {
        const std::int64_t ts = frame->best_effort_timestamp;
        if (ts != AV_NOPTS_VALUE) {
          const std::int64_t nowNs = NowNs();
          if (paceOriginTs == AV_NOPTS_VALUE) {
            paceOriginTs = ts;
            paceOriginNs = nowNs;
          }
          const std::int64_t at = paceOriginNs + av_rescale_q(ts - paceOriginTs, stream->time_base,
                                                              AVRational{1, 1000000000});
          if (at > nowNs + 10 * 1000 * kMs || at < nowNs - 1000 * kMs) {
            paceOriginTs = ts;  // a jump in the file's times: start the clock again
            paceOriginNs = nowNs;
          } else if (at > nowNs && !Pause(at - nowNs)) {
            break;
          }
        }
      }
      Picture(frame.get());
      av_frame_unref(frame.get());
    }
    if (gotPicture == false && NowNs() > started + openLimit) {
      reason = "no picture in " + std::to_string(cfg.openTimeoutMs) + " ms";
      return deliveredThisSession;
    }
    if (gotPicture && NowNs() > lastProgressNs + readLimit) {
      reason = "no picture for " + std::to_string(cfg.readTimeoutMs) + " ms";
      return deliveredThisSession;
    }
  }
  reason = "stopped";
  return deliveredThisSession;
}

void FfmpegCamera::Worker::Picture(AVFrame* frame) {
  ++decoded;
  const std::int64_t now = NowNs();
  gotPicture = true;
  lastProgressNs = now;
  if (!Due(now)) return;
  if (cfg.maxFps > 0) {
    const auto period = static_cast<std::int64_t>(1e9 / cfg.maxFps);
    // Even spacing on average; a stall does not earn a burst afterwards.
    nextDueNs += period;
    if (nextDueNs <= now) nextDueNs = now + period;
  }
  if (frame->width <= 0 || frame->height <= 0) return;
  const int w = cfg.width > 0 && cfg.height > 0 ? cfg.width : frame->width;
  const int h = cfg.width > 0 && cfg.height > 0 ? cfg.height : frame->height;
  bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat src = PlainFormat(static_cast<AVPixelFormat>(frame->format), fullRange);
  sws = sws_getCachedContext(sws, frame->width, frame->height, src, w, h, AV_PIX_FMT_BGR24,
                             SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws) return;
  int invTable[4], table[4], srcRange, dstRange, brightness, contrast, saturation;
  int* inv = invTable;
  int* tab = table;
  if (sws_getColorspaceDetails(sws, &inv, &srcRange, &tab, &dstRange, &brightness, &contrast,
                               &saturation) >= 0 &&
      srcRange != (fullRange ? 1 : 0))
    sws_setColorspaceDetails(sws, inv, fullRange ? 1 : 0, tab, 1, brightness, contrast, saturation);

  const int stride = NetFrame::StrideFor(w);
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(h);
  scratch.resize(bytes);
  std::uint8_t* dst[4] = {scratch.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  if (sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride) != h) return;

  // The program keeps pictures bottom row first.
  out.width = w;
  out.height = h;
  out.stride = stride;
  out.pixels.resize(bytes);
  for (int y = 0; y < h; ++y)
    std::memcpy(out.pixels.data() + static_cast<std::size_t>(h - 1 - y) * stride,
                scratch.data() + static_cast<std::size_t>(y) * stride,
                static_cast<std::size_t>(w) * 3);
  out.stamp = clock.Now();
  out.sequence = ++sequence;
  if (lost) {
    lost = false;
    handoff->PostReturned();
  }
  deliveredThisSession = true;
  handoff->Offer(out);
}

// ---------------------------------------------------------------------------

FfmpegCamera::FfmpegCamera(const NetworkCameraConfig& config, IDispatcher& dispatcher,
                           NetworkCameraEvents events)
    : config_(config), dispatcher_(dispatcher), events_(std::move(events)) {}

FfmpegCamera::~FfmpegCamera() {
  Stop();
}

void FfmpegCamera::Start() {
  if (thread_.joinable()) return;
  InitFfmpeg();
  worker_ = std::make_shared<Worker>(config_, FrameHandoff::Create(dispatcher_, events_));
  thread_ = std::thread([w = worker_] { w->Run(); });
}

void FfmpegCamera::Stop() {
  if (!thread_.joinable()) return;
  // Nothing of this camera runs on the main thread from here on.
  worker_->handoff->Close();
  bool finished;
  {
    std::unique_lock lk(worker_->mu);
    worker_->stop = true;
    worker_->cv.notify_all();
    finished = worker_->cv.wait_for(lk, std::chrono::milliseconds(kStopWaitMs),
                                    [this] { return worker_->finished; });
  }
  if (finished)
    thread_.join();
  else
    thread_.detach();  // it holds its own state and ends once the lookup returns
}

NetworkCameraStats FfmpegCamera::Stats() const {
  NetworkCameraStats s;
  if (!worker_) return s;
  s.decoded = worker_->decoded;
  s.attempts = worker_->attempts;
  s.streaming = worker_->streaming;
  s.offered = worker_->handoff->Offered();
  s.replaced = worker_->handoff->Replaced();
  s.delivered = worker_->handoff->Delivered();
  return s;
}

}  // namespace zv

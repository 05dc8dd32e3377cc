#include "platform/FfmpegClipWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/FfmpegLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace zv {

namespace {

constexpr AVRational kMillis{1, 1000};

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

}  // namespace

FfmpegClipWriter::~FfmpegClipWriter() {
  Close();
}

bool FfmpegClipWriter::Fail(const std::string& what, int code) {
  error_ = code ? what + ": " + AvError(code) : what;
  return false;
}

void FfmpegClipWriter::Close() {
  if (sws_) sws_freeContext(sws_);
  sws_ = nullptr;
  av_frame_free(&frame_);
  av_packet_free(&pkt_);
  avcodec_free_context(&enc_);
  if (out_) {
    if (out_->pb) avio_closep(&out_->pb);
    avformat_free_context(out_);
  }
  out_ = nullptr;
  video_ = text_ = nullptr;
  headerWritten_ = false;
  durations_.clear();
}

bool FfmpegClipWriter::OpenEncoder() {
  const bool h264 = config_.kind == ClipKind::H264Mp4;
  const AVCodec* codec =
      h264 ? avcodec_find_encoder_by_name("libx264") : avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (!codec) return Fail(h264 ? "no H.264 encoder (libx264) in this FFmpeg" : "no MJPEG encoder");
  enc_ = avcodec_alloc_context3(codec);
  if (!enc_) return Fail("out of memory");
  enc_->width = config_.width;
  enc_->height = config_.height;
  enc_->time_base = kMillis;
  enc_->sample_aspect_ratio = AVRational{1, 1};
  if (config_.frameRate > 0) {
    enc_->framerate = av_d2q(config_.frameRate, 1000);
    // A key picture about every two seconds, so that a player can seek.
    enc_->gop_size = std::clamp(static_cast<int>(std::lround(config_.frameRate * 2)), 1, 250);
  } else {
    enc_->gop_size = 12;
  }
  const int quality = std::clamp(config_.quality, 1, 100);
  if (h264) {
    enc_->pix_fmt = AV_PIX_FMT_YUV420P;
    enc_->max_b_frames = 0;  // pictures leave in the order they came, each at its own time
    av_opt_set(enc_->priv_data, "preset", "veryfast", 0);
    // Quality 100 -> crf 12, 50 -> crf 28, 1 -> crf 44.
    av_opt_set_int(enc_->priv_data, "crf", 44 - (quality * 32) / 100, 0);
  } else {
    enc_->pix_fmt = AV_PIX_FMT_YUVJ420P;
    enc_->color_range = AVCOL_RANGE_JPEG;
    enc_->flags |= AV_CODEC_FLAG_QSCALE;
    // Quality 100 -> qscale 1, 90 -> 3, 50 -> 13.
    enc_->global_quality = FF_QP2LAMBDA * std::clamp(1 + (100 - quality) / 4, 1, 31);
  }
  if (out_->oformat->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (int rc = avcodec_open2(enc_, codec, nullptr); rc < 0)
    return Fail("cannot open the encoder", rc);
  frame_ = av_frame_alloc();
  if (!frame_) return Fail("out of memory");
  frame_->format = enc_->pix_fmt;
  frame_->width = enc_->width;
  frame_->height = enc_->height;
  frame_->color_range = enc_->color_range;
  if (int rc = av_frame_get_buffer(frame_, 0); rc < 0) return Fail("out of memory", rc);
  return true;
}

bool FfmpegClipWriter::Open(const std::string& path, const ClipWriterConfig& config) {
  Close();
  error_.clear();
  InitFfmpeg();
  config_ = config;
  const bool h264 = config.kind == ClipKind::H264Mp4;
  if (config_.width <= 0 || config_.height <= 0) return Fail("the clip has no size");
  if (h264) {
    // 4:2:0 pictures have even sides.
    config_.width = std::max(2, config_.width & ~1);
    config_.height = std::max(2, config_.height & ~1);
  }
  int rc = avformat_alloc_output_context2(&out_, nullptr, h264 ? "mp4" : "matroska", path.c_str());
  if (rc < 0 || !out_) return Fail("cannot set up the file", rc);
  pkt_ = av_packet_alloc();
  if (!pkt_) return Fail("out of memory");
  if (!OpenEncoder()) return false;

  video_ = avformat_new_stream(out_, nullptr);
  if (!video_) return Fail("out of memory");
  video_->time_base = kMillis;
  if ((rc = avcodec_parameters_from_context(video_->codecpar, enc_)) < 0)
    return Fail("cannot describe the picture stream", rc);
  if (config_.frameRate > 0) video_->avg_frame_rate = enc_->framerate;
  if (!h264 && config_.textTrack) {
    text_ = avformat_new_stream(out_, nullptr);
    if (!text_) return Fail("out of memory");
    text_->time_base = kMillis;
    text_->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    text_->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    av_dict_set(&text_->metadata, "title", "Время съёмки", 0);
    text_->disposition = AV_DISPOSITION_DEFAULT;
  }
  if (!config_.title.empty()) av_dict_set(&out_->metadata, "title", config_.title.c_str(), 0);
  if (!config_.creationTime.empty())
    av_dict_set(&out_->metadata, "creation_time", config_.creationTime.c_str(), 0);

  if ((rc = avio_open(&out_->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
    return Fail("cannot create " + path, rc);
  AVDictionary* opts = nullptr;
  if (h264) av_dict_set(&opts, "movflags", "+faststart", 0);
  rc = avformat_write_header(out_, &opts);
  av_dict_free(&opts);
  if (rc < 0) return Fail("cannot write the file's header", rc);
  headerWritten_ = true;
  return true;
}

bool FfmpegClipWriter::Write(AVPacket* pkt, AVStream* stream, long long fromNum,
                             long long fromDen) {
  pkt->stream_index = stream->index;
  av_packet_rescale_ts(pkt, AVRational{static_cast<int>(fromNum), static_cast<int>(fromDen)},
                       stream->time_base);
  const int rc = av_interleaved_write_frame(out_, pkt);
  av_packet_unref(pkt);
  return rc < 0 ? Fail("cannot write to the file", rc) : true;
}

bool FfmpegClipWriter::WriteJpeg(const std::uint8_t* data, std::size_t size, std::int64_t ptsMs,
                                 std::int64_t durationMs) {
  if (!headerWritten_) return Fail("the file is not open");
  if (config_.kind != ClipKind::MjpegMatroska)
    return Fail("JPEG pictures go into MJPEG clips only");
  if (size == 0 || size > 0x7FFFFFF0u) return Fail("empty picture");
  if (int rc = av_new_packet(pkt_, static_cast<int>(size)); rc < 0)
    return Fail("out of memory", rc);
  std::memcpy(pkt_->data, data, size);
  pkt_->pts = pkt_->dts = ptsMs;
  pkt_->duration = std::max<std::int64_t>(durationMs, 0);
  pkt_->flags |= AV_PKT_FLAG_KEY;
  return Write(pkt_, video_, 1, 1000);
}

bool FfmpegClipWriter::WritePicture(const ClipPicture& pic, std::int64_t ptsMs,
                                    std::int64_t durationMs) {
  if (!headerWritten_) return Fail("the file is not open");
  if (!pic.data || pic.width <= 0 || pic.height <= 0 || pic.stride < pic.width * 3)
    return Fail("empty picture");
  // The JPEG formats want the plain one with the range set on the scaler.
  const bool full = enc_->pix_fmt == AV_PIX_FMT_YUVJ420P;
  sws_ = sws_getCachedContext(sws_, pic.width, pic.height, AV_PIX_FMT_BGR24, config_.width,
                              config_.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                              nullptr);
  if (!sws_) return Fail("cannot scale the picture");
  if (full) {
    int *inv, *tab, srcRange, dstRange, b, c, s;
    if (sws_getColorspaceDetails(sws_, &inv, &srcRange, &tab, &dstRange, &b, &c, &s) >= 0 &&
        dstRange != 1)
      sws_setColorspaceDetails(sws_, inv, srcRange, tab, 1, b, c, s);
  }
  if (int rc = av_frame_make_writable(frame_); rc < 0) return Fail("out of memory", rc);
  const std::uint8_t* src[4] = {pic.data, nullptr, nullptr, nullptr};
  int srcStride[4] = {pic.stride, 0, 0, 0};
  if (!pic.topDown) {
    // Bottom row first: start at the top row and walk backwards.
    src[0] = pic.data + static_cast<std::size_t>(pic.height - 1) * pic.stride;
    srcStride[0] = -pic.stride;
  }
  sws_scale(sws_, src, srcStride, 0, pic.height, frame_->data, frame_->linesize);
  frame_->pts = ptsMs;
  durations_[ptsMs] = std::max<std::int64_t>(durationMs, 0);
  if (int rc = avcodec_send_frame(enc_, frame_); rc < 0) return Fail("cannot code the picture", rc);
  return Drain(false);
}

bool FfmpegClipWriter::Drain(bool flush) {
  for (;;) {
    const int rc = avcodec_receive_packet(enc_, pkt_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return Fail("cannot code the picture", rc);
    if (auto it = durations_.find(pkt_->pts); it != durations_.end()) {
      pkt_->duration = it->second;
      durations_.erase(it);
    }
    if (!Write(pkt_, video_, enc_->time_base.num, enc_->time_base.den)) return false;
    (void)flush;
  }
}

bool FfmpegClipWriter::WriteText(const std::string& text, std::int64_t ptsMs,
                                 std::int64_t durationMs) {
  if (!headerWritten_) return Fail("the file is not open");
  if (!text_) return true;  // this kind of clip has no text track
  if (int rc = av_new_packet(pkt_, static_cast<int>(text.size())); rc < 0)
    return Fail("out of memory", rc);
  std::memcpy(pkt_->data, text.data(), text.size());
  pkt_->pts = pkt_->dts = ptsMs;
  pkt_->duration = std::max<std::int64_t>(durationMs, 1);
  pkt_->flags |= AV_PKT_FLAG_KEY;
  return Write(pkt_, text_, 1, 1000);
}

bool FfmpegClipWriter::Finish() {
  if (!headerWritten_) return Fail(error_.empty() ? "the file is not open" : error_);
  bool ok = true;
  if (enc_) {
    if (int rc = avcodec_send_frame(enc_, nullptr); rc < 0 && rc != AVERROR_EOF)
      ok = Fail("cannot finish coding", rc);
    ok = Drain(true) && ok;
  }
  if (int rc = av_write_trailer(out_); rc < 0) ok = Fail("cannot complete the file", rc) && ok;
  if (out_->pb) {
    if (int rc = avio_closep(&out_->pb); rc < 0) ok = Fail("cannot close the file", rc) && ok;
  }
  Close();
  return ok;
}

void FfmpegClipWriter::Abort() {
  Close();
}

}  // namespace zv

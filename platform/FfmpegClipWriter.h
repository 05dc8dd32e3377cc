#pragma once
// Video files through FFmpeg's libraries: libavformat writes Matroska or
// MP4, libavcodec codes MJPEG or H.264 (libx264), libswscale brings
// pictures to the clip's size and format.
#include <map>
#include <memory>

#include "platform/ClipWriter.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace zv {

class FfmpegClipWriter final : public IClipWriter {
 public:
  FfmpegClipWriter() = default;
  ~FfmpegClipWriter() override;
  FfmpegClipWriter(const FfmpegClipWriter&) = delete;
  FfmpegClipWriter& operator=(const FfmpegClipWriter&) = delete;

  bool Open(const std::string& path, const ClipWriterConfig& config) override;
  bool WriteJpeg(const std::uint8_t* data, std::size_t size, std::int64_t ptsMs,
                 std::int64_t durationMs) override;
  bool WritePicture(const ClipPicture& picture, std::int64_t ptsMs,
                    std::int64_t durationMs) override;
  bool WriteText(const std::string& text, std::int64_t ptsMs, std::int64_t durationMs) override;
  bool Finish() override;
  void Abort() override;
  std::string LastError() const override { return error_; }

 private:
  bool Fail(const std::string& what, int code = 0);
  bool OpenEncoder();
  bool Drain(bool flush);
  bool Write(AVPacket* pkt, AVStream* stream, long long fromNum, long long fromDen);
  void Close();

  ClipWriterConfig config_;
  AVFormatContext* out_ = nullptr;
  AVStream* video_ = nullptr;
  AVStream* text_ = nullptr;
  AVCodecContext* enc_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* pkt_ = nullptr;
  SwsContext* sws_ = nullptr;
  bool headerWritten_ = false;
  std::map<std::int64_t, std::int64_t> durations_;  // pts -> duration of pictures in the encoder
  std::string error_;
};

class FfmpegClipWriterFactory final : public IClipWriterFactory {
 public:
  std::unique_ptr<IClipWriter> Create() override { return std::make_unique<FfmpegClipWriter>(); }
};

}  // namespace zv

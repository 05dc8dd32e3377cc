#include "platform/V4l2Capture.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zv {

namespace {
// Sizes offered when the device describes a continuous or stepwise range.
constexpr CaptureSize kCommonSizes[] = {{160, 120}, {176, 144}, {240, 180}, {320, 240},
                                        {352, 240}, {352, 288}, {384, 288}, {640, 480},
                                        {720, 576}, {800, 600}, {1280, 720}};
}  // namespace

V4l2Capture::V4l2Capture(std::string devicePrefix, int grabTimeoutMs)
    : prefix_(std::move(devicePrefix)), timeoutMs_(grabTimeoutMs) {}

V4l2Capture::~V4l2Capture() {
  Disconnect();
}

std::string V4l2Capture::DeviceName(int index) const {
  return prefix_ + std::to_string(index);
}

void V4l2Capture::Fail(const std::string& what) {
  error_ = what + ": " + std::strerror(errno);
}

bool V4l2Capture::Xioctl(unsigned long request, void* arg, const char* what) {
  int r;
  do {
    r = v4l2_ioctl(fd_, request, arg);
  } while (r == -1 && errno == EINTR);
  if (r == -1) {
    Fail(what);
    return false;
  }
  return true;
}

bool V4l2Capture::Connect(int index) {
  Disconnect();
  const std::string path = DeviceName(index);
  const int fd = v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(path);
    return false;
  }
  fd_ = fd;
  v4l2_capability cap{};
  if (!Xioctl(VIDIOC_QUERYCAP, &cap, path.c_str())) {
    Disconnect();
    return false;
  }
  const std::uint32_t caps =
      (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
    error_ = path + ": not a streaming capture device";
    Disconnect();
    return false;
  }
  // Ask for BGR24 at the device's current size; libv4l2 converts to it.
  if (!ReadFormat()) {
    Disconnect();
    return false;
  }
  CaptureFormat f{width_, height_, 24, 0};
  SetFormat(f);
  return true;
}

void V4l2Capture::Disconnect() {
  if (fd_ < 0) return;
  StopStreaming();
  v4l2_close(fd_);
  fd_ = -1;
  width_ = height_ = bytesPerLine_ = 0;
}

bool V4l2Capture::ReadFormat() {
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (!Xioctl(VIDIOC_G_FMT, &fmt, "VIDIOC_G_FMT")) return false;
  width_ = static_cast<int>(fmt.fmt.pix.width);
  height_ = static_cast<int>(fmt.fmt.pix.height);
  bytesPerLine_ = static_cast<int>(fmt.fmt.pix.bytesperline);
  if (bytesPerLine_ < width_ * 3) bytesPerLine_ = width_ * 3;
  return true;
}

bool V4l2Capture::GetFormat(CaptureFormat& out) {
  if (fd_ < 0) return false;
  if (!ReadFormat()) return false;
  out.width = width_;
  out.height = height_;
  out.bitsPerPixel = 24;
  out.imageSize = static_cast<std::uint32_t>(width_ * height_ * 3);
  return true;
}

bool V4l2Capture::SetFormat(const CaptureFormat& want) {
  if (fd_ < 0 || want.width <= 0 || want.height <= 0) return false;
  StopStreaming();
  const int oldW = width_, oldH = height_;
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = static_cast<std::uint32_t>(want.width);
  fmt.fmt.pix.height = static_cast<std::uint32_t>(want.height);
  fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
  fmt.fmt.pix.field = V4L2_FIELD_ANY;
  const bool set = Xioctl(VIDIOC_S_FMT, &fmt, "VIDIOC_S_FMT");
  const bool exact = set && static_cast<int>(fmt.fmt.pix.width) == want.width &&
                     static_cast<int>(fmt.fmt.pix.height) == want.height &&
                     fmt.fmt.pix.pixelformat == V4L2_PIX_FMT_BGR24;
  if (!exact) {
    // The device chose something else: it keeps its previous format.
    if (set && oldW > 0 && oldH > 0) {
      v4l2_format back{};
      back.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      back.fmt.pix.width = static_cast<std::uint32_t>(oldW);
      back.fmt.pix.height = static_cast<std::uint32_t>(oldH);
      back.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
      back.fmt.pix.field = V4L2_FIELD_ANY;
      Xioctl(VIDIOC_S_FMT, &back, "VIDIOC_S_FMT");
    }
    if (set) error_ = "format refused";
    ReadFormat();
    return false;
  }
  return ReadFormat();
}

bool V4l2Capture::StartStreaming() {
  v4l2_requestbuffers req{};
  req.count = 4;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  if (!Xioctl(VIDIOC_REQBUFS, &req, "VIDIOC_REQBUFS")) return false;
  if (req.count < 1) {
    error_ = "no capture buffers";
    return false;
  }
  buffers_.assign(req.count, Buffer{});
  for (std::uint32_t i = 0; i < req.count; ++i) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = i;
    if (!Xioctl(VIDIOC_QUERYBUF, &buf, "VIDIOC_QUERYBUF")) return StopStreaming(), false;
    void* p = v4l2_mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
    if (p == MAP_FAILED) {
      Fail("mmap");
      StopStreaming();
      return false;
    }
    buffers_[i] = Buffer{p, buf.length};
    if (!Xioctl(VIDIOC_QBUF, &buf, "VIDIOC_QBUF")) return StopStreaming(), false;
  }
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (!Xioctl(VIDIOC_STREAMON, &type, "VIDIOC_STREAMON")) return StopStreaming(), false;
  streaming_ = true;
  return true;
}

void V4l2Capture::StopStreaming() {
  if (fd_ >= 0 && streaming_) {
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2_ioctl(fd_, VIDIOC_STREAMOFF, &type);
  }
  streaming_ = false;
  for (Buffer& b : buffers_)
    if (b.start) v4l2_munmap(b.start, b.length);
  buffers_.clear();
  if (fd_ >= 0) {
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    v4l2_ioctl(fd_, VIDIOC_REQBUFS, &req);
  }
}

bool V4l2Capture::Grab(const CaptureTarget& target) {
  if (fd_ < 0) {
    if (error_.empty()) error_ = "not connected";
    return false;
  }
  if (!streaming_ && !StartStreaming()) return false;
  pollfd pfd{fd_, POLLIN, 0};
  int r;
  do {
    r = poll(&pfd, 1, timeoutMs_);
  } while (r == -1 && errno == EINTR);
  if (r <= 0) {
    if (r == 0)
      error_ = "no frame within " + std::to_string(timeoutMs_) + " ms";
    else
      Fail("poll");
    return false;
  }
  if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
    error_ = "device error or gone";
    return false;
  }
  v4l2_buffer buf{};
  buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buf.memory = V4L2_MEMORY_MMAP;
  if (!Xioctl(VIDIOC_DQBUF, &buf, "VIDIOC_DQBUF")) return false;
  // Frames that queued up since the last grab are old: take the newest.
  for (;;) {
    v4l2_buffer newer{};
    newer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    newer.memory = V4L2_MEMORY_MMAP;
    if (v4l2_ioctl(fd_, VIDIOC_DQBUF, &newer) != 0) break;
    Xioctl(VIDIOC_QBUF, &buf, "VIDIOC_QBUF");
    buf = newer;
  }
  bool ok = false;
  if (buf.index < buffers_.size() && target.data && target.width == width_ &&
      target.height == height_) {
    const std::size_t need = static_cast<std::size_t>(bytesPerLine_) * (height_ - 1) +
                             static_cast<std::size_t>(width_) * 3;
    if (buf.bytesused >= need || buffers_[buf.index].length >= need) {
      CopyTopDownBgr(static_cast<const std::uint8_t*>(buffers_[buf.index].start), bytesPerLine_,
                     target);
      ok = true;
    } else {
      error_ = "short frame";
    }
  } else {
    error_ = "frame size differs from the format";
  }
  Xioctl(VIDIOC_QBUF, &buf, "VIDIOC_QBUF");
  return ok;
}

std::vector<CaptureSize> V4l2Capture::SupportedSizes() {
  std::vector<CaptureSize> out;
  if (fd_ < 0) return out;
  v4l2_frmsizeenum fs{};
  fs.pixel_format = V4L2_PIX_FMT_BGR24;
  for (fs.index = 0; v4l2_ioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &fs) == 0; ++fs.index) {
    if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      out.push_back({static_cast<int>(fs.discrete.width), static_cast<int>(fs.discrete.height)});
    } else {
      for (const CaptureSize& s : kCommonSizes)
        if (s.width >= static_cast<int>(fs.stepwise.min_width) &&
            s.width <= static_cast<int>(fs.stepwise.max_width) &&
            s.height >= static_cast<int>(fs.stepwise.min_height) &&
            s.height <= static_cast<int>(fs.stepwise.max_height))
          out.push_back(s);
      break;
    }
  }
  if (out.empty() && width_ > 0) out.push_back({width_, height_});
  std::sort(out.begin(), out.end(), [](const CaptureSize& a, const CaptureSize& b) {
    return a.width != b.width ? a.width < b.width : a.height < b.height;
  });
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<std::string> V4l2Capture::Inputs() {
  std::vector<std::string> out;
  if (fd_ < 0) return out;
  v4l2_input in{};
  for (in.index = 0; v4l2_ioctl(fd_, VIDIOC_ENUMINPUT, &in) == 0; ++in.index)
    out.emplace_back(reinterpret_cast<const char*>(in.name));
  return out;
}

int V4l2Capture::CurrentInput() {
  int i = -1;
  if (fd_ < 0 || v4l2_ioctl(fd_, VIDIOC_G_INPUT, &i) != 0) return -1;
  return i;
}

bool V4l2Capture::SetInput(int index) {
  if (fd_ < 0) return false;
  StopStreaming();
  return Xioctl(VIDIOC_S_INPUT, &index, "VIDIOC_S_INPUT");
}

std::vector<std::string> V4l2Capture::Standards() {
  std::vector<std::string> out;
  standardIds_.clear();
  if (fd_ < 0) return out;
  v4l2_standard st{};
  for (st.index = 0; v4l2_ioctl(fd_, VIDIOC_ENUMSTD, &st) == 0; ++st.index) {
    out.emplace_back(reinterpret_cast<const char*>(st.name));
    standardIds_.push_back(st.id);
  }
  return out;
}

int V4l2Capture::CurrentStandard() {
  if (fd_ < 0) return -1;
  if (standardIds_.empty()) Standards();
  v4l2_std_id id = 0;
  if (v4l2_ioctl(fd_, VIDIOC_G_STD, &id) != 0) return -1;
  for (std::size_t i = 0; i < standardIds_.size(); ++i)
    if (standardIds_[i] == id) return static_cast<int>(i);
  for (std::size_t i = 0; i < standardIds_.size(); ++i)
    if (standardIds_[i] & id) return static_cast<int>(i);
  return -1;
}

bool V4l2Capture::SetStandard(int index) {
  if (fd_ < 0) return false;
  if (standardIds_.empty()) Standards();
  if (index < 0 || index >= static_cast<int>(standardIds_.size())) return false;
  StopStreaming();
  v4l2_std_id id = standardIds_[static_cast<std::size_t>(index)];
  return Xioctl(VIDIOC_S_STD, &id, "VIDIOC_S_STD");
}

std::vector<CaptureControl> V4l2Capture::Controls() {
  std::vector<CaptureControl> out;
  if (fd_ < 0) return out;
  for (std::uint32_t id :
       {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_SATURATION, V4L2_CID_HUE}) {
    v4l2_queryctrl q{};
    q.id = id;
    if (v4l2_ioctl(fd_, VIDIOC_QUERYCTRL, &q) != 0 || (q.flags & V4L2_CTRL_FLAG_DISABLED)) continue;
    v4l2_control c{};
    c.id = id;
    if (v4l2_ioctl(fd_, VIDIOC_G_CTRL, &c) != 0) c.value = q.default_value;
    out.push_back({id, reinterpret_cast<const char*>(q.name), q.minimum, q.maximum,
                   q.step > 0 ? q.step : 1, q.default_value, c.value});
  }
  return out;
}

bool V4l2Capture::SetControl(std::uint32_t id, int value) {
  if (fd_ < 0) return false;
  v4l2_control c{};
  c.id = id;
  c.value = value;
  return Xioctl(VIDIOC_S_CTRL, &c, "VIDIOC_S_CTRL");
}

}  // namespace zv

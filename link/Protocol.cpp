#include "link/Protocol.h"

#include <cstring>

namespace zv {

namespace {
constexpr char kMarker[] = "ZvxCmd";

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

std::vector<std::uint8_t> BuildHeader(std::int32_t length, std::uint8_t type, std::uint8_t arg1,
                                      std::uint8_t arg2, std::uint8_t arg3, std::uint8_t arg4) {
  std::vector<std::uint8_t> h(link::kHeaderSize, 0);
  std::memcpy(h.data(), kMarker, link::kMarkerSize);
  PutLe32(h.data() + 6, static_cast<std::uint32_t>(length));
  h[10] = type;
  h[11] = arg1;
  h[12] = arg2;
  h[13] = arg3;
  h[14] = arg4;
  return h;  // bytes 15..18: reserved, 0
}

std::vector<std::uint8_t> BuildCommand(bool armed, int index) {
  return BuildHeader(link::kMinLength, armed ? link::mtArm : link::mtDisarm, 1, 1,
                     static_cast<std::uint8_t>(index + 1), 0);
}

namespace {
// Comment segment: FF FE, a big-endian length that counts itself, our text.
constexpr char kStatusTag[] = "ZvxSt";
constexpr std::size_t kStatusTagSize = 5;
constexpr std::size_t kStatusSegmentData = kStatusTagSize + 6;
}  // namespace

std::vector<std::uint8_t> AddStatusSegment(std::span<const std::uint8_t> jpeg,
                                           const PictureStatus& status) {
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
    return std::vector<std::uint8_t>(jpeg.begin(), jpeg.end());
  std::vector<std::uint8_t> out;
  out.reserve(jpeg.size() + 4 + kStatusSegmentData);
  out.insert(out.end(), jpeg.begin(), jpeg.begin() + 2);
  const std::size_t length = 2 + kStatusSegmentData;
  out.push_back(0xFF);
  out.push_back(0xFE);
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  out.insert(out.end(), kStatusTag, kStatusTag + kStatusTagSize);
  out.push_back(status.ObjectId);
  out.push_back(status.Camera);
  out.insert(out.end(), status.Block, status.Block + 4);
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

bool ReadStatusSegment(const std::uint8_t* jpeg, std::size_t size, PictureStatus& status) {
  if (size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  std::size_t p = 2;
  // Segments with a length, up to the start of the picture data.
  while (p + 4 <= size && jpeg[p] == 0xFF) {
    const std::uint8_t marker = jpeg[p + 1];
    if (marker == 0xDA || marker == 0xD9) return false;
    const std::size_t length = static_cast<std::size_t>(jpeg[p + 2]) << 8 | jpeg[p + 3];
    if (length < 2 || p + 2 + length > size) return false;
    if (marker == 0xFE && length == 2 + kStatusSegmentData &&
        std::memcmp(jpeg + p + 4, kStatusTag, kStatusTagSize) == 0) {
      const std::uint8_t* d = jpeg + p + 4 + kStatusTagSize;
      status.ObjectId = d[0];
      status.Camera = d[1];
      std::memcpy(status.Block, d + 2, 4);
      return true;
    }
    p += 2 + length;
  }
  return false;
}

void LinkAssembler::Reset() {
  if (inPass_) return;
  end_ = 0;
  scan_ = 0;
  length_ = 0;
  searching_ = true;
}

std::uint8_t* LinkAssembler::WritePtr() {
  if (!buf_) buf_.reset(new std::uint8_t[link::kReceiveBufferSize]);
  return buf_.get() + end_;
}

void LinkAssembler::Feed(const void* data, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    const std::size_t n = count < Space() ? count : Space();
    if (n == 0) return;  // cannot happen: every pass leaves room
    std::memcpy(WritePtr(), p, n);
    ReceiveBytes(n);
    p += n;
    count -= n;
  }
}

void LinkAssembler::Search(std::size_t count) {
  std::uint8_t* b = buf_.get();
  // Every start position whose marker and Length field have fully arrived.
  while (scan_ + link::kMarkerSize + 4 <= end_) {
    const std::size_t p = scan_++;
    if (std::memcmp(b + p, kMarker, link::kMarkerSize) != 0) continue;
    const auto len = static_cast<std::int32_t>(GetLe32(b + p + link::kMarkerSize));
    if (len < link::kMinLength || len > link::kMaxLength) continue;  // a false marker
    std::memmove(b, b + p, end_ - p);
    end_ -= p;
    length_ = len;
    scan_ = static_cast<std::size_t>(len);
    searching_ = false;
    return;
  }
  // No message start: garbage piles up to its limit, then all of it goes but
  // the newest read.  Only its last bytes, not yet tried as a marker start,
  // can still matter, so those are kept.
  if (end_ > link::kGarbageLimit) {
    std::size_t keep = end_ - scan_;
    if (keep > count) keep = count;
    std::memmove(b, b + end_ - keep, keep);
    end_ = keep;
    scan_ = 0;
  }
}

void LinkAssembler::ReceiveBytes(std::size_t count) {
  if (count > Space()) count = Space();
  end_ += count;
  if (inPass_) return;  // the running pass goes on with these bytes
  inPass_ = true;
  std::size_t fresh = count;
  for (;;) {
    if (searching_) {
      Search(fresh);
      if (searching_) break;
    }
    const std::size_t len = static_cast<std::size_t>(length_);
    if (end_ < len) break;
    const std::uint8_t* m = buf_.get();
    LinkMessage msg;
    msg.Length = length_;
    msg.Type = m[10];
    msg.Arg1 = m[11];
    msg.Arg2 = m[12];
    msg.Arg3 = m[13];
    msg.Arg4 = m[14];
    msg.Trailer = GetLe32(m + len - 4);
    msg.Payload = m + link::kHeaderSize;
    msg.PayloadSize = len - link::kHeaderSize;
    // The next search starts right after this message, whatever the handler does.
    searching_ = true;
    length_ = 0;
    scan_ = len;
    ++handled_;
    try {
      if (handler_) handler_(msg);
    } catch (...) {
      inPass_ = false;
      throw;
    }
    const std::size_t after = end_ - len;
    if (fresh > after) fresh = after;
  }
  inPass_ = false;
}

void ModemPictureReceiver::Receive(const std::uint8_t* data, std::size_t count) {
  held_.insert(held_.end(), data, data + count);
  // A picture's first bytes: the count, then the JPEG start marker and the
  // next marker's first byte.
  constexpr std::size_t kHead = 7;
  std::size_t pos = 0;
  while (held_.size() - pos >= kHead) {
    const std::uint8_t* p = held_.data() + pos;
    const std::uint32_t n = GetLe32(p);
    const bool start = n >= 3 && static_cast<std::size_t>(n) + 4 <= link::kModemBufferSize &&
                       p[4] == 0xFF && p[5] == 0xD8 && p[6] == 0xFF;
    if (!start) {
      if (!lost_ && onLost_) onLost_(n);
      lost_ = true;
      ++pos;
      continue;
    }
    if (held_.size() - pos < static_cast<std::size_t>(n) + 4) break;
    lost_ = false;
    if (onPicture_) onPicture_(p + 4, n);
    pos += static_cast<std::size_t>(n) + 4;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(pos));
}

}  // namespace zv

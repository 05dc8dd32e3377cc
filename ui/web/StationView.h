#pragma once
// What the web view may see of the station, and the one thing it may ask
// of it.  Plain C++: the station implements it over its own state; the
// tests with a small fake.  Every call comes on the main loop.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "remote/StationEvent.h"
#include "video/Picture.h"

namespace zv::web {

struct JournalEntry {
  std::string text;  // the journal view's line: number, date, time and text
  int kind = 0;      // 0..4
  int objectId = 0;  // the Object the line is about; 0: none (the station's own lines)
};

class IStationView {
 public:
  virtual ~IStationView() = default;
  // Every Object of the directory with its state and cameras.
  virtual std::vector<remote::ObjectState> Objects() const = 0;
  // A number that changes whenever the camera's picture changes; 0 when the
  // camera has no picture.
  virtual std::uint64_t PictureSerial(int objectId, int camera) const = 0;
  // The camera's latest picture: as JPEG in jpeg, or else as a picture in
  // picture (the view encodes it).  False when there is none.
  virtual bool LatestPicture(int objectId, int camera, std::vector<std::uint8_t>& jpeg,
                             TPicture& picture) const = 0;
  // The latest journal lines, oldest first, at most max.
  virtual std::vector<JournalEntry> RecentJournal(std::size_t max) const = 0;
  // An arm (true) or disarm request from the page by user, acting as the
  // operator's tick does.  False when there is no such Object.
  virtual bool RequestArm(int objectId, bool arm, const std::string& user) = 0;
};

}  // namespace zv::web

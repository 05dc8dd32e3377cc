#pragma once
// The sound player of the site: plays and records the alarm sound file.
// The program backs it with the toolkit's audio; tests with a recording fake.
#include <string>

namespace zv {

class IMediaPlayer {
 public:
  virtual ~IMediaPlayer() = default;
  virtual bool Playing() const = 0;
  virtual bool Recording() const = 0;
  virtual void Stop() = 0;
  // Stops a recording and writes the file.  False on failure.
  virtual bool Save() = 0;
  // Starts recording, appended to fileName; returns at once.  False with
  // why set when it cannot.
  virtual bool StartRecording(const std::string& fileName, std::string& why) = 0;

  // Playing (the playback page).  A player that cannot play keeps these.
  // Opens a wave file for playing; false with why set when it cannot.
  virtual bool Open(const std::string& fileName, std::string& why) {
    (void)fileName;
    why = "no sound output";
    return false;
  }
  // Length and position of the open file, in milliseconds.
  virtual long long LengthMs() const { return 0; }
  virtual long long PositionMs() const { return 0; }
  virtual void Seek(long long ms) { (void)ms; }
  // Plays from the position; false with why set when it cannot.
  virtual bool Play(std::string& why) {
    why = "no sound output";
    return false;
  }
};

}  // namespace zv

#pragma once
// The recording pair: pictures back to back in a ".bin" file, one 52-byte
// descriptor per picture in a ".dsc" file with the same base name.
// RecordingPair is the recorder's side (appends, volume limit), and
// RecordingReader the viewer's (read-only, shares the files with a recorder
// that keeps writing them).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detect/FrameDescriptor.h"

namespace zv {

struct IoResult {
  bool ok = true;
  std::string reason;  // why it failed, for the status line and the journal
  explicit operator bool() const { return ok; }
  static IoResult Fail(std::string why) { return {false, std::move(why)}; }
};

// The name with its extension replaced by ".dsc" (added when there is none).
std::string DscNameFor(const std::string& name);
// The ".bin" name of a pair from its ".dsc" name.
std::string BinNameFor(const std::string& dscName);

// What to do when a recording would grow past its volume limit; the order
// of the choices on the recording page.
enum class VolumeLimitAction {
  Stop = 0,      // stop recording
  NextFile = 1,  // continue in a new pair "<name>_<n>"
  Wrap = 2,      // start again at the beginning, overwriting the oldest records
};

struct VolumePolicy {
  std::int64_t limitBytes = 0;  // ".bin" plus ".dsc"; 0 or less: no limit
  VolumeLimitAction action = VolumeLimitAction::NextFile;
};

// Volume limit in bytes from the page's value in megabytes.
std::int64_t VolumeLimitBytes(double megabytes);

struct AppendResult {
  enum Status {
    Written,         // picture and descriptor are in the files
    NotOpen,         // no pair open: nothing done
    WriteFailed,     // a write failed; reason says which and why
    StoppedByLimit,  // the limit says stop: nothing written, recording must stop
  };
  Status status = NotOpen;
  // A failure following a success (or the first one): journal it now.  A
  // run of failures is reported once.
  bool reportNow = false;
  bool switchedFile = false;  // continued in a new pair (see DscName())
  bool wrapped = false;       // went back to record 1
  bool resumed = false;       // written after a run of failures
  std::int32_t recordNumber = 0;
  std::string reason;
  bool ok() const { return status == Written; }
};

class RecordingPair {
 public:
  RecordingPair() = default;
  ~RecordingPair();
  RecordingPair(const RecordingPair&) = delete;
  RecordingPair& operator=(const RecordingPair&) = delete;

  // Opens the pair only if both files exist (choosing a pair by name).
  IoResult OpenExisting(const std::string& name);
  // Creates whichever file is missing, empty, then opens the pair (the
  // record button).  Fails, with the reason, when either file cannot be
  // opened for writing; nothing is left open then.
  IoResult OpenOrCreate(const std::string& name);
  void Close();
  bool IsOpen() const { return dsc_ >= 0; }
  const std::string& DscName() const { return dscName_; }
  const std::string& BinName() const { return binName_; }
  // Bytes cut from a torn ".dsc" tail by the last open (0 when whole).
  std::int64_t RepairedBytes() const { return repaired_; }

  // Records in the ".dsc" file, measured now.
  std::int32_t RecordCount() const;

  void SetVolumePolicy(const VolumePolicy& p) { policy_ = p; }
  const VolumePolicy& Policy() const { return policy_; }

  // Appends one picture: fills in d's record number, offset and length and
  // writes the picture (len bytes at data; none when len is 0, as after a
  // failed encoding) and then its descriptor.
  AppendResult Append(FrameDescriptor& d, const std::uint8_t* data, std::size_t len);

 private:
  IoResult Open(const std::string& name, bool create);
  AppendResult Fail(AppendResult r, std::string reason);
  std::int64_t BinSize() const;
  IoResult StartNextPair();
  // Reads every record's place (and, when asked, its capture time).
  bool LoadSlots(std::vector<double>* times = nullptr);
  // Finds where a pair that has gone round continues: after its newest
  // record.  False when the ".dsc" cannot be read.
  bool ResumeAfterNewest();
  // Gives up the record in slot and every picture record whose picture
  // lies in [from, to); false when the ".dsc" refused.
  bool MarkOverwritten(std::int32_t slot, std::int64_t from, std::int64_t to);

  int dsc_ = -1;
  int bin_ = -1;
  std::string dscName_, binName_;
  std::string baseName_;  // the name chosen by the user, for "next file" names
  int nextNumber_ = 1;
  std::int64_t repaired_ = 0;
  VolumePolicy policy_;
  bool failing_ = false;

  // Wrapping: where the next record and picture go once the pair has gone
  // round, and what every slot holds (for the records it overwrites).
  bool ring_ = false;
  bool resumeChecked_ = false;
  std::int32_t ringSlot_ = 1;
  std::int64_t ringPos_ = 0;
  struct Slot {
    std::int64_t offset = 0, length = 0;
    bool picture = false;
  };
  std::vector<Slot> slots_;
};

class RecordingReader {
 public:
  RecordingReader() = default;
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  // Opens both files read-only; fails when either is missing.
  IoResult Open(const std::string& name);
  void Close();
  bool IsOpen() const { return dsc_ >= 0; }
  const std::string& DscName() const { return dscName_; }

  // Whole records in the ".dsc" file now (a torn tail is not counted).
  std::int32_t RecordCount() const;
  bool ReadDescriptor(std::int32_t n, FrameDescriptor& out) const;
  // Change levels of records first..first+count-1, read in one go.
  bool ReadChangeLevels(std::int32_t first, std::int32_t count,
                        std::vector<std::int32_t>& out) const;
  // Reads len bytes of the ".bin" at offset; false unless all were read.
  bool ReadPicture(std::int64_t offset, std::uint8_t* to, std::size_t len) const;

 private:
  int dsc_ = -1;
  int bin_ = -1;
  std::string dscName_;
};

}  // namespace zv

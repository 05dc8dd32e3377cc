#pragma once
// The global camera table: 20 slots, cameras numbered 1..20 in creation
// order.  The table owns its cameras.  The camera type itself belongs to the
// video subsystem; the table only knows the fields that the settings and the
// lists need, and creates cameras through a factory the video subsystem sets.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zv {

class IniFile;

class TCameraInfo {
 public:
  explicit TCameraInfo(int number) : Number(number) {}
  virtual ~TCameraInfo() = default;
  TCameraInfo(const TCameraInfo&) = delete;
  TCameraInfo& operator=(const TCameraInfo&) = delete;

  // Global number, 1..20: the camera's table slot and its [Camera<k>]
  // section.  Only the table changes it, when it closes or opens a gap.
  int Number;
  int ObjID = 0;
  std::string ObjName;
  int CamIndex = 0;  // 1..8 within its Object
  std::string Description;
  std::string Hint;
  // Pictures placed into the camera from its site (at the station): a
  // reader sees from it that the picture changed.
  std::uint64_t PicturesPlaced = 0;

  // Whether the camera writes its section when it goes; off for a camera
  // taken out of the table, whose number passes to the next one.
  bool SaveOnDestroy = true;

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool v) { visible_ = v; }
  // Redraws the camera's view.
  virtual void Repaint() {}
  // Writes the camera's own [Camera<k>] section.
  virtual void SaveToIni(IniFile& /*ini*/) {}

 private:
  bool visible_ = true;
};

class CameraTable {
 public:
  static constexpr int kMaxCameras = 20;
  using Factory = std::function<std::unique_ptr<TCameraInfo>(int number)>;

  CameraTable();
  void SetFactory(Factory f) { factory_ = std::move(f); }

  // Creates camera CameraCount + 1; throws std::runtime_error when all 20
  // slots are taken.
  TCameraInfo& CreateNext();
  // Frees cameras 1..CameraCount.
  void FreeAll();
  // Frees the last camera.
  void FreeLast();
  // Creates a camera as CameraCount + 1 (reading that number's section, as
  // every new camera does) and moves it to `number`; the cameras from
  // `number` on move up by one.  Throws std::runtime_error when all 20 slots
  // are taken or `number` is outside 1..CameraCount + 1.
  TCameraInfo& CreateAt(int number);
  // Takes camera `number` out and frees it; the cameras after it move down
  // by one, so cameras 1..CameraCount stay without gaps.  The table is
  // already closed when the camera's destructor runs.
  void Remove(int number);

  int CameraCount() const { return count_; }
  TCameraInfo* Get(int number) const;
  template <class T>
  T* GetAs(int number) const {
    return dynamic_cast<T*>(Get(number));
  }

 private:
  Factory factory_;
  std::array<std::unique_ptr<TCameraInfo>, kMaxCameras + 1> slots_{};
  int count_ = 0;
};

}  // namespace zv

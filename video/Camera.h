#pragma once
// One camera: its four pictures, detection settings, the 20 x 16 zone grid,
// its view in the camera area (position, context menu, zone painting) and
// its [Camera<k>] settings section.  The view's drawing is done by ui/ from
// this state; Overlay() says what goes over the picture.
#include <array>
#include <string>
#include <vector>

#include "app/Cameras.h"
#include "app/Controls.h"
#include "app/Journal.h"
#include "app/Picture.h"
#include "app/Settings.h"
#include "app/Zones.h"
#include "platform/Dialogs.h"
#include "platform/Signal.h"
#include "video/Tiling.h"

namespace zv {

// What a camera asks of the capture page that shows it.
class ICameraHost {
 public:
  virtual ~ICameraHost() = default;
  // The size of the captured pictures (a new camera's pictures take it).
  virtual int CaptureWidth() const = 0;
  virtual int CaptureHeight() const = 0;
  // The views show the played-back pictures.
  virtual bool PlaybackPageShown() const = 0;
  // The views show the difference pictures ("Просмотр кадра разницы").
  virtual bool ShowDifference() const = 0;
  // Pictures are being recorded: motion is measured, and outlined.
  virtual bool Recording() const = 0;
  // A view grew or shrank: the views are tiled again.
  virtual void ViewPanelResize() = 0;
};

// What a camera uses of the program around it: the settings (its section,
// the mode, the Objects its hint names), the journal, the dialogs (a new
// name), the camera list (its item's text) and its host.
struct CameraContext {
  Settings& settings;
  Journal& journal;
  IDialogs& dialogs;
  TCheckListBox& cameraList;
  ICameraHost& host;
};

struct CameraMenuItem {
  std::string Caption;
  bool Visible = true;
  bool Enabled = true;
  bool Checked = false;
  bool CheckItem = false;
};

// What the view draws over its picture, for a view of the given size.
struct CameraOverlay {
  bool zoneSetup = false;  // the zone set-up view
  int s1 = 0;              // lime hatched rectangle (0,0)-(s1,2*s1)
  int s2 = 0;              // fuchsia hatched rectangle (0,h-2*s2)-(s2,h)
  // Red dotted outlines; in the set-up view each also gets a cross.
  std::vector<ZoneRect> outlines;
  bool crosses = false;
  TColor frameColor = 0;
};

// The view frame's colour for an Object number (0xBBGGRR).
TColor ObjectColor(int objId);
// Side of an overlay rectangle: Round(sqrt(percent * (w * h div 200))).
int OverlaySide(double percent, int width, int height);
// The cross drawn at the centre of a zone: two lines (x1,y1)-(x2,y2).
struct CrossLines {
  int ax1, ay1, ax2, ay2, bx1, by1, bx2, by2;
};
CrossLines ZoneCross(const ZoneRect& screen);
// "Сохранить кадр как...": a name without any full stop gets ".bmp".
std::string SaveFrameFileName(const std::string& chosen);

class TCamera final : public TCameraInfo {
 public:
  enum MenuIndex { miRename = 0, miZoneSetup, miAllZones, miColored, miSaveFrame };
  static constexpr const char* kZonesOffChar = "0";

  TCamera(int number, const CameraContext& context);
  ~TCamera() override;

  int Tag() const { return Number; }

  TPicture PlaybackPicture, CurrentPicture, PreviousPicture, DifferencePicture;
  bool Colored = false;
  bool AllZonesValue = false;
  bool Dragging = false;
  bool PaintValue = false;
  int ChangeValue = 0;
  double IgnoreChangesPercent = 0.01;
  double ChangesEventPercent = 0.08;
  int RecordingMode = 1;
  int LastMouseX = 0, LastMouseY = 0;
  int FrameCounter = 1;
  double FramesPerMinute = 100.0;
  bool ReactionEnabled = true;
  bool Expanded = false;
  ZoneGrid Zones;
  ZoneRect ScreenZones[ZoneGrid::kCols][ZoneGrid::kRows] = {};
  ViewRect View;
  std::array<CameraMenuItem, 5> Menu;

  bool ZoneSetupView() const { return Menu[miZoneSetup].Checked; }

  // --- settings
  void ReadSettings();
  void SaveSettings();
  void SaveToIni(IniFile& ini) override;
  // The "Zones" value and its reading.
  std::string ZonesString() const;
  void SetZonesFromString(const std::string& s);

  void UpdateZoneGeometry();
  // The view asks to be drawn again (whole, or one zone's rectangle).
  void Repaint() override { RepaintRequested(); }
  Signal<> RepaintRequested;
  Signal<const ZoneRect&> ZoneRepaintRequested;
  // Description or hint changed.
  Signal<> TextChanged;
  // The camera is being destroyed: views let go of it.
  Signal<> Destroying;

  // --- drawing
  const TPicture& ShownPicture() const;
  CameraOverlay Overlay(int width, int height) const;

  // --- context menu
  void RenameClick();
  void ZoneSetupClick();
  void AllZonesClick();
  void ColoredClick();

  // --- mouse over the view (coordinates in view pixels)
  void MouseDown(int x, int y, bool leftButton);
  void MouseMove(int x, int y);
  void MouseUp();
  void Click();

 private:
  bool ClientMode() const;
  void RepaintZone(int c, int r);
  CameraContext c_;
};

}  // namespace zv

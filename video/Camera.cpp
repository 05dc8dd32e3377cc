#include "video/Camera.h"

#include <cmath>
#include <stdexcept>

#include "app/IniFile.h"
#include "app/Text.h"
#include "app/Thresholds.h"
#include "video/Bmp.h"

namespace zv {

namespace {

constexpr TColor kObjectColors[12] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                      0x808000, 0x808080, 0xC0C0C0, 0x0000FF, 0xFF0000, 0xFF00FF};

std::string Section(int k) {
  return "Camera" + std::to_string(k);
}

double ReadPercent(IniFile& ini, const std::string& sec, const char* key, const char* def) {
  const std::string text = ini.ReadString(sec, key, def);
  double v;
  if (!ParseFloat(text, v) || !std::isfinite(v))
    throw std::runtime_error("\"" + text + "\" - неверное значение " + key);
  return v;
}

}  // namespace

TColor ObjectColor(int objId) {
  return kObjectColors[((objId % 12) + 12) % 12];
}

int OverlaySide(double percent, int width, int height) {
  const double area = percent * static_cast<double>((width * height) / 200);
  if (!(area > 0)) return 0;
  return static_cast<int>(std::nearbyint(std::sqrt(area)));
}

CrossLines ZoneCross(const ZoneRect& z) {
  const int cx = (z.left + z.right - 1) / 2;
  const int cy = (z.top + z.bottom - 1) / 2;
  return {cx - 2, cy - 2, cx + 3, cy + 3, cx + 2, cy - 2, cx - 3, cy + 3};
}

std::string SaveFrameFileName(const std::string& chosen) {
  return chosen.find('.') == std::string::npos ? chosen + ".bmp" : chosen;
}

TCamera::TCamera(int number, const CameraContext& context) : TCameraInfo(number), c_(context) {
  // 1. View and pictures of the frame size.
  const int w = c_.host.CaptureWidth(), h = c_.host.CaptureHeight();
  View = ViewRect{0, 0, w, h};
  PlaybackPicture.SetSize(w, h);
  CurrentPicture.SetSize(w, h);
  PreviousPicture.SetSize(w, h);
  DifferencePicture.SetSize(w, h);
  // 2. A fixed picture to work with in debug mode.
  if (ClientMode() && c_.settings.DebugMode) {
    const std::string path = c_.settings.DataDir() + "/Debug.bmp";
    std::string why;
    if (!LoadBmp(path, CurrentPicture, &why))
      c_.journal.AddJournal("Ошибка: \"" + path + "\" - " + why + " !", jkInfo);
  }
  // 3. Initial values.
  Description = "Видеокамера " + std::to_string(number);
  Hint = Description;
  // 4. Settings.
  ReadSettings();
  Hint = Description;
  // 5. The context menu.
  const bool client = ClientMode();
  Menu[miRename] = {"Изменить название видеокамеры", true, true, false, false};
  Menu[miZoneSetup] = {"Настройка зон реакции на движение", client, true, false, true};
  Menu[miAllZones] = {"Выбрать/снять все зоны", client, false, false, false};
  Menu[miColored] = {"Цветность", client, true, Colored, true};
  Menu[miSaveFrame] = {"Сохранить кадр как...", true, true, false, false};
  Menu[miSource] = {"Источник видео...", client, true, false, false};
  Zones.UpdateFrameGeometry(w, h);
  UpdateZoneGeometry();
}

TCamera::~TCamera() {
  Destroying();
  if (!SaveOnDestroy) return;
  try {
    SaveToIni(c_.settings.Ini());
    c_.settings.Flush(jcCameraSave);
  } catch (...) {
  }
}

bool TCamera::ClientMode() const {
  return !c_.settings.ServerMode;
}

void TCamera::ReadSettings() {
  IniFile& ini = c_.settings.Ini();
  const std::string sec = Section(Number);
  try {
    Description = ini.ReadString(sec, "Description", "В/камера " + std::to_string(Number));
    Colored = ini.ReadString(sec, "Colored", "0") == "1";
    ReactionEnabled = ini.ReadString(sec, "ReactionEnabled", "1") == "1";
    IgnoreChangesPercent = ReadPercent(ini, sec, "IgnoreChangesPercent", "0.01");
    ChangesEventPercent = ReadPercent(ini, sec, "ChangesEventPercent", "0.10");
    FramesPerMinute = ReadPercent(ini, sec, "FramesPerMinute", "160.0");
    SetZonesFromString(ini.ReadString(sec, "Zones", std::string(320, '0')));
    Net = ReadNetworkCameraSettings(ini, Number);
  } catch (const std::exception& e) {
    c_.journal.ReportError(e.what(), jcCameraRead, 1);
  }
}

void TCamera::SaveSettings() {
  SaveToIni(c_.settings.Ini());
}

void TCamera::SaveToIni(IniFile& ini) {
  const std::string sec = Section(Number);
  try {
    ini.WriteInteger(sec, "ObjID", ObjID);
    ini.WriteText(sec, "ObjName", ObjName);
    ini.WriteInteger(sec, "CamIndex", CamIndex);
    ini.WriteText(sec, "Description", Description);
    ini.WriteString(sec, "Colored", Colored ? "1" : "0");
    ini.WriteString(sec, "ReactionEnabled", ReactionEnabled ? "1" : "0");
    ini.WriteFloat(sec, "IgnoreChangesPercent", IgnoreChangesPercent);
    ini.WriteFloat(sec, "ChangesEventPercent", ChangesEventPercent);
    ini.WriteFloat(sec, "FramesPerMinute", FramesPerMinute);
    // A camera that never had a source of its own gets no keys for it.
    if (Net.enabled || ini.HasKey(sec, netkeys::kSource))
      WriteNetworkCameraSettings(ini, Number, Net);
  } catch (const std::exception& e) {
    c_.journal.ReportError(e.what(), jcCameraSave, 1);
  }
  try {
    ini.WriteInteger(sec, "ZonesHAmount", ZoneGrid::kCols);
    ini.WriteInteger(sec, "ZonesVAmount", ZoneGrid::kRows);
    ini.WriteString(sec, "Zones", ZonesString());
  } catch (const std::exception& e) {
    c_.journal.ReportError(e.what(), jcCameraZonesSave, 1);
  }
}

std::string TCamera::ZonesString() const {
  std::string s;
  s.reserve(ZoneGrid::kCols * ZoneGrid::kRows);
  for (int r = 0; r < ZoneGrid::kRows; ++r)
    for (int c = 0; c < ZoneGrid::kCols; ++c) s += Zones.on[c][r] ? '1' : '0';
  return s;
}

void TCamera::SetZonesFromString(const std::string& s) {
  for (int r = 0; r < ZoneGrid::kRows; ++r)
    for (int c = 0; c < ZoneGrid::kCols; ++c) {
      const std::size_t i = static_cast<std::size_t>(r * ZoneGrid::kCols + c);
      Zones.on[c][r] = i < s.size() && s[i] == '1';
    }
}

void TCamera::UpdateZoneGeometry() {
  const TPicture& frame = CurrentPicture;
  const int fw = frame.Width() > 0 ? frame.Width() : c_.host.CaptureWidth();
  const int fh = frame.Height() > 0 ? frame.Height() : c_.host.CaptureHeight();
  Zones.UpdateFrameGeometry(fw, fh);
  ScreenZoneGeometry(View.width, View.height, ScreenZones);
}

const TPicture& TCamera::ShownPicture() const {
  if (c_.host.PlaybackPageShown()) return PlaybackPicture;
  if (c_.host.ShowDifference()) return DifferencePicture;
  return CurrentPicture;
}

CameraOverlay TCamera::Overlay(int w, int h) const {
  CameraOverlay o;
  o.frameColor = ObjectColor(ObjID);
  if (!ClientMode()) return o;
  ZoneRect screen[ZoneGrid::kCols][ZoneGrid::kRows];
  ScreenZoneGeometry(w, h, screen);
  if (ZoneSetupView()) {
    o.zoneSetup = true;
    o.crosses = true;
    o.s1 = OverlaySide(IgnoreChangesPercent, w, h);
    o.s2 = OverlaySide(ChangesEventPercent, w, h);
    for (int c = 0; c < ZoneGrid::kCols; ++c)
      for (int r = 0; r < ZoneGrid::kRows; ++r)
        if (Zones.on[c][r]) o.outlines.push_back(screen[c][r]);
  } else if (c_.host.Recording() && !c_.host.PlaybackPageShown() &&
             IsMotionLevel(ChangesEventPercent, ChangeValue)) {
    for (int c = 0; c < ZoneGrid::kCols; ++c)
      for (int r = 0; r < ZoneGrid::kRows; ++r)
        if (Zones.alarm[c][r]) o.outlines.push_back(screen[c][r]);
  }
  return o;
}

void TCamera::RenameClick() {
  std::string text = Description;
  if (!c_.dialogs.InputQuery(Description, "Новое название:", text)) return;
  Description = text;
  Hint = text;
  // The Object that carries this camera's ID (IDs are not record numbers).
  const Settings& st = c_.settings;
  if (!ClientMode())
    for (int i = 1; i <= st.ObjectsCount && i < static_cast<int>(st.Objects.size()); ++i)
      if (st.Objects[static_cast<std::size_t>(i)].ID == ObjID) {
        Hint += "\r\n" + st.Objects[static_cast<std::size_t>(i)].Name;
        break;
      }
  TCheckListBox& list = c_.cameraList;
  for (int i = 0; i < list.Count(); ++i)
    if (list.Object(i) == static_cast<TCameraInfo*>(this)) list.SetText(i, text);
  TextChanged();
}

void TCamera::ZoneSetupClick() {
  Menu[miZoneSetup].Checked = !Menu[miZoneSetup].Checked;
  Menu[miAllZones].Enabled = Menu[miZoneSetup].Checked;
  Repaint();
}

void TCamera::AllZonesClick() {
  AllZonesValue = !AllZonesValue;
  Zones.SetAll(AllZonesValue);
  Repaint();
}

void TCamera::ColoredClick() {
  Menu[miColored].Checked = !Menu[miColored].Checked;
  Colored = Menu[miColored].Checked;
}

void TCamera::SetSource(const NetworkCameraSettings& source) {
  Net = source;
  std::string user, password;
  // An address typed with its credentials keeps them in their own keys.
  if (SplitCredentials(Net.url, user, password)) {
    if (Net.user.empty()) Net.user = user;
    if (Net.password.empty()) Net.password = password;
  }
  c_.host.CameraSourceChanged(Number);
}

void TCamera::RepaintZone(int c, int r) {
  ZoneRect z = ScreenZones[c][r];
  z.right += 1;
  z.bottom += 1;
  ZoneRepaintRequested(z);
}

void TCamera::MouseDown(int x, int y, bool leftButton) {
  if (!ZoneSetupView() || !leftButton) return;
  if (x < 0 || y < 0 || x >= View.width || y >= View.height) return;
  int c, r;
  ZoneAt(x, y, View.width, View.height, c, r);
  bool& on = Zones.on[c][r];
  on = Dragging ? PaintValue : !on;
  RepaintZone(c, r);
  PaintValue = on;
  Dragging = true;
}

void TCamera::MouseMove(int x, int y) {
  if (x < 0 || y < 0 || x >= View.width || y >= View.height) {
    Dragging = false;
    return;
  }
  LastMouseX = x;
  LastMouseY = y;
  if (!Dragging) return;
  int c, r;
  ZoneAt(x, y, View.width, View.height, c, r);
  if (Zones.on[c][r] != PaintValue) {
    Zones.on[c][r] = PaintValue;
    RepaintZone(c, r);
  }
}

void TCamera::MouseUp() {
  Dragging = false;
}

void TCamera::Click() {
  Expanded = !Expanded;
  c_.host.ViewPanelResize();
}

}  // namespace zv

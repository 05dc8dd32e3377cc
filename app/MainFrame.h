#pragma once
// The main window's frame as plain state: pages and the collapsible settings
// panel, the status bar's panels, the menu's handlers and the Esc flag.
#include <array>
#include <functional>

#include "app/FormModel.h"
#include "platform/Signal.h"

namespace zv {

class Settings;
class Journal;
struct Services;

class MainFrame {
 public:
  static constexpr int kCollapsedHeight = 22;

  MainFrame(Services& services, TFormModel& form, Settings& settings);

  // --- state
  TTabSheet* ActivePage() const { return active_; }
  void SetActivePage(TTabSheet* page);  // programmatic: no handler
  int AdjustPanelHeight() const { return panelHeight_; }
  bool Collapsed() const { return panelHeight_ == kCollapsedHeight; }
  int AdjustMinimizeBtnLeft() const { return minimizeLeft_; }
  std::array<int, 3> StatusPanelWidths() const { return panelWidths_; }
  bool EnterHandlerAttached() const { return enterAttached_; }
  bool EscapePressed = false;

  // --- handlers
  void FormActivate();
  void PageControl1Change(TTabSheet* page);  // the user switched pages
  void PageControl1Enter();
  void AdjustMinimizeBtnClick();
  void AdjustPanelResize(int panelWidth, int buttonWidth);
  void StatusBar1Resize(int barWidth);
  void FormKeyDown(int key);
  void FormResize() {}
  void N2Click();
  void N4Click();
  void N6Click();
  void AutoStartRecordClick();
  void AutoStartDefenceClick();

  // Every camera repaints itself after a page switch.
  std::function<void()> RepaintCameras;

  Signal<> LayoutChanged;   // panel height, active page
  Signal<> CloseRequested;  // the window should close (runs the shutdown)

 private:
  Services& s_;
  TFormModel& form_;
  Settings& settings_;
  TTabSheet* active_ = nullptr;
  int panelHeight_ = kCollapsedHeight;
  int minimizeLeft_ = 0;
  std::array<int, 3> panelWidths_{600, 100, 50};
  bool enterAttached_ = true;
};

}  // namespace zv

#include "app/MainFrame.h"

#include "app/Settings.h"
#include "platform/Services.h"

namespace zv {

MainFrame::MainFrame(Services& services, TFormModel& form, Settings& settings)
    : s_(services), form_(form), settings_(settings) {}

void MainFrame::SetActivePage(TTabSheet* page) {
  if (active_ == page) return;
  active_ = page;
  LayoutChanged();
}

void MainFrame::FormActivate() {
  enterAttached_ = false;
  panelHeight_ = kCollapsedHeight;
  LayoutChanged();
  enterAttached_ = true;
}

void MainFrame::PageControl1Change(TTabSheet* page) {
  active_ = page;
  if (page != &form_.TabSheet6 && !Collapsed()) panelHeight_ = static_cast<int>(page->Tag) + 26;
  LayoutChanged();
  if (page != &form_.TabSheet6 && RepaintCameras) RepaintCameras();
}

void MainFrame::PageControl1Enter() {
  if (!enterAttached_) return;
  if (Collapsed()) AdjustMinimizeBtnClick();
}

void MainFrame::AdjustMinimizeBtnClick() {
  enterAttached_ = false;
  if (Collapsed())
    panelHeight_ = active_ ? static_cast<int>(active_->Tag) + 26 : kCollapsedHeight;
  else
    panelHeight_ = kCollapsedHeight;
  LayoutChanged();
  enterAttached_ = true;
}

void MainFrame::AdjustPanelResize(int panelWidth, int buttonWidth) {
  minimizeLeft_ = panelWidth - buttonWidth - 3;
}

void MainFrame::StatusBar1Resize(int barWidth) {
  panelWidths_[0] = barWidth - 191;
  LayoutChanged();
}

void MainFrame::FormKeyDown(int key) {
  if (key == 27) EscapePressed = true;
}

void MainFrame::N2Click() {
  CloseRequested();
}

void MainFrame::N4Click() {
  s_.speaker.DefaultBeep();
}

void MainFrame::N6Click() {
  settings_.SaveFormProperties();
}

void MainFrame::AutoStartRecordClick() {
  form_.AutoStartRecord.SetChecked(!form_.AutoStartRecord.Checked());
}

void MainFrame::AutoStartDefenceClick() {
  form_.AutoStartDefence.SetChecked(!form_.AutoStartDefence.Checked());
}

}  // namespace zv

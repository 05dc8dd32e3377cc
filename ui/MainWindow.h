#pragma once
// TForm1: the main window.  It renders the core's state (pages, panel
// height, status bar, journal view) and forwards the user's actions; all
// logic stays in the core.
#include <QLabel>
#include <QMainWindow>
#include <QTabWidget>
#include <QTextEdit>
#include <array>
#include <functional>

#include "app/Application.h"

namespace zv::ui {

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // Height the camera area keeps when a page wants more of the window.
  static constexpr int kMinViewHeight = 120;

  explicit TForm1(Application& app, QWidget* parent = nullptr);
  ~TForm1() override;

  Application& core() { return app_; }
  QWidget* ViewPanel() const { return viewPanel_; }
  QWidget* LiveVideoPanel() const { return livePanel_; }
  QTabWidget* PageControl() const { return pages_; }
  QTextEdit* JournalMemo() const { return journalMemo_; }
  QLabel* StatusPanel(int i) const { return status_.at(static_cast<std::size_t>(i)); }
  // Index of a core page in the tab widget.
  int PageIndex(const TTabSheet* page) const;
  // The menu item of the station's outside connections (MQTT, the web
  // view): shown once the program gives it something to open.
  void SetRemoteSettings(std::function<void()> open);
  QAction* RemoteSettingsAction() const { return remoteAction_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* obj, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void BuildMenu();
  void BuildPages();
  void BuildStatusBar();
  void RenderLayout();
  void RenderStatus();
  void RenderPageTabs();
  // The settings panel's height on screen: the core's height with the
  // style's tab row, at least the page's own height where the window has
  // room for it.
  int PanelHeight() const;
  // The window's placement, kept in the form for the settings ("ShowCmd",
  // "NormPos"), and put back at the first show.
  void StorePlacement();
  void RestorePlacement();

  Application& app_;
  QWidget* viewPanel_ = nullptr;
  QWidget* livePanel_ = nullptr;
  QWidget* adjustPanel_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QTextEdit* journalMemo_ = nullptr;
  std::array<QLabel*, 3> status_{};
  std::vector<TTabSheet*> pageOrder_;
  std::vector<std::pair<Signal<>*, int>> connections_;
  QAction* remoteAction_ = nullptr;
  std::function<void()> openRemote_;
  bool activated_ = false;
};

}  // namespace zv::ui

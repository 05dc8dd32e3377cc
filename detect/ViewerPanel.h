#pragma once
// The playback page ("Просмотр"): the viewed pair and its slider, the play
// buttons on Timer2, the change graph, the site and camera lists with their
// drawing, and the alarm sound's player.  The reading and decoding are
// ViewerSession's and PictureLoader's; this object keeps the controls.
#include <cstdint>
#include <random>
#include <string>

#include <functional>
#include <vector>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/Journal.h"
#include "app/Settings.h"
#include "detect/Viewer.h"
#include "platform/MediaPlayer.h"
#include "platform/Signal.h"
#include "platform/Timer.h"

namespace zv {

// Colour of site k in the lists (the 16-colour palette's first twelve).
TColor SiteColor(int k);

// How a list item is drawn.
struct ListItemLook {
  TColor background = 0;
  TColor text = 0;
  bool systemBackground = false;  // the lists' own (tooltip) background
  std::string caption;
};

class ViewerPanel {
 public:
  static constexpr int kGraphWidth = 484, kGraphHeight = 27;

  // timer2 steps the playback; pictures are decoded with codec after being
  // read into readBuffer (the working buffer allocated at start-up).
  ViewerPanel(Journal& journal, TFormModel& form, Settings& settings, CameraTable& cameras,
              TTimer& timer2, JpegCodec& codec, std::vector<std::uint8_t>& readBuffer);
  ~ViewerPanel();
  ViewerPanel(const ViewerPanel&) = delete;
  ViewerPanel& operator=(const ViewerPanel&) = delete;

  ViewerSession Session;
  int ShownCamera = 1;
  FrameDescriptor Current;
  // The change graph, for ui/ to paint.
  ChangeGraph Graph;
  Signal<> GraphChanged;
  // Records shown since start-up.
  long long Shown = 0;

  // The alarm sound's player (set by the program; none in plain tests).
  void SetMediaPlayer(IMediaPlayer* p) { player_ = p; }
  std::string SoundFileName() const;

  // --- handlers
  void ViewFileNameChange();
  void ShowRecord(std::int32_t n);
  void ViewSliderChange();
  void NextCadrClick();
  void PrevCadrClick();
  void ForwardButtonClick();   // after the button's Down changed
  void BackwardButtonClick();  // likewise
  void ViewFreqChange();
  // Timer2: the next record while a play button is down.
  void Timer2Timer() { StepPlayback(); }
  void StepPlayback();
  void DrawChangeGraph();

  // The cameras' views must be laid out again (the list changed which are
  // shown).
  std::function<void()> RelayoutCameras;
  // The site's camera count changed.
  void CameraCountChanged(int n);

  // The recorder wrote record n of the pair named dscName.
  void RecorderWrote(const std::string& dscName, std::int32_t n);
  // The recorder points the viewer at the pair being recorded.
  void PointAt(const std::string& dscName);

  void CamViewListBoxClickCheck(int i);
  void ObjViewListBoxClick();
  void ObjViewListBoxClickCheck(int i);
  void AllCamsClick();
  void ViewCamsExpandClick();
  // The camera list's column count for a panel width (0: single column).
  int CamViewColumns(int panelWidth) const;
  // The camera list's panel was resized: its column count follows the width
  // (a filled list only; set only when it changes).
  void CamViewPanelResize(int panelWidth);
  ListItemLook ObjViewItem(int i, bool selected) const;
  ListItemLook CamViewItem(int i, bool selected) const;

  void PlaySoundClick();
  void StopSoundClick();
  void SoundSliderChange();
  // The periodic sound slider update while the player plays or records.
  void FollowSound();

  void Shutdown();

 private:
  void SyncSlider();
  void Layout();
  int SiteOfCamera(int cameraNumber) const;
  void SetCameraShown(int cameraNumber, bool shown);

  Journal& journal_;
  TFormModel& form_;
  Settings& settings_;
  CameraTable& cameras_;
  TTimer& timer2_;
  PictureLoader loader_;
  IMediaPlayer* player_ = nullptr;
  bool syncing_ = false;
  bool renaming_ = false;
  int camViewPanelWidth_ = -1;  // unknown until the panel is laid out
  std::minstd_rand random_{12345};
};

}  // namespace zv

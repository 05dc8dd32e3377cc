#pragma once
// The numbers of a journal line, by name: its kind (the colour), its event
// code and its error code.  The log file stores them, so a number never
// changes its meaning and is never given to a second one; each list below
// is the only place its numbers are written.
//
// Error codes name the place that reports.  Where the log already holds
// one number for several places, the places share a meaning and are
// described together (code 1: a failure caught where no code of its own
// was set; 2 and 4: the settings file as well as an Object's section; 32:
// every recording, of pictures, of the alarm sound and of voice messages).
#include <string_view>
#include <vector>

namespace zv {

// X(name, number, meaning)
#define ZV_JOURNAL_KINDS(X)                                                                    \
  X(jkInfo, 0, "black: start and end of the program, general information, caught failures")    \
  X(jkDevice, 1, "blue: ports opened and other news of devices; service calls")                \
  X(jkNotice, 2, "maroon: arming and disarming, connections, recording news, a small display") \
  X(jkAlarm, 3, "fuchsia: alarms and Object events: a tripped input, a missing service call")  \
  X(jkError, 4, "red: errors (every ReportError line)")

#define ZV_JOURNAL_EVENTS(X)                                                  \
  X(jeNone, 0, "an ordinary entry")                                           \
  X(jeServiceCall, 1, "a site makes its service call (ObjectNo: its ObjNum)") \
  X(jeServiceCallMissed, 3,                                                   \
    "the station misses a site's service call (ObjectNo: the Object's record)")

#define ZV_JOURNAL_CODES(X)                                                                     \
  X(jcNone, 0, "an ordinary entry")                                                             \
  X(jcCaughtFailure, 1,                                                                         \
    "a failure caught where no code of its own was set: the global exception handler, "         \
    "creating a camera (settings, camera count), a send on the link, the noise filter's range") \
  X(jcReadObject, 2, "reading the settings: the file, an Object's section, the Object count")   \
  X(jcReadAbonent, 3, "reading an Abonent's section, the Abonent count")                        \
  X(jcWriteObject, 4, "writing the settings: the file, an Object's section")                    \
  X(jcWriteObjectLists, 5, "writing an Object's camera and gauge lists")                        \
  X(jcWriteAbonent, 6, "writing an Abonent's section")                                          \
  X(jcTileViews, 7, "tiling the camera views")                                                  \
  X(jcWrongPassword, 8, "a wrong owner password at disarming")                                  \
  X(jcLinkPortTakenBySwitcher, 9, "the link's port is the video switcher's")                    \
  X(jcLinkPortTakenByGauges, 10, "the link's port is the serial gauges'")                       \
  X(jcLinkPortOpen, 12, "the link's port (modem or direct line) does not open")                 \
  X(jcGaugePortTakenByLink, 13, "the serial gauges' port is the link's")                        \
  X(jcGaugePortTakenBySwitcher, 14, "the serial gauges' port is the video switcher's")          \
  X(jcGaugePortOpen, 15, "a gauge port (serial or parallel) does not open")                     \
  X(jcSwitcherPortTakenByLink, 16, "the video switcher's port is the link's")                   \
  X(jcSwitcherPortTakenByGauges, 17, "the video switcher's port is the serial gauges'")         \
  X(jcSwitcherPortOpen, 18, "the video switcher's port does not open")                          \
  X(jcObjectCameras, 19, "adding or removing an Object's cameras in the directory")             \
  X(jcDispatchCall, 20, "a call of the site's alarm dispatch failed (a busy modem included)")   \
  X(jcCameraRead, 24, "reading a camera's section")                                             \
  X(jcCameraSave, 25, "saving a camera's section or the settings file with it")                 \
  X(jcCameraZonesSave, 26, "saving a camera's detection zones")                                 \
  X(jcFrameIntake, 31, "taking a captured frame")                                               \
  X(jcRecording, 32,                                                                            \
    "recording: the pair does not open or a write fails; the alarm sound or a voice message "   \
    "cannot be recorded")                                                                       \
  X(jcModemPicture, 33, "a picture of the modem stream cannot be taken")                        \
  X(jcServerSocket, 34, "the station's listening socket does not open")                         \
  X(jcPictureCopy, 36, "copying a site's picture into its camera")                              \
  X(jcPictureRepaint, 37, "showing a site's picture")                                           \
  X(jcPictureHandling, 38, "handling a site's picture as a whole")                              \
  X(jcSoundPlay, 39, "playing the alarm sound")                                                 \
  X(jcWebView, 40, "the station's web view does not open or cannot read its accounts")

#define ZV_JOURNAL_ENUMERATOR(name, number, meaning) name = number,
enum JournalKind : int { ZV_JOURNAL_KINDS(ZV_JOURNAL_ENUMERATOR) };
enum JournalEvent : int { ZV_JOURNAL_EVENTS(ZV_JOURNAL_ENUMERATOR) };
enum JournalCode : int { ZV_JOURNAL_CODES(ZV_JOURNAL_ENUMERATOR) };
#undef ZV_JOURNAL_ENUMERATOR

struct JournalNumber {
  int number;
  std::string_view name;
  std::string_view meaning;
};

// The three lists as tables, in the order written above.
const std::vector<JournalNumber>& JournalKinds();
const std::vector<JournalNumber>& JournalEvents();
const std::vector<JournalNumber>& JournalCodes();

}  // namespace zv

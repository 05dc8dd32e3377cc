#pragma once
// The settings store: the file "Zorvenix.ini" with the window's stored
// control properties ([MainForm]), the mode switches and counts ([Main]),
// the station's Objects ([Object<n>]), the site's Abonents ([Abonent<n>]) and
// the port map ([Ports]).  Camera sections belong to the cameras.
#include <memory>
#include <string>

#include "app/Cameras.h"
#include "app/FormModel.h"
#include "app/IniFile.h"
#include "app/Journal.h"
#include "app/Records.h"
#include "platform/Services.h"

namespace zv {

class Settings {
 public:
  Settings(Services& services, Journal& journal, TFormModel& form, CameraTable& cameras,
           std::string dataDir);

  // Reads everything; creates the station's cameras; fills the lists.
  void LoadSettings();
  // Writes the stored properties, the counts and the records of this mode.
  void SaveSettings();
  // The menu's "Save": only the stored properties and the window placement.
  void SaveFormProperties();
  std::string SettingsFilePath() const;
  const std::string& DataDir() const { return dataDir_; }

  // Builds an Object's camera list entries (used at load and by the directory).
  void AddObjectCamerasToList(int n);

  // --- globals of the settings
  TObjectArray Objects;
  TAbonentArray Abonents;
  int ObjectsCount = 0;
  int AbonentsCount = 0;
  bool ServerMode = false;
  bool DebugMode = false;
  bool SettingsLoaded = false;
  // TCP port of the link (not on any page; for tests and side-by-side runs).
  int LinkPort = 3000;

  IniFile& Ini() { return ini_; }
  // A link key (the site's or an Object's), a network camera's or the
  // broker's password is set: the file is kept private (0600).
  bool HoldsSecret() const;
  // The Object list's mark of record n: an Object without a link key is
  // shown as unprotected.
  static constexpr const char* kUnprotectedMark = "без защиты";
  void ShowLinkMark(int n);
  // Writes the file as it stands in memory; a failure is reported with
  // errorCode, once until a save succeeds again.
  bool Flush(JournalCode errorCode = jcWriteObject);

 private:
  void PresetTemplates();
  void ReadFormProperties();
  void WriteFormProperties();
  void ReadObject(int n);
  void ReadAbonent(int n);
  void WriteObject(int n);
  void WriteObjectLists(int n);
  void WriteAbonent(int n);
  void ReadPorts();

  Services& s_;
  Journal& journal_;
  TFormModel& form_;
  CameraTable& cameras_;
  std::string dataDir_;
  IniFile ini_;
  bool flushFailed_ = false;
};

// The record number (1..ObjectsCount) of the Object with this ID; 0 when no
// Object has it.
int FindObjectById(const Settings& settings, int id);

// Default list values, written as they are stored (outer quotes stripped).
std::string DefaultCameraNamesValue();
std::string DefaultGaugeNamesValue();

}  // namespace zv

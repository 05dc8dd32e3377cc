#pragma once
// The station's directory of Objects (protected sites) and the site's call
// list of Abonents.  Record 0 of each array is the template for new entries.
#include <array>
#include <cstdint>
#include <string>

#include "platform/Clock.h"

namespace zv {

class TCameraInfo;

constexpr int kMaxObjects = 100;
constexpr int kMaxAbonents = 20;
constexpr int kMaxCamsPerObject = 8;

struct TObjectRecord {
  std::string Name;
  std::string Address;
  std::string PhoneNumber;
  std::string AddPhoneNumber;
  std::string AddInfo;
  std::string IPAddress;
  std::int32_t ID = 0;
  bool Checked = false;
  bool CheckedForView = false;
  std::int32_t TestCallPeriod = 30;
  TDateTime LastTestCallTime = 0;
  bool CallToObjMode = false;
  std::int32_t WaitAnswerTimeout = 15;
  std::int32_t RecallTime = 3;
  std::int32_t RecallDelay = 30;
  std::int32_t Cams = 0;
  std::int32_t FirstCamera = 0;
  bool ArmedNow = false;
  bool ArmedBefore = false;
  std::uint8_t GaugesBefore = 0;
  std::uint8_t CamsBefore = 0;
  // The site's gauge enabled mask, as its latest status block told it.
  std::uint8_t GaugesEnabled = 0;
  // When the site was last heard from (any picture or status); 0: never.
  // Unlike LastTestCallTime, which the operator's tick also sets.
  TDateTime LastSeen = 0;
  std::array<TCameraInfo*, kMaxCamsPerObject + 1> Cameras{};  // 1..8
  std::array<bool, kMaxCamsPerObject + 1> CamVisible{};       // 1..8
  std::array<std::string, 9> Gauges{};                        // 1..8
};

struct TAbonentRecord {
  std::string Name;
  std::string PhoneNumber;
  std::int32_t WaitAnswerTimeout = 15;
  std::int32_t RecallTime = 3;
  std::int32_t RecallDelay = 30;
  bool ConnectToServerMode = true;
  std::int32_t Attempts = 0;
  TDateTime LastAttemptTime = 0;
  bool Reached = true;
  bool GaveUp = false;
  std::string VoiceFile;
};

using TObjectArray = std::array<TObjectRecord, kMaxObjects + 1>;
using TAbonentArray = std::array<TAbonentRecord, kMaxAbonents + 1>;

}  // namespace zv

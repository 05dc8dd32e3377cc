#pragma once
// The station's web view in the program: the view of the station it reads
// (over StationRemote) and its server, started, restarted and stopped as
// the settings say.
#include <memory>
#include <string>

#include "app/Journal.h"
#include "app/Remote.h"
#include "remote/RemoteSettings.h"
#include "ui/web/StationView.h"
#include "ui/web/WebServer.h"

namespace zv::ui {

class StationWebView final : public web::IStationView {
 public:
  explicit StationWebView(StationRemote& remote) : r_(remote) {}
  std::vector<remote::ObjectState> Objects() const override { return r_.States(); }
  std::uint64_t PictureSerial(int objectId, int camera) const override {
    return r_.PictureSerial(objectId, camera);
  }
  bool LatestPicture(int objectId, int camera, std::vector<std::uint8_t>& /*jpeg*/,
                     TPicture& picture) const override {
    return r_.LatestPicture(objectId, camera, picture);
  }
  std::vector<web::JournalEntry> RecentJournal(std::size_t max) const override;
  bool RequestArm(int objectId, bool arm, const std::string& /*user*/) override {
    return r_.RequestArm(objectId, arm, "web");
  }

 private:
  StationRemote& r_;
};

class WebFront {
 public:
  WebFront(StationRemote& remote, Journal& journal);
  ~WebFront();
  WebFront(const WebFront&) = delete;
  WebFront& operator=(const WebFront&) = delete;

  // Starts (or restarts) the server when enabled, stops it otherwise.  A
  // failure is journaled; false then.
  bool Apply(const remote::WebSettings& settings);
  // Reads the accounts file again; a failure is journaled.
  bool ReloadAccounts();
  void Stop();
  web::WebServer& Server() { return *server_; }

 private:
  StationRemote& remote_;
  Journal& journal_;
  StationWebView view_;
  std::unique_ptr<web::WebServer> server_;
};

}  // namespace zv::ui

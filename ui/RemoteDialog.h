#pragma once
// The dialog of the station's outside connections (menu "Настройки"): the
// MQTT broker and the web view.  "OK" writes the settings file and applies
// them at once: the bridge reconnects, the web view restarts.
#include <QDialog>

#include "remote/RemoteSettings.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace zv {
class StationRemote;
}

namespace zv::ui {

class WebFront;

class RemoteDialog : public QDialog {
  Q_OBJECT
 public:
  RemoteDialog(StationRemote& remote, WebFront& web, QWidget* parent = nullptr);

  // The settings as the fields show them.
  remote::MqttSettings Mqtt() const;
  remote::WebSettings Web() const;
  // Writes and applies the fields' settings (what "OK" does).
  void Apply();

  // The fields, by their setting's name (for the tests).
  QLineEdit *host, *station, *user, *password, *caFile, *certFile, *keyFile;
  QSpinBox *port, *webPort, *sessionMinutes;
  QCheckBox *mqttEnabled, *allowCommands, *webEnabled, *allowArming;
  QLineEdit *webAddress, *webCert, *webKey, *usersFile;

 private:
  StationRemote& remote_;
  WebFront& web_;
};

}  // namespace zv::ui

#pragma once
// Settings of the station's outside connections: the MQTT bridge (section
// [Mqtt]) and the web view (section [Web]).  Both are off by default.
//
// ReadRemoteSettings/WriteRemoteSettings work on any settings file with the
// reader and writer calls of the program's INI file.
#include <string>

namespace zv::remote {

struct MqttSettings {
  bool Enabled = false;
  std::string Host = "127.0.0.1";
  int Port = 1883;
  std::string Station = "station";  // the station's name in the topics
  std::string User;
  std::string Password;
  // TLS when CaFile is set; client certificate and key optional.
  std::string CaFile;
  std::string CertFile;
  std::string KeyFile;
  bool AllowCommands = false;  // arm/disarm requests from the set topics
  int QueueLimit = 1000;       // events kept while the broker is away
  int KeepAlive = 30;          // seconds
  int ReconnectMinMs = 1000;
  int ReconnectMaxMs = 30000;

  bool operator==(const MqttSettings&) const = default;
};

struct WebSettings {
  bool Enabled = false;
  std::string Address = "0.0.0.0";  // the address to listen on
  int Port = 8080;                  // 0: any free port (tests)
  std::string CertFile;             // TLS when both are set
  std::string KeyFile;
  bool AllowArming = false;  // arm/disarm from the page
  int SessionMinutes = 30;   // a session ends after this long unused
  std::string UsersFile;     // accounts; empty: "WebUsers" in the data folder

  bool operator==(const WebSettings&) const = default;
};

template <class Ini>
void ReadRemoteSettings(const Ini& ini, MqttSettings& m, WebSettings& w) {
  const auto num = [&](const char* sec, const char* key, int def, int lo, int hi) {
    const long long v = ini.ReadInteger(sec, key, def);
    return v < lo || v > hi ? def : static_cast<int>(v);
  };
  const MqttSettings dm;
  m.Enabled = ini.ReadBool("Mqtt", "Enabled", dm.Enabled);
  m.Host = ini.ReadString("Mqtt", "Host", dm.Host);
  m.Port = num("Mqtt", "Port", dm.Port, 1, 65535);
  m.Station = ini.ReadString("Mqtt", "Station", dm.Station);
  m.User = ini.ReadString("Mqtt", "User", "");
  m.Password = ini.ReadString("Mqtt", "Password", "");
  m.CaFile = ini.ReadString("Mqtt", "CaFile", "");
  m.CertFile = ini.ReadString("Mqtt", "CertFile", "");
  m.KeyFile = ini.ReadString("Mqtt", "KeyFile", "");
  m.AllowCommands = ini.ReadBool("Mqtt", "AllowCommands", dm.AllowCommands);
  m.QueueLimit = num("Mqtt", "QueueLimit", dm.QueueLimit, 1, 1000000);
  m.KeepAlive = num("Mqtt", "KeepAlive", dm.KeepAlive, 5, 3600);
  m.ReconnectMinMs = num("Mqtt", "ReconnectMinMs", dm.ReconnectMinMs, 10, 3600000);
  m.ReconnectMaxMs = num("Mqtt", "ReconnectMaxMs", dm.ReconnectMaxMs, 10, 3600000);
  const WebSettings dw;
  w.Enabled = ini.ReadBool("Web", "Enabled", dw.Enabled);
  w.Address = ini.ReadString("Web", "Address", dw.Address);
  w.Port = num("Web", "Port", dw.Port, 0, 65535);
  w.CertFile = ini.ReadString("Web", "CertFile", "");
  w.KeyFile = ini.ReadString("Web", "KeyFile", "");
  w.AllowArming = ini.ReadBool("Web", "AllowArming", dw.AllowArming);
  w.SessionMinutes = num("Web", "SessionMinutes", dw.SessionMinutes, 1, 7 * 24 * 60);
  w.UsersFile = ini.ReadString("Web", "UsersFile", "");
}

template <class Ini>
void WriteRemoteSettings(Ini& ini, const MqttSettings& m, const WebSettings& w) {
  ini.WriteBool("Mqtt", "Enabled", m.Enabled);
  ini.WriteText("Mqtt", "Host", m.Host);
  ini.WriteInteger("Mqtt", "Port", m.Port);
  ini.WriteText("Mqtt", "Station", m.Station);
  ini.WriteText("Mqtt", "User", m.User);
  ini.WriteText("Mqtt", "Password", m.Password);
  ini.WriteText("Mqtt", "CaFile", m.CaFile);
  ini.WriteText("Mqtt", "CertFile", m.CertFile);
  ini.WriteText("Mqtt", "KeyFile", m.KeyFile);
  ini.WriteBool("Mqtt", "AllowCommands", m.AllowCommands);
  ini.WriteInteger("Mqtt", "QueueLimit", m.QueueLimit);
  ini.WriteInteger("Mqtt", "KeepAlive", m.KeepAlive);
  ini.WriteInteger("Mqtt", "ReconnectMinMs", m.ReconnectMinMs);
  ini.WriteInteger("Mqtt", "ReconnectMaxMs", m.ReconnectMaxMs);
  ini.WriteBool("Web", "Enabled", w.Enabled);
  ini.WriteText("Web", "Address", w.Address);
  ini.WriteInteger("Web", "Port", w.Port);
  ini.WriteText("Web", "CertFile", w.CertFile);
  ini.WriteText("Web", "KeyFile", w.KeyFile);
  ini.WriteBool("Web", "AllowArming", w.AllowArming);
  ini.WriteInteger("Web", "SessionMinutes", w.SessionMinutes);
  ini.WriteText("Web", "UsersFile", w.UsersFile);
}

}  // namespace zv::remote

#pragma once
// The station's web view for owners and staff: a small HTTP server with a
// page from the program's resources, a login, the Objects an account may
// see with their state and latest pictures (pushed over a WebSocket as they
// come), and the journal's recent lines.  An owner account sees only its own
// Objects; every refusal is made here, on the server.  Arming and disarming
// from the page only when the settings allow it.
//
//   GET  /                                    the page (and its script and style)
//   POST /api/login   {"user","password"}     sets the session cookie
//   POST /api/logout
//   GET  /api/session                         who is logged in
//   GET  /api/objects                         {"objects":[state ...]}
//   GET  /api/objects/<ID>/cameras/<N>/picture   image/jpeg
//   GET  /api/journal                         {"lines":[{"text","kind"} ...]}
//   POST /api/objects/<ID>/arm, .../disarm    (with the header X-Zorvenix: 1)
//   GET  /ws                                  WebSocket: states, journal, pictures
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "remote/RemoteSettings.h"
#include "ui/web/StationView.h"
#include "ui/web/WebAccounts.h"

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QTimer;
class QWebSocket;

namespace zv::web {

class WebServer : public QObject {
  Q_OBJECT
 public:
  // Failed logins in a row (per address and per name) before they are slowed.
  static constexpr int kFreeFailures = 5;
  static constexpr int kMaxLockSeconds = 300;
  // Password checks per second, at most, over all clients.
  static constexpr int kChecksPerSecond = 10;
  // A picture is not sent to a client that still has this much unsent.
  static constexpr qint64 kMaxUnsent = 2 * 1024 * 1024;

  // journal(text, kind): the view's journal lines (started, refused, logins).
  WebServer(IStationView& station, std::function<void(const std::string&, int)> journal,
            QObject* parent = nullptr);
  ~WebServer() override;

  // Starts (or restarts) with these settings and the accounts of usersFile;
  // false with the reason when it can't listen or the TLS files are unusable.
  bool Start(const remote::WebSettings& settings, const std::string& usersFile, std::string& error);
  void Stop();
  bool Running() const { return server_ != nullptr; }
  int Port() const { return port_; }
  bool Tls() const { return tls_; }
  // Reads the accounts file again (after a password change).
  bool ReloadAccounts(std::string& error);

  // Milliseconds of a monotonic clock (tests move it to expire sessions).
  void SetClock(std::function<qint64()> nowMs) { now_ = std::move(nowMs); }
  // How often pictures, states and the journal are looked at, in ms.
  void SetPollInterval(int ms);
  int OpenSockets() const { return static_cast<int>(sockets_.size()); }

 private:
  struct Session {
    std::string user;
    qint64 created = 0;
    qint64 used = 0;
  };
  struct Failures {
    int count = 0;
    qint64 lockedUntil = 0;
  };
  struct Socket {
    std::unique_ptr<QWebSocket> ws;
    std::string token;
    std::string objectsSent;                               // the states as last sent
    std::string journalSent;                               // the last journal line sent
    std::map<std::pair<int, int>, std::uint64_t> serials;  // picture serials sent
  };

  void Routes();
  // The session of the request's cookie (refreshing its use), or null.
  const Session* SessionOf(const QByteArray& cookieHeader);
  const WebAccount* AccountOf(const QByteArray& cookieHeader);
  QHttpServerResponse Login(const QHttpServerRequest& req);
  QHttpServerResponse Objects(const QHttpServerRequest& req);
  QHttpServerResponse Picture(int id, int camera, const QHttpServerRequest& req);
  QHttpServerResponse Journal(const QHttpServerRequest& req);
  QHttpServerResponse Arm(int id, bool arm, const QHttpServerRequest& req);
  QByteArray ObjectsJson(const WebAccount& a) const;
  QByteArray JournalJson(const WebAccount& a, std::string* last) const;
  // The camera's picture as JPEG (cached per serial); empty when none.
  QByteArray Jpeg(int id, int camera, std::uint64_t serial);
  void NewSockets();
  // Closes and forgets socket i.
  void Drop(std::size_t i, const char* why);
  void Poll();
  bool Locked(const std::string& key, qint64 now) const;
  void Failed(const std::string& key, qint64 now);
  qint64 Now() const;
  qint64 SessionMs() const;

  IStationView& station_;
  std::function<void(const std::string&, int)> journal_;
  remote::WebSettings settings_;
  std::string usersFile_;
  WebAccounts accounts_;
  std::unique_ptr<QHttpServer> server_;
  QTimer* poll_ = nullptr;
  int port_ = 0;
  bool tls_ = false;
  std::map<std::string, Session> sessions_;
  // WebSocket tickets: the session token they stand for, and when made.
  std::map<std::string, std::pair<std::string, qint64>> tickets_;
  std::map<std::string, Failures> failures_;
  std::vector<std::unique_ptr<Socket>> sockets_;
  std::map<std::pair<int, int>, std::pair<std::uint64_t, QByteArray>> jpegCache_;
  std::function<qint64()> now_;
  qint64 checksSecond_ = -1;
  int checksInSecond_ = 0;
};

// Encodes a picture (bottom-up BGR rows) as JPEG; empty on failure.
QByteArray EncodeJpeg(const TPicture& picture, int quality = 80);

}  // namespace zv::web

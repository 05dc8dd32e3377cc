#include "ui/web/WebServer.h"

#include <sodium.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>
#include <cstring>

#include "remote/Json.h"

static void InitWebResources() {
  Q_INIT_RESOURCE(web);
}

namespace zv::web {

namespace {

using Status = QHttpServerResponse::StatusCode;

constexpr qint64 kSessionMaxMs = 12LL * 3600 * 1000;  // a session ends after 12 h however used
constexpr qint64 kTicketMs = 30000;
constexpr std::size_t kJournalLines = 50;

QHttpServerResponse JsonReply(const QByteArray& json, Status status = Status::Ok) {
  return QHttpServerResponse("application/json; charset=utf-8", json, status);
}
QHttpServerResponse Error(const std::string& text, Status status) {
  return JsonReply(QByteArray::fromStdString("{\"error\":" + json::Quote(text) + "}"), status);
}
QHttpServerResponse NotLoggedIn() {
  return Error("Требуется вход", Status::Unauthorized);
}
QHttpServerResponse NotYours() {
  return Error("Нет доступа к этому объекту", Status::Forbidden);
}

std::string RandomToken() {
  unsigned char bin[32];
  randombytes_buf(bin, sizeof bin);
  char hex[sizeof bin * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, bin, sizeof bin);
  return hex;
}

QByteArray CookieValue(const QByteArray& header, const QByteArray& name) {
  for (const QByteArray& part : header.split(';')) {
    const QByteArray p = part.trimmed();
    if (p.startsWith(name + "=")) return p.mid(name.size() + 1);
  }
  return {};
}

QByteArray Header(const QHttpServerRequest& req, const QByteArray& name) {
  for (const auto& [k, v] : req.headers())
    if (k.compare(name, Qt::CaseInsensitive) == 0) return v;
  return {};
}

QByteArray StaticFile(const QString& name) {
  QFile f(":/web/" + name);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

}  // namespace

QByteArray EncodeJpeg(const TPicture& p, int quality) {
  if (p.Empty()) return {};
  QImage img(p.Width(), p.Height(), QImage::Format_BGR888);
  for (int y = 0; y < p.Height(); ++y)
    std::memcpy(img.scanLine(y), p.ScreenRow(y), static_cast<std::size_t>(p.Width()) * 3);
  QByteArray out;
  QBuffer buf(&out);
  buf.open(QIODevice::WriteOnly);
  // The pictures are stored blue first; the image's format says so.
  if (!img.save(&buf, "JPG", quality)) return {};
  return out;
}

WebServer::WebServer(IStationView& station, std::function<void(const std::string&, int)> journal,
                     QObject* parent)
    : QObject(parent), station_(station), journal_(std::move(journal)) {
  InitWebResources();
  if (sodium_init() < 0) throw std::runtime_error("libsodium");
  poll_ = new QTimer(this);
  poll_->setInterval(250);
  connect(poll_, &QTimer::timeout, this, [this] { Poll(); });
}

WebServer::~WebServer() {
  Stop();
}

qint64 WebServer::Now() const {
  if (now_) return now_();
  static QElapsedTimer t;
  if (!t.isValid()) t.start();
  return t.elapsed();
}

qint64 WebServer::SessionMs() const {
  return static_cast<qint64>(std::max(1, settings_.SessionMinutes)) * 60000;
}

void WebServer::SetPollInterval(int ms) {
  poll_->setInterval(std::max(10, ms));
}

bool WebServer::ReloadAccounts(std::string& error) {
  WebAccounts a;
  if (!a.Load(usersFile_, error)) return false;
  accounts_ = std::move(a);
  // A session of an account that is gone ends.
  for (auto it = sessions_.begin(); it != sessions_.end();)
    it = accounts_.Find(it->second.user) ? std::next(it) : sessions_.erase(it);
  return true;
}

bool WebServer::Start(const remote::WebSettings& settings, const std::string& usersFile,
                      std::string& error) {
  Stop();
  settings_ = settings;
  usersFile_ = usersFile;
  if (!ReloadAccounts(error)) return false;
  server_ = std::make_unique<QHttpServer>();
  tls_ = !settings.CertFile.empty() && !settings.KeyFile.empty();
  if (tls_) {
    QFile cf(QString::fromStdString(settings.CertFile)),
        kf(QString::fromStdString(settings.KeyFile));
    if (!cf.open(QIODevice::ReadOnly) || !kf.open(QIODevice::ReadOnly)) {
      error = "файлы сертификата или ключа не читаются";
      server_.reset();
      return false;
    }
    const QSslCertificate cert(&cf, QSsl::Pem);
    QSslKey key(&kf, QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) {
      kf.seek(0);
      key = QSslKey(&kf, QSsl::Ec, QSsl::Pem);
    }
    if (cert.isNull() || key.isNull()) {
      error = "сертификат или ключ не распознаны";
      server_.reset();
      return false;
    }
    server_->sslSetup(cert, key);
  }
  Routes();
  connect(server_.get(), &QHttpServer::newWebSocketConnection, this, [this] { NewSockets(); });
  const QHostAddress address(QString::fromStdString(settings.Address));
  if (address.isNull()) {
    error = "неверный адрес \"" + settings.Address + "\"";
    server_.reset();
    return false;
  }
  port_ = server_->listen(address, static_cast<quint16>(settings.Port));
  if (port_ == 0) {
    error = "порт " + std::to_string(settings.Port) + " занят или недоступен";
    server_.reset();
    return false;
  }
  poll_->start();
  journal_("Веб-доступ открыт на порту " + std::to_string(port_) + (tls_ ? " (TLS)" : ""), 1);
  return true;
}

void WebServer::Stop() {
  poll_->stop();
  while (!sockets_.empty()) Drop(0, "server stopped");
  if (server_) journal_("Веб-доступ закрыт", 1);
  server_.reset();
  sessions_.clear();
  tickets_.clear();
  jpegCache_.clear();
  port_ = 0;
}

void WebServer::Routes() {
  QHttpServer& s = *server_;
  const auto file = [](const char* name, const char* type) {
    return [name, type] { return QHttpServerResponse(type, StaticFile(name)); };
  };
  s.route("/", QHttpServerRequest::Method::Get, file("index.html", "text/html; charset=utf-8"));
  s.route("/app.js", QHttpServerRequest::Method::Get,
          file("app.js", "text/javascript; charset=utf-8"));
  s.route("/style.css", QHttpServerRequest::Method::Get,
          file("style.css", "text/css; charset=utf-8"));
  s.route("/api/login", QHttpServerRequest::Method::Post,
          [this](const QHttpServerRequest& r) { return Login(r); });
  s.route("/api/logout", QHttpServerRequest::Method::Post, [this](const QHttpServerRequest& r) {
    sessions_.erase(CookieValue(Header(r, "Cookie"), "zvsession").toStdString());
    QHttpServerResponse resp = JsonReply("{}");
    resp.addHeader("Set-Cookie", "zvsession=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    return resp;
  });
  s.route("/api/session", QHttpServerRequest::Method::Get, [this](const QHttpServerRequest& r) {
    const WebAccount* a = AccountOf(Header(r, "Cookie"));
    if (!a) return NotLoggedIn();
    json::Writer w;
    w.BeginObject()
        .Field("user", a->name)
        .Field("all", a->allObjects)
        .Field("canArm", settings_.AllowArming)
        .EndObject();
    return JsonReply(QByteArray::fromStdString(w.Text()));
  });
  s.route("/api/ticket", QHttpServerRequest::Method::Post, [this](const QHttpServerRequest& r) {
    const QByteArray token = CookieValue(Header(r, "Cookie"), "zvsession");
    if (!SessionOf(Header(r, "Cookie"))) return NotLoggedIn();
    // A WebSocket gets in with a ticket: short-lived, used once, bound to
    // the session (the page's script never sees the session's cookie).
    const std::string ticket = RandomToken();
    tickets_[ticket] = {token.toStdString(), Now()};
    return JsonReply(QByteArray::fromStdString("{\"ticket\":\"" + ticket + "\"}"));
  });
  // The WebSocket's upgrade is taken over by the server only for a request
  // that a route handles: this one answers nothing itself.
  s.route("/ws", QHttpServerRequest::Method::Get,
          [](const QHttpServerRequest&, QHttpServerResponder&&) {});
  s.route("/api/objects", QHttpServerRequest::Method::Get,
          [this](const QHttpServerRequest& r) { return Objects(r); });
  s.route("/api/objects/<arg>/cameras/<arg>/picture", QHttpServerRequest::Method::Get,
          [this](int id, int cam, const QHttpServerRequest& r) { return Picture(id, cam, r); });
  s.route("/api/journal", QHttpServerRequest::Method::Get,
          [this](const QHttpServerRequest& r) { return Journal(r); });
  s.route("/api/objects/<arg>/arm", QHttpServerRequest::Method::Post,
          [this](int id, const QHttpServerRequest& r) { return Arm(id, true, r); });
  s.route("/api/objects/<arg>/disarm", QHttpServerRequest::Method::Post,
          [this](int id, const QHttpServerRequest& r) { return Arm(id, false, r); });
  s.afterRequest([this](QHttpServerResponse&& resp) {
    resp.addHeader("Cache-Control", "no-store");
    resp.addHeader("X-Content-Type-Options", "nosniff");
    resp.addHeader("X-Frame-Options", "DENY");
    resp.addHeader("Referrer-Policy", "no-referrer");
    resp.addHeader("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' blob:; connect-src 'self' ws: wss:; "
                   "frame-ancestors 'none'");
    if (tls_) resp.addHeader("Strict-Transport-Security", "max-age=31536000");
    return std::move(resp);
  });
}

const WebServer::Session* WebServer::SessionOf(const QByteArray& cookieHeader) {
  const std::string token = CookieValue(cookieHeader, "zvsession").toStdString();
  if (token.empty()) return nullptr;
  auto it = sessions_.find(token);
  if (it == sessions_.end()) return nullptr;
  const qint64 now = Now();
  if (now - it->second.used > SessionMs() || now - it->second.created > kSessionMaxMs) {
    sessions_.erase(it);
    return nullptr;
  }
  it->second.used = now;
  return &it->second;
}

const WebAccount* WebServer::AccountOf(const QByteArray& cookieHeader) {
  const Session* s = SessionOf(cookieHeader);
  return s ? accounts_.Find(s->user) : nullptr;
}

bool WebServer::Locked(const std::string& key, qint64 now) const {
  auto it = failures_.find(key);
  return it != failures_.end() && now < it->second.lockedUntil;
}

void WebServer::Failed(const std::string& key, qint64 now) {
  if (failures_.size() > 10000) {
    // Forget the streaks that have long ended.
    for (auto it = failures_.begin(); it != failures_.end();)
      it = now - it->second.lockedUntil > 3600000 ? failures_.erase(it) : std::next(it);
  }
  Failures& f = failures_[key];
  ++f.count;
  if (f.count >= kFreeFailures) {
    const int shift = std::min(f.count - kFreeFailures, 9);
    f.lockedUntil = now + std::min(1 << shift, kMaxLockSeconds) * 1000LL;
  }
}

QHttpServerResponse WebServer::Login(const QHttpServerRequest& req) {
  const QJsonObject body = QJsonDocument::fromJson(req.body()).object();
  const std::string user = body.value("user").toString().toStdString();
  const std::string password = body.value("password").toString().toStdString();
  const std::string address = req.remoteAddress().toString().toStdString();
  const qint64 now = Now();
  const std::string byAddress = "a:" + address, byName = "u:" + user;
  if (Locked(byAddress, now) || Locked(byName, now))
    return Error("Слишком много неудачных попыток входа, повторите позже", Status::TooManyRequests);
  // Each check costs the machine real work: a bound on them all together.
  if (now / 1000 != checksSecond_) {
    checksSecond_ = now / 1000;
    checksInSecond_ = 0;
  }
  if (++checksInSecond_ > kChecksPerSecond)
    return Error("Сервер занят, повторите позже", Status::TooManyRequests);
  const WebAccount* a = WebAccounts::ValidName(user) ? accounts_.Find(user) : nullptr;
  // An unknown name takes as long as a wrong password.
  static const std::string dummy = WebAccounts::HashPassword(RandomToken());
  const bool ok = WebAccounts::VerifyPassword(a ? a->hash : dummy, password) && a;
  if (!ok) {
    Failed(byAddress, now);
    Failed(byName, now);
    const int count = failures_[byAddress].count;
    if (count == 1 || count == kFreeFailures)
      journal_(
          "Веб-доступ: неудачная попытка входа" +
              (count == kFreeFailures ? " (" + std::to_string(count) + "-я подряд, вход замедлен)"
                                      : std::string()) +
              " с адреса " + address,
          3);
    return Error("Неверное имя или пароль", Status::Unauthorized);
  }
  failures_.erase(byAddress);
  failures_.erase(byName);
  const std::string token = RandomToken();
  sessions_[token] = Session{a->name, now, now};
  journal_("Веб-доступ: вход пользователя \"" + a->name + "\" с адреса " + address, 1);
  json::Writer w;
  w.BeginObject()
      .Field("user", a->name)
      .Field("all", a->allObjects)
      .Field("canArm", settings_.AllowArming)
      .EndObject();
  QHttpServerResponse resp = JsonReply(QByteArray::fromStdString(w.Text()));
  resp.addHeader("Set-Cookie", QByteArray::fromStdString("zvsession=" + token +
                                                         "; Path=/; HttpOnly; SameSite=Strict" +
                                                         (tls_ ? "; Secure" : "")));
  return resp;
}

QByteArray WebServer::ObjectsJson(const WebAccount& a) const {
  std::string out = "[";
  for (const auto& st : station_.Objects()) {
    if (!a.Sees(st.objectId)) continue;
    if (out.size() > 1) out += ',';
    out += remote::StateJson(st, "");
  }
  out += "]";
  return QByteArray::fromStdString(out);
}

QByteArray WebServer::JournalJson(const WebAccount& a, std::string* last) const {
  std::vector<JournalEntry> shown;
  for (auto& e : station_.RecentJournal(kJournalLines * 4)) {
    // An owner sees the lines about his Objects only; the station's own
    // lines (logins, ports, errors) are for the staff.
    if (!a.allObjects && (e.objectId == 0 || !a.Sees(e.objectId))) continue;
    shown.push_back(std::move(e));
  }
  const std::size_t from = shown.size() > kJournalLines ? shown.size() - kJournalLines : 0;
  json::Writer w;
  w.BeginArray();
  for (std::size_t i = from; i < shown.size(); ++i)
    w.BeginObject().Field("text", shown[i].text).Field("kind", shown[i].kind).EndObject();
  w.EndArray();
  if (last) *last = shown.empty() ? std::string() : shown.back().text;
  return QByteArray::fromStdString(w.Text());
}

QHttpServerResponse WebServer::Objects(const QHttpServerRequest& req) {
  const WebAccount* a = AccountOf(Header(req, "Cookie"));
  if (!a) return NotLoggedIn();
  return JsonReply("{\"objects\":" + ObjectsJson(*a) + "}");
}

QHttpServerResponse WebServer::Journal(const QHttpServerRequest& req) {
  const WebAccount* a = AccountOf(Header(req, "Cookie"));
  if (!a) return NotLoggedIn();
  return JsonReply("{\"lines\":" + JournalJson(*a, nullptr) + "}");
}

QByteArray WebServer::Jpeg(int id, int camera, std::uint64_t serial) {
  auto& cached = jpegCache_[{id, camera}];
  if (cached.first == serial && !cached.second.isEmpty()) return cached.second;
  std::vector<std::uint8_t> jpeg;
  TPicture picture;
  QByteArray out;
  if (station_.LatestPicture(id, camera, jpeg, picture))
    out = jpeg.empty() ? EncodeJpeg(picture)
                       : QByteArray(reinterpret_cast<const char*>(jpeg.data()),
                                    static_cast<qsizetype>(jpeg.size()));
  cached = {serial, out};
  return out;
}

QHttpServerResponse WebServer::Picture(int id, int camera, const QHttpServerRequest& req) {
  const WebAccount* a = AccountOf(Header(req, "Cookie"));
  if (!a) return NotLoggedIn();
  if (!a->Sees(id)) return NotYours();
  const QByteArray jpeg = Jpeg(id, camera, station_.PictureSerial(id, camera));
  if (jpeg.isEmpty()) return Error("Нет изображения", Status::NotFound);
  return QHttpServerResponse("image/jpeg", jpeg);
}

QHttpServerResponse WebServer::Arm(int id, bool arm, const QHttpServerRequest& req) {
  const WebAccount* a = AccountOf(Header(req, "Cookie"));
  if (!a) return NotLoggedIn();
  if (!a->Sees(id)) return NotYours();
  if (!settings_.AllowArming)
    return Error("Постановка и снятие с охраны с веб-страницы не разрешены", Status::Forbidden);
  // Another site's page can't add this header to a request of ours.
  if (Header(req, "X-Zorvenix") != "1") return Error("Запрос отклонён", Status::Forbidden);
  journal_("Команда с веб-страницы (пользователь \"" + a->name +
               "\"): " + (arm ? "постановка на охрану" : "снятие с охраны") + " объекта №" +
               std::to_string(id),
           2);
  if (!station_.RequestArm(id, arm, a->name)) return Error("Объект не найден", Status::NotFound);
  return JsonReply("{}");
}

void WebServer::Drop(std::size_t i, const char* why) {
  std::unique_ptr<Socket> s = std::move(sockets_[i]);
  sockets_.erase(sockets_.begin() + static_cast<std::ptrdiff_t>(i));
  // Closing emits the socket's signals at once: ours are cut first.
  QObject::disconnect(s->ws.get(), nullptr, this, nullptr);
  s->ws->close(QWebSocketProtocol::CloseCodePolicyViolated, why);
  s->ws.release()->deleteLater();
}

void WebServer::NewSockets() {
  while (server_ && server_->hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> ws = server_->nextPendingWebSocketConnection();
    if (!ws) break;
    const std::string ticket = QUrlQuery(ws->requestUrl()).queryItemValue("ticket").toStdString();
    auto it = tickets_.find(ticket);
    std::string token;
    if (it != tickets_.end()) {
      if (Now() - it->second.second <= kTicketMs) token = it->second.first;
      tickets_.erase(it);  // used once
    }
    if (ws->requestUrl().path() != "/ws" || token.empty() || !sessions_.count(token)) {
      ws->close(QWebSocketProtocol::CloseCodePolicyViolated, "login required");
      ws.release()->deleteLater();
      continue;
    }
    auto sock = std::make_unique<Socket>();
    QWebSocket* raw = ws.get();
    sock->ws = std::move(ws);
    sock->token = token;
    connect(raw, &QWebSocket::disconnected, this, [this, raw] {
      for (auto s = sockets_.begin(); s != sockets_.end(); ++s)
        if ((*s)->ws.get() == raw) {
          (*s)->ws.release()->deleteLater();
          sockets_.erase(s);
          return;
        }
    });
    sockets_.push_back(std::move(sock));
  }
  Poll();
}

void WebServer::Poll() {
  if (!server_) return;
  const qint64 now = Now();
  // Sessions and tickets that ended; the sessions' sockets close.
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    const bool over =
        now - it->second.used > SessionMs() || now - it->second.created > kSessionMaxMs;
    it = over ? sessions_.erase(it) : std::next(it);
  }
  for (auto it = tickets_.begin(); it != tickets_.end();)
    it = now - it->second.second > kTicketMs ? tickets_.erase(it) : std::next(it);
  std::vector<remote::ObjectState> objects;
  bool objectsRead = false;
  for (std::size_t i = 0; i < sockets_.size();) {
    Socket& s = *sockets_[i];
    auto sess = sessions_.find(s.token);
    const WebAccount* a = sess == sessions_.end() ? nullptr : accounts_.Find(sess->second.user);
    if (!a) {
      Drop(i, "session ended");
      continue;
    }
    ++i;
    if (!objectsRead) {
      objects = station_.Objects();
      objectsRead = true;
    }
    const std::string states = ObjectsJson(*a).toStdString();
    if (states != s.objectsSent) {
      s.objectsSent = states;
      s.ws->sendTextMessage(
          QString::fromStdString("{\"type\":\"objects\",\"objects\":" + states + "}"));
    }
    std::string last;
    const QByteArray lines = JournalJson(*a, &last);
    if (last != s.journalSent) {
      s.journalSent = last;
      s.ws->sendTextMessage(QString::fromUtf8("{\"type\":\"journal\",\"lines\":" + lines + "}"));
    }
    for (const auto& st : objects) {
      if (!a->Sees(st.objectId)) continue;
      for (const auto& cam : st.cameras) {
        const std::uint64_t serial = station_.PictureSerial(st.objectId, cam.index);
        auto& sent = s.serials[{st.objectId, cam.index}];
        if (serial == 0 || serial == sent) continue;
        // A slow client skips pictures rather than piling them up.
        if (s.ws->bytesToWrite() > kMaxUnsent) continue;
        const QByteArray jpeg = Jpeg(st.objectId, cam.index, serial);
        if (jpeg.isEmpty()) continue;
        sent = serial;
        QByteArray frame("ZVP1");
        const quint32 head[2] = {static_cast<quint32>(st.objectId),
                                 static_cast<quint32>(cam.index)};
        for (quint32 v : head)
          for (int b = 0; b < 4; ++b) frame.append(static_cast<char>((v >> (8 * b)) & 0xFF));
        frame.append(jpeg);
        s.ws->sendBinaryMessage(frame);
      }
    }
  }
}

}  // namespace zv::web

// The web view's server over real loopback HTTP and WebSockets: logins,
// sessions, what an owner may see, the brake on guessing, arming, and the
// accounts file with the password command.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QWebSocket>
#include <sstream>

#include "FakeStation.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"
#include "ui/web/PasswordCommand.h"
#include "ui/web/WebServer.h"

namespace zv::test {
namespace {

struct Reply {
  int status = 0;
  QByteArray body;
  QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// One browser's worth of HTTP: its own cookies.
struct Client {
  QNetworkAccessManager nam;
  int port = 0;
  Reply Do(const QByteArray& method, const QString& path, const QByteArray& body = {},
           bool marked = true) {
    QNetworkRequest req(QUrl(QString("http://127.0.0.1:%1%2").arg(port).arg(path)));
    req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (marked) req.setRawHeader("X-Zorvenix", "1");
    QNetworkReply* r = nam.sendCustomRequest(req, method, body);
    SpinUntil([r] { return r->isFinished(); });
    Reply out{r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), r->readAll()};
    r->deleteLater();
    return out;
  }
  Reply Login(const QString& user, const QString& password) {
    return Do("POST", "/api/login",
              QJsonDocument(QJsonObject{{"user", user}, {"password", password}}).toJson());
  }
};

class WebServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    web::WebAccounts a;
    a.Set({"ivanov", false, {3, 5}, web::WebAccounts::HashPassword("пароль-Иванова")});
    a.Set({"staff", true, {}, web::WebAccounts::HashPassword("staff-password")});
    std::string error;
    ASSERT_TRUE(a.Save(dir_->file("WebUsers"), error)) << error;
  }
  static void TearDownTestSuite() { delete dir_; }

  void Start(remote::WebSettings s = {}) {
    s.Enabled = true;
    s.Address = "127.0.0.1";
    s.Port = 0;
    std::string error;
    ASSERT_TRUE(server.Start(s, dir_->file("WebUsers"), error)) << error;
    owner.port = staff.port = stranger.port = server.Port();
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& l : lines) n += l.find(part) != std::string::npos;
    return n;
  }

  static TempDir* dir_;
  FakeStation station;
  std::vector<std::string> lines;
  qint64 nowMs = 1000;
  web::WebServer server{station, [this](const std::string& t, int) { lines.push_back(t); }};
  Client owner, staff, stranger;

  void SetUp() override {
    server.SetClock([this] { return nowMs; });
  }
};
TempDir* WebServerTest::dir_ = nullptr;

TEST_F(WebServerTest, OwnersSeeOnlyTheirObjectsAndSessionsEnd) {
  remote::WebSettings s;
  s.SessionMinutes = 10;
  Start(s);
  EXPECT_EQ(Count("Веб-доступ открыт на порту " + std::to_string(server.Port())), 1);
  EXPECT_EQ(stranger.Do("GET", "/api/objects").status, 401);
  EXPECT_EQ(stranger.Do("GET", "/api/objects/3/cameras/1/picture").status, 401);
  EXPECT_EQ(stranger.Login("ivanov", "пароль-иванова").status, 401);  // case matters
  EXPECT_EQ(stranger.Login("nobody", "пароль-Иванова").status, 401);
  EXPECT_EQ(stranger.Do("GET", "/api/objects").status, 401);

  const Reply in = owner.Login("ivanov", "пароль-Иванова");
  ASSERT_EQ(in.status, 200) << in.body.constData();
  EXPECT_FALSE(in.json()["all"].toBool());
  const QJsonArray objects = owner.Do("GET", "/api/objects").json()["objects"].toArray();
  ASSERT_EQ(objects.size(), 2);
  EXPECT_EQ(objects[0].toObject()["id"].toInt(), 3);
  EXPECT_EQ(objects[0].toObject()["name"].toString(), "Склад \"Север\"");
  EXPECT_EQ(objects[1].toObject()["id"].toInt(), 5);

  const Reply pic = owner.Do("GET", "/api/objects/3/cameras/2/picture");
  ASSERT_EQ(pic.status, 200);
  EXPECT_TRUE(pic.body.startsWith("\xFF\xD8"));  // a JPEG
  EXPECT_EQ(owner.Do("GET", "/api/objects/3/cameras/9/picture").status, 404);
  // Another owner's Object, or one that does not exist: refused alike.
  EXPECT_EQ(owner.Do("GET", "/api/objects/7/cameras/1/picture").status, 403);
  EXPECT_EQ(owner.Do("GET", "/api/objects/8/cameras/1/picture").status, 403);
  const QJsonArray journal = owner.Do("GET", "/api/journal").json()["lines"].toArray();
  ASSERT_EQ(journal.size(), 1);  // only the line about Object 3
  EXPECT_TRUE(journal[0].toObject()["text"].toString().contains("№3"));

  ASSERT_EQ(staff.Login("staff", "staff-password").status, 200);
  EXPECT_EQ(staff.Do("GET", "/api/objects").json()["objects"].toArray().size(), 3);
  EXPECT_EQ(staff.Do("GET", "/api/journal").json()["lines"].toArray().size(), 3);
  EXPECT_EQ(staff.Do("GET", "/api/objects/7/cameras/1/picture").status, 200);

  // Nine minutes unused keeps the session; eleven more end it.
  nowMs += 9 * 60000;
  EXPECT_EQ(owner.Do("GET", "/api/session").status, 200);
  nowMs += 11 * 60000;
  EXPECT_EQ(owner.Do("GET", "/api/objects").status, 401);
  // Logging out ends a session at once.
  EXPECT_EQ(staff.Do("POST", "/api/logout").status, 200);
  EXPECT_EQ(staff.Do("GET", "/api/objects").status, 401);
  for (const auto& l : lines) EXPECT_EQ(l.find("пароль"), std::string::npos) << l;
}

TEST_F(WebServerTest, GuessingIsSlowedPerAddressAndName) {
  Start();
  for (int i = 0; i < web::WebServer::kFreeFailures; ++i)
    EXPECT_EQ(stranger.Login("ivanov", "guess" + QString::number(i)).status, 401);
  // Locked now: even the right password is not looked at.
  EXPECT_EQ(stranger.Login("ivanov", "пароль-Иванова").status, 429);
  EXPECT_EQ(owner.Login("staff", "staff-password").status, 429);  // same address
  EXPECT_EQ(Count("неудачная попытка входа"), 2);  // the first, and the fifth in a row
  nowMs += 1500;
  EXPECT_EQ(stranger.Login("ivanov", "guess-again").status, 401);
  EXPECT_EQ(stranger.Login("ivanov", "пароль-Иванова").status, 429);  // 2 s now
  nowMs += 2500;
  EXPECT_EQ(stranger.Login("ivanov", "пароль-Иванова").status, 200);
  // A success clears the count.
  EXPECT_EQ(stranger.Login("ivanov", "wrong").status, 401);
  EXPECT_EQ(stranger.Login("ivanov", "пароль-Иванова").status, 200);
}

TEST_F(WebServerTest, ArmingOnlyWhenAllowedAndOnlyOwnObjects) {
  Start();
  ASSERT_EQ(owner.Login("ivanov", "пароль-Иванова").status, 200);
  EXPECT_EQ(owner.Do("POST", "/api/objects/5/arm").status, 403);  // not allowed
  EXPECT_TRUE(station.requests.empty());

  remote::WebSettings s;
  s.AllowArming = true;
  Start(s);
  ASSERT_EQ(owner.Login("ivanov", "пароль-Иванова").status, 200);
  EXPECT_TRUE(owner.Do("GET", "/api/session").json()["canArm"].toBool());
  EXPECT_EQ(owner.Do("POST", "/api/objects/5/arm", {}, false).status, 403);  // no header
  EXPECT_EQ(owner.Do("POST", "/api/objects/7/disarm").status, 403);          // not his
  EXPECT_EQ(owner.Do("GET", "/api/objects/5/arm").status, 404);              // not by GET
  EXPECT_TRUE(station.requests.empty());
  EXPECT_EQ(owner.Do("POST", "/api/objects/5/arm").status, 200);
  ASSERT_EQ(station.requests.size(), 1u);
  EXPECT_EQ(station.requests[0].id, 5);
  EXPECT_TRUE(station.requests[0].arm);
  EXPECT_EQ(station.requests[0].user, "ivanov");
  EXPECT_EQ(
      Count("Команда с веб-страницы (пользователь \"ivanov\"): постановка на охрану объекта №5"),
      1);
}

TEST_F(WebServerTest, WebSocketNeedsATicketAndPushesOwnPicturesOnly) {
  Start();
  server.SetPollInterval(20);
  QWebSocket bare;
  bool bareClosed = false;
  QObject::connect(&bare, &QWebSocket::disconnected, [&] { bareClosed = true; });
  bare.open(QUrl(QString("ws://127.0.0.1:%1/ws?ticket=0123").arg(server.Port())));
  ASSERT_TRUE(SpinUntil([&] { return bareClosed; }));

  ASSERT_EQ(owner.Login("ivanov", "пароль-Иванова").status, 200);
  const QString ticket = owner.Do("POST", "/api/ticket").json()["ticket"].toString();
  ASSERT_FALSE(ticket.isEmpty());
  QWebSocket ws;
  std::vector<QString> texts;
  std::vector<QByteArray> pictures;
  QObject::connect(&ws, &QWebSocket::textMessageReceived,
                   [&](const QString& t) { texts.push_back(t); });
  QObject::connect(&ws, &QWebSocket::binaryMessageReceived,
                   [&](const QByteArray& b) { pictures.push_back(b); });
  ws.open(QUrl(QString("ws://127.0.0.1:%1/ws?ticket=%2").arg(server.Port()).arg(ticket)));
  // Cameras 3/1, 3/2 and 5/1: the neighbour's camera never comes.
  ASSERT_TRUE(SpinUntil([&] { return pictures.size() >= 3 && texts.size() >= 2; }));
  SpinUntil([] { return false; }, 100);
  ASSERT_EQ(pictures.size(), 3u);
  for (const auto& p : pictures) {
    ASSERT_GT(p.size(), 12);
    EXPECT_TRUE(p.startsWith("ZVP1"));
    EXPECT_NE(static_cast<int>(p[4]), 7);
    EXPECT_TRUE(p.mid(12).startsWith("\xFF\xD8"));
  }
  station.Paint(3, 2, 200, 0, 0);
  station.Paint(7, 1, 200, 0, 0);
  ASSERT_TRUE(SpinUntil([&] { return pictures.size() == 4; }));
  EXPECT_EQ(static_cast<int>(pictures[3][4]), 3);
  EXPECT_EQ(static_cast<int>(pictures[3][8]), 2);

  // A ticket is good once.
  QWebSocket again;
  bool againClosed = false;
  QObject::connect(&again, &QWebSocket::disconnected, [&] { againClosed = true; });
  again.open(QUrl(QString("ws://127.0.0.1:%1/ws?ticket=%2").arg(server.Port()).arg(ticket)));
  ASSERT_TRUE(SpinUntil([&] { return againClosed; }));

  // The session ends: so does its socket.
  bool closed = false;
  QObject::connect(&ws, &QWebSocket::disconnected, [&] { closed = true; });
  nowMs += 31 * 60000;
  ASSERT_TRUE(SpinUntil([&] { return closed; }));
}

TEST(WebAccountsTest, FileAndPasswordCommand) {
  TempDir dir;
  const auto folder = [&](const std::string& d, std::string&) {
    return d.empty() ? dir.path().string() : d;
  };
  std::istringstream in("Пароль-для-дачи\n");
  std::ostringstream out, err;
  ASSERT_EQ(web::RunPasswordCommand({"--web-passwd", "petrov", "--web-objects", "5,12"}, folder, in,
                                    out, err, false),
            0)
      << err.str();
  // A new account needs its Objects; short passwords are refused.
  std::istringstream in2("long-enough-password\n"), in3("short\n");
  EXPECT_EQ(web::RunPasswordCommand({"--web-passwd", "sidorov"}, folder, in2, out, err, false), 2);
  EXPECT_EQ(web::RunPasswordCommand({"--web-passwd", "petrov"}, folder, in3, out, err, false), 1);
  EXPECT_EQ(web::RunPasswordCommand({"--web-passwd", "a:b", "--web-objects", "*"}, folder, in2, out,
                                    err, false),
            2);

  web::WebAccounts a;
  std::string error;
  ASSERT_TRUE(a.Load(dir.file("WebUsers"), error)) << error;
  const web::WebAccount* p = a.Find("petrov");
  ASSERT_TRUE(p);
  EXPECT_EQ(web::WebAccounts::FormatObjects(*p), "5,12");
  EXPECT_TRUE(web::WebAccounts::VerifyPassword(p->hash, "Пароль-для-дачи"));
  EXPECT_FALSE(web::WebAccounts::VerifyPassword(p->hash, "Пароль-для-дачи "));
  EXPECT_EQ(
      std::filesystem::status(dir.file("WebUsers")).permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A new password keeps the account's Objects; damaged lines are skipped.
  std::istringstream in4("another-password\n");
  ASSERT_EQ(web::RunPasswordCommand({"--web-passwd", "petrov"}, folder, in4, out, err, false), 0);
  std::string text = ReadFile(dir.file("WebUsers"));
  WriteFile(dir.file("WebUsers"), text + "broken line\nx:1,a:hash\n:*:hash\n");
  ASSERT_TRUE(a.Load(dir.file("WebUsers"), error));
  EXPECT_EQ(a.All().size(), 1u);
  EXPECT_EQ(a.SkippedLines(), 3);
  EXPECT_EQ(web::WebAccounts::FormatObjects(*a.Find("petrov")), "5,12");
  EXPECT_TRUE(web::WebAccounts::VerifyPassword(a.Find("petrov")->hash, "another-password"));
}

// A client that trusts the station's CA (and no other) gets the page over
// HTTPS, its session cookie is marked Secure, and plain HTTP is not spoken.
TEST_F(WebServerTest, WithACertificateOnlyHttpsIsSpokenAndTheCookieIsSecure) {
  const TestCerts certs = MakeTestCerts(dir_->path());
  ASSERT_EQ(certs.error, "");
  remote::WebSettings s;
  s.CertFile = certs.cert;
  s.KeyFile = certs.key;
  Start(s);
  ASSERT_TRUE(server.Tls());
  EXPECT_EQ(Count("(TLS)"), 1);

  QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
  ssl.setCaCertificates(QSslCertificate::fromPath(QString::fromStdString(certs.ca)));
  QNetworkAccessManager nam;
  const auto post = [&](const QString& url) {
    QNetworkRequest req{QUrl(url)};
    req.setSslConfiguration(ssl);
    req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    req.setRawHeader("X-Zorvenix", "1");
    QNetworkReply* r = nam.post(
        req,
        QJsonDocument(QJsonObject{{"user", "staff"}, {"password", "staff-password"}}).toJson());
    SpinUntil([r] { return r->isFinished(); });
    r->deleteLater();
    return r;
  };
  QNetworkReply* r = post(QString("https://127.0.0.1:%1/api/login").arg(server.Port()));
  ASSERT_EQ(r->error(), QNetworkReply::NoError) << r->errorString().toStdString();
  EXPECT_EQ(r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
  const QByteArray cookie = r->rawHeader("Set-Cookie");
  EXPECT_TRUE(cookie.contains("Secure")) << cookie.constData();
  EXPECT_TRUE(cookie.contains("HttpOnly")) << cookie.constData();

  QNetworkReply* plain = post(QString("http://127.0.0.1:%1/api/login").arg(server.Port()));
  EXPECT_NE(plain->error(), QNetworkReply::NoError);
  EXPECT_EQ(plain->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 0);
}

}  // namespace
}  // namespace zv::test

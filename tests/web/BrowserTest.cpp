// The web view in a real browser: headless Chromium driven over its
// DevTools protocol.  One browser serves every case (it is slow to start).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "FakeStation.h"
#include "support/TempDir.h"
#include "ui/web/WebServer.h"

extern char** environ;

namespace zv::test {
namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

// The browser and one page of it, attached over the DevTools protocol.
class Browser {
 public:
  // Starts the browser; empty when it runs, else why not.
  std::string Start() {
    if (!std::filesystem::exists(kChromium))
      return std::string(kChromium) +
             " is missing: scripts/install-deps installs the package chromium";
    const std::string profile = dir_.file("profile");
    std::vector<std::string> args = {kChromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-dev-shm-usage",
                                     "--user-data-dir=" + profile,
                                     "--remote-debugging-port=0",
                                     "about:blank"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, dir_.file("chromium.log").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    const int rc = ::posix_spawn(&pid_, kChromium, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return "chromium did not start";
    // The browser names its port and path in this file once it listens.
    const std::string portFile = profile + "/DevToolsActivePort";
    QString url;
    if (!SpinUntil(
            [&] {
              std::ifstream f(portFile);
              std::string port, path;
              if (!(f >> port >> path)) return false;
              url = QString::fromStdString("ws://127.0.0.1:" + port + path);
              return true;
            },
            30000))
      return "chromium wrote no DevToolsActivePort:\n" + ReadFile(dir_.file("chromium.log"));
    QObject::connect(&ws_, &QWebSocket::textMessageReceived, [this](const QString& t) {
      const QJsonObject m = QJsonDocument::fromJson(t.toUtf8()).object();
      if (m.contains("id")) replies_[m["id"].toInt()] = m;
    });
    ws_.open(QUrl(url));
    if (!SpinUntil([&] { return ws_.state() == QAbstractSocket::ConnectedState; }, 10000))
      return "no DevTools connection";
    const QJsonObject target =
        Send("Target.createTarget", {{"url", "about:blank"}}, false)["result"].toObject();
    const QJsonObject attached =
        Send("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}}, false);
    session_ = attached["result"].toObject()["sessionId"].toString();
    if (session_.isEmpty()) return "no page to drive";
    return {};
  }

  ~Browser() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

  QJsonObject Send(const QString& method, const QJsonObject& params, bool onPage = true) {
    const int id = ++lastId_;
    QJsonObject m{{"id", id}, {"method", method}, {"params", params}};
    if (onPage) m["sessionId"] = session_;
    ws_.sendTextMessage(QString::fromUtf8(QJsonDocument(m).toJson(QJsonDocument::Compact)));
    SpinUntil([&] { return replies_.count(id) > 0; }, 15000);
    QJsonObject r = replies_[id];
    replies_.erase(id);
    return r;
  }
  // The value of a script in the page (promises awaited).
  QJsonValue Eval(const QString& js) {
    const QJsonObject r = Send(
        "Runtime.evaluate", {{"expression", js}, {"awaitPromise", true}, {"returnByValue", true}});
    return r["result"].toObject()["result"].toObject()["value"];
  }
  bool WaitFor(const QString& js, int ms = 8000) {
    return SpinUntil([&] { return Eval(js).toBool(); }, ms);
  }
  void Open(const QString& url) {
    Send("Page.navigate", {{"url", url}});
    WaitFor("document.readyState === 'complete'");
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  QWebSocket ws_;
  QString session_;
  int lastId_ = 0;
  std::map<int, QJsonObject> replies_;
};

class BrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    web::WebAccounts a;
    a.Set({"ivanov", false, {3, 5}, web::WebAccounts::HashPassword("пароль-Иванова")});
    std::string error;
    ASSERT_TRUE(a.Save(dir_->file("WebUsers"), error)) << error;
    browser_ = new Browser;
    startError_ = browser_->Start();
  }
  static void TearDownTestSuite() {
    delete browser_;
    delete dir_;
  }
  void SetUp() override {
    // Never skipped: a machine without the browser fails here, saying why.
    ASSERT_EQ(startError_, "");
    remote::WebSettings s;
    s.Address = "127.0.0.1";
    s.Port = 0;
    std::string error;
    ASSERT_TRUE(server.Start(s, dir_->file("WebUsers"), error)) << error;
    server.SetPollInterval(50);
    base = QString("http://127.0.0.1:%1").arg(server.Port());
  }
  void LogIn(const QString& password) {
    browser().Open(base + "/");
    ASSERT_TRUE(browser().WaitFor("!document.getElementById('login').hidden"));
    browser().Eval(QString("document.getElementById('user').value = 'ivanov';"
                           "document.getElementById('password').value = '%1';"
                           "document.getElementById('enter').click(); true")
                       .arg(password));
  }
  // The colour at the middle of a camera's picture as the page shows it.
  QString PixelJs(int id, int cam) {
    return QString(
               "(() => { const i = "
               "document.querySelector('img[data-object=\"%1\"][data-camera=\"%2\"]');"
               " if (!i || !i.complete || !i.naturalWidth) return '';"
               " const c = document.createElement('canvas'); c.width = i.naturalWidth; c.height = "
               "i.naturalHeight;"
               " const g = c.getContext('2d'); g.drawImage(i, 0, 0);"
               " const d = g.getImageData(c.width / 2, c.height / 2, 1, 1).data;"
               " return d[0] > 150 && d[2] < 100 ? 'red' : d[2] > 150 && d[0] < 100 ? 'blue' : "
               "'other'; })()")
        .arg(id)
        .arg(cam);
  }
  static Browser& browser() { return *browser_; }

  static TempDir* dir_;
  static Browser* browser_;
  static std::string startError_;
  FakeStation station;
  web::WebServer server{station, [](const std::string&, int) {}};
  QString base;
};
TempDir* BrowserTest::dir_ = nullptr;
Browser* BrowserTest::browser_ = nullptr;
std::string BrowserTest::startError_;

TEST_F(BrowserTest, WrongPasswordIsRefused) {
  LogIn("не-тот-пароль");
  ASSERT_TRUE(browser().WaitFor(
      "document.getElementById('login-error').textContent === 'Неверное имя или пароль'"));
  EXPECT_TRUE(browser().Eval("document.getElementById('main').hidden").toBool());
  EXPECT_EQ(browser().Eval("document.querySelectorAll('.object').length").toInt(), 0);
}

TEST_F(BrowserTest, OwnerSeesOwnObjectsAndPicturesChangeLive) {
  LogIn("пароль-Иванова");
  ASSERT_TRUE(browser().WaitFor("document.querySelectorAll('.object').length === 2"));
  EXPECT_EQ(
      browser()
          .Eval("[...document.querySelectorAll('.object h3')].map(h => h.textContent).join('|')")
          .toString(),
      "№3 Склад \"Север\"|№5 Дача");
  EXPECT_TRUE(browser()
                  .Eval("document.querySelector('.object[data-id=\"3\"] .state').textContent")
                  .toString()
                  .startsWith("Под охраной"));
  ASSERT_TRUE(browser().WaitFor(PixelJs(3, 2) + " === 'red'"));
  // The site sends a new picture: the page shows it without a reload.
  station.Paint(3, 2, 220, 30, 30);
  ASSERT_TRUE(browser().WaitFor(PixelJs(3, 2) + " === 'blue'"));
  EXPECT_EQ(browser().Eval(PixelJs(3, 1)).toString(), "red");
  // A state change shows too.
  station.objects[3].masks.gaugesAlarm = 1;
  station.objects[3].gaugeNames = {"Дверь"};
  ASSERT_TRUE(
      browser().WaitFor("document.querySelector('.object[data-id=\"3\"] "
                        ".state').textContent.includes('сработка: Дверь')"));
  EXPECT_TRUE(
      browser()
          .Eval("document.querySelector('.object[data-id=\"3\"]').classList.contains('alarm')")
          .toBool());
}

TEST_F(BrowserTest, AnotherOwnersObjectIsRefused) {
  LogIn("пароль-Иванова");
  ASSERT_TRUE(browser().WaitFor("document.querySelectorAll('.object').length === 2"));
  EXPECT_EQ(browser().Eval("document.querySelectorAll('.object[data-id=\"7\"]').length").toInt(),
            0);
  EXPECT_EQ(browser().Eval("fetch('/api/objects/7/cameras/1/picture').then(r => r.status)").toInt(),
            403);
  EXPECT_EQ(browser().Eval("fetch('/api/objects/3/cameras/1/picture').then(r => r.status)").toInt(),
            200);
  EXPECT_EQ(browser()
                .Eval("fetch('/api/objects/7/arm', {method: 'POST', headers: {'X-Zorvenix': '1'}})"
                      ".then(r => r.status)")
                .toInt(),
            403);
  EXPECT_FALSE(
      browser().Eval("document.getElementById('journal').textContent").toString().contains("№7"));
  EXPECT_TRUE(station.requests.empty());
}

}  // namespace
}  // namespace zv::test

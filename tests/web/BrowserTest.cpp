// The web view in a real browser: headless Chromium driven over its
// DevTools protocol.  One browser serves every case (it is slow to start).
#include <gtest/gtest.h>

#include <QFile>
#include <memory>
#include <vector>

#include "Browser.h"
#include "FakeStation.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"
#include "ui/web/WebServer.h"

namespace zv::test {
namespace {

class BrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    web::WebAccounts a;
    a.Set({"ivanov", false, {3, 5}, web::WebAccounts::HashPassword("пароль-Иванова")});
    std::string error;
    ASSERT_TRUE(a.Save(dir_->file("WebUsers"), error)) << error;
    certs_ = MakeTestCerts(dir_->path());
    browser_ = new Browser;
    // The test's CA is no CA of the browser's.
    startError_ = browser_->Start({"--ignore-certificate-errors"});
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
  static TestCerts certs_;
  static Browser* browser_;
  static std::string startError_;
  FakeStation station;
  web::WebServer server{station, [](const std::string&, int) {}};
  QString base;
};
TempDir* BrowserTest::dir_ = nullptr;
TestCerts BrowserTest::certs_;
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

// With a certificate the view is HTTPS and its pictures come over WSS.
TEST_F(BrowserTest, TheViewWorksOverHttpsAndSecureWebSockets) {
  ASSERT_EQ(certs_.error, "");
  web::WebServer tls{station, [](const std::string&, int) {}};
  remote::WebSettings s;
  s.Address = "127.0.0.1";
  s.Port = 0;
  s.CertFile = certs_.cert;
  s.KeyFile = certs_.key;
  std::string error;
  ASSERT_TRUE(tls.Start(s, dir_->file("WebUsers"), error)) << error;
  ASSERT_TRUE(tls.Tls());
  tls.SetPollInterval(50);
  base = QString("https://127.0.0.1:%1").arg(tls.Port());
  LogIn("пароль-Иванова");
  ASSERT_TRUE(browser().WaitFor("document.querySelectorAll('.object').length === 2"));
  EXPECT_EQ(browser().Eval("location.protocol").toString(), "https:");
  ASSERT_TRUE(browser().WaitFor(PixelJs(3, 1) + " === 'red'"));
  station.Paint(3, 1, 220, 30, 30);
  ASSERT_TRUE(browser().WaitFor(PixelJs(3, 1) + " === 'blue'"));
}

}  // namespace
}  // namespace zv::test

#pragma once
// Headless Chromium driven over its DevTools protocol, for the web view's
// tests: one page, scripts evaluated in it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

namespace zv::test {

// Runs the Qt loop until pred holds or ms have passed.
inline bool SpinUntil(const std::function<bool()>& pred, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

constexpr const char* kChromium = "/usr/bin/chromium";

// The browser and one page of it, attached over the DevTools protocol.
class Browser {
 public:
  // Starts the browser (with more options); empty when it runs, else why not.
  std::string Start(const std::vector<std::string>& extra = {}) {
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
                                     "--remote-debugging-port=0"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("about:blank");
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

}  // namespace zv::test

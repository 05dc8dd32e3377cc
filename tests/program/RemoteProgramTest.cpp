// Whole programs with the station's outside connections: a station process
// with MQTT and the web view on, three site processes over loopback TCP and
// a Mosquitto broker.  The sites' arming reaches the broker, the web view
// answers, and the retained states come back after the broker restarts.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <map>

#include "Programs.h"
#include "platform/MosquittoClient.h"
#include "remote/Broker.h"

namespace zv::test {
namespace {

using namespace std::chrono_literals;

std::string NoPorts(const std::string& dir) {
  std::string s = "[Ports]\r\n";
  for (int i = 1; i <= 8; ++i) s += "COM" + std::to_string(i) + "=" + dir + "/missing-com\r\n";
  for (int i = 1; i <= 3; ++i) s += "LPT" + std::to_string(i) + "=" + dir + "/missing-lpt\r\n";
  return s;
}

// The status line of a plain HTTP request to the web view ("" when none).
std::string HttpStatus(int port, const std::string& path) {
  const int fd = ConnectLoopback(port);
  std::string reply;
  if (fd >= 0) {
    const std::string req =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    char buf[512];
    ssize_t n;
    while (reply.find("\r\n") == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
      reply.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
  }
  return reply.substr(0, reply.find("\r\n"));
}

struct Listener {
  Listener(QueueDispatcher& d, int port) : client(d) {
    client.OnMessage = [this](const std::string& t, const std::string& p, bool r) {
      last[t] = p;
      retained[t] = r;
    };
    MqttOptions o;
    o.port = port;
    std::string error;
    EXPECT_TRUE(client.Start(o, error)) << error;
    client.Subscribe("zorvenix/#", 1);
  }
  bool Has(const std::string& topic, const std::string& part) const {
    auto it = last.find(topic);
    return it != last.end() && it->second.find(part) != std::string::npos;
  }
  MosquittoClient client;
  std::map<std::string, std::string> last;
  std::map<std::string, bool> retained;
};

TEST(RemoteProgram, SitesArmingReachesTheBrokerAndTheStatesSurviveABrokerRestart) {
  Broker broker;
  broker.Start();
  QueueDispatcher dispatcher;
  TempDir st, s1, s2, s3;
  const int linkPort = FreePort(), webPort = FreePort();
  std::string objects;
  for (int i = 1; i <= 3; ++i)
    objects += "[Object" + std::to_string(i) + "]\r\nName=Объект " + std::to_string(i) +
               "\r\nID=" + std::to_string(i) + "\r\nCams=1\r\nCameras=\"Двор\"\r\n";
  WriteFile(st.file("Zorvenix.ini"),
            "[Main]\r\nServerMode=1\r\nObjectsCount=3\r\nLinkPort=" + std::to_string(linkPort) +
                "\r\n[MainForm]\r\nServerCommType.ItemIndex=2\r\n" + objects +
                "[Mqtt]\r\nEnabled=1\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.Port()) +
                "\r\nStation=Пульт\r\nReconnectMinMs=100\r\nReconnectMaxMs=400\r\n"
                "[Web]\r\nEnabled=1\r\nAddress=127.0.0.1\r\nPort=" +
                std::to_string(webPort) + "\r\n" + NoPorts(st.path().string()));
  int id = 0;
  for (TempDir* s : {&s1, &s2, &s3}) {
    ++id;
    WriteFile(s->file("Zorvenix.ini"),
              "[Main]\r\nServerMode=0\r\nLinkPort=" + std::to_string(linkPort) +
                  "\r\n[MainForm]\r\nClientCommType.ItemIndex=2\r\nServerAddresses.Text=127.0.0.1"
                  "\r\nObjNum.Value=" +
                  std::to_string(id) +
                  "\r\nCamerasAmount.Value=1\r\nVideoEmulation.Checked=1\r\n"
                  "AutoStartDefence.Checked=1\r\nDefenceOnDelay.Value=0\r\n" +
                  NoPorts(s->path().string()));
  }
  Listener live(dispatcher, broker.Port());
  const pid_t station = Launch(st.path().string());
  Reaper stationReaper{station};
  ASSERT_TRUE(WaitForText(st.file("Zorvenix.log"), "Веб-доступ открыт на порту", 15s));
  const pid_t sites[] = {Launch(s1.path().string()), Launch(s2.path().string()),
                         Launch(s3.path().string())};
  Reaper r1{sites[0]}, r2{sites[1]}, r3{sites[2]};

  const std::string base = "zorvenix/Пульт/objects/";
  ASSERT_TRUE(RunUntil(
      dispatcher,
      [&] {
        for (int i = 1; i <= 3; ++i)
          if (!live.Has(base + std::to_string(i) + "/state", "\"armed\":true")) return false;
        return true;
      },
      20000))
      << ReadFile(st.file("Zorvenix.log")) << ReadFile(s1.file("Zorvenix.log"));
  EXPECT_EQ(HttpStatus(webPort, "/"), "HTTP/1.1 200 OK");
  EXPECT_EQ(HttpStatus(webPort, "/api/objects"), "HTTP/1.1 401 Unauthorized");

  // The broker forgets everything; the station publishes the states again.
  broker.Stop();
  broker.Start();
  Listener later(dispatcher, broker.Port());
  ASSERT_TRUE(RunUntil(
      dispatcher,
      [&] {
        for (int i = 1; i <= 3; ++i)
          if (!later.Has(base + std::to_string(i) + "/state", "\"armed\":true")) return false;
        return true;
      },
      10000));
  EXPECT_TRUE(later.Has("zorvenix/Пульт/status", "online"));

  for (pid_t s : sites) EXPECT_EQ(Stop(s), 0);
  EXPECT_EQ(Stop(station), 0);
  const auto texts = Texts(ReadFile(st.file("Zorvenix.log")));
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Установка на охрану объекта №2(Объект 2)"),
            texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Веб-доступ закрыт"), texts.end());
  live.client.Stop();
  later.client.Stop();
}

}  // namespace
}  // namespace zv::test

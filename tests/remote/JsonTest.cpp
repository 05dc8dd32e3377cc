// The JSON of the station's messages: escaping of the journal's texts, the
// reader that takes requests, and the message forms.
#include <gtest/gtest.h>

#include "remote/Json.h"
#include "remote/MqttBridge.h"
#include "remote/StationEvent.h"

namespace zv::remote {
namespace {

TEST(JsonTest, TextsAreEscapedAndReadBackUnchanged) {
  EXPECT_EQ(json::Quote("Сработка датчика \"Дверь\" !"), "\"Сработка датчика \\\"Дверь\\\" !\"");
  EXPECT_EQ(json::Quote("C:\\Zorvenix\r\n\t"), "\"C:\\\\Zorvenix\\r\\n\\t\"");
  EXPECT_EQ(json::Quote(std::string("a\x01"
                                    "b\x7f",
                                    4)),
            "\"a\\u0001b\\u007f\"");
  EXPECT_EQ(json::Quote(std::string("\0", 1)), "\"\\u0000\"");
  // "</script>" never appears whole in a message.
  EXPECT_EQ(json::Quote("</script>"), "\"<\\/script>\"");
  // Four-byte characters pass; bytes that start no character become U+FFFD:
  // a lone Windows-1251 "Д", a cut two-byte character, an overlong "/" and a
  // UTF-16 surrogate written as UTF-8.
  EXPECT_EQ(json::Quote("\xF0\x9F\x94\x94"), "\"\xF0\x9F\x94\x94\"");
  EXPECT_EQ(json::Quote("\xC4"
                        "x"),
            "\"\xEF\xBF\xBDx\"");
  EXPECT_EQ(json::Quote("\xD0"), "\"\xEF\xBF\xBD\"");
  EXPECT_EQ(json::Quote("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(json::Quote("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");

  const std::string text = "Объект \"Склад №1\"\\\n\tконец \x1f</b>";
  json::Writer w;
  w.BeginObject().Field("t", text).Key("a").BeginArray().Int(-5).Bool(true).Null().EndArray();
  w.Key("o").BeginObject().EndObject().EndObject();
  EXPECT_EQ(w.Text().find('\n'), std::string::npos);
  const auto v = json::Parse(w.Text());
  ASSERT_TRUE(v) << w.Text();
  EXPECT_EQ(v->Find("t")->string, text);
  ASSERT_EQ(v->Find("a")->array.size(), 3u);
  EXPECT_EQ(v->Find("a")->array[0].number, -5);
  EXPECT_TRUE(v->Find("a")->array[1].boolean);
  EXPECT_TRUE(v->Find("a")->array[2].Is(json::Value::Type::Null));
  EXPECT_TRUE(v->Find("o")->Is(json::Value::Type::Object));
}

TEST(JsonTest, ReaderTakesValidTextAndRefusesTheRest) {
  const auto v = json::Parse(" {\"a\": \"\\u0414\\ud83d\\udd14\", \"n\": 1.5e2, \"z\": -0} ");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Find("a")->string, "Д\xF0\x9F\x94\x94");
  EXPECT_EQ(v->Find("n")->number, 150);
  EXPECT_EQ(v->Find("missing"), nullptr);
  for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "{\"a\" 1}", "01", "1.", "\"\\ud800\"",
                          "\"\\x\"", "\"a\nb\"", "tru", "{} {}", "\"\xC4\"", "1e999", "[1] x"})
    EXPECT_FALSE(json::Parse(bad)) << bad;
  EXPECT_FALSE(json::Parse(std::string(100, '[') + std::string(100, ']')));
  EXPECT_TRUE(json::Parse(std::string(60, '[') + std::string(60, ']')));
}

TEST(JsonTest, MessagesCarryTheJournalTextAndTheMasks) {
  StationEvent e;
  e.kind = EventKind::CameraMotion;
  e.objectId = 12;
  e.objectName = "Дача";
  e.text = "Сработка по видеокамерам \"Ворота\",\"Двор\" на объекте №12(Дача) !";
  e.journalKind = 3;
  e.time = EncodeDateTime({2024, 3, 5, 14, 7, 9, 0});
  e.armed = true;
  e.masks = {0xE1, 0x01, 0x03};
  e.names = {"Ворота", "Двор"};
  const auto v = json::Parse(EventJson(e, "Пульт", 41));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Find("seq")->number, 41);
  EXPECT_EQ(v->Find("kind")->string, "camera_motion");
  EXPECT_EQ(v->Find("text")->string, e.text);
  EXPECT_EQ(v->Find("time")->string.substr(0, 19), "2024-03-05T14:07:09");
  EXPECT_EQ(v->Find("gauges_enabled")->number, 0xE1);
  EXPECT_EQ(v->Find("cameras_alarm")->number, 3);
  EXPECT_EQ(v->Find("names")->array[1].string, "Двор");
  EXPECT_EQ(v->Find("source"), nullptr);

  ObjectState s;
  s.objectId = 12;
  const auto st = json::Parse(StateJson(s, "Пульт"));
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->Find("last_seen")->Is(json::Value::Type::Null));  // never seen
  EXPECT_FALSE(st->Find("protected_link")->boolean);

  for (EventKind k : {EventKind::Armed, EventKind::ServiceCallOverdue, EventKind::LinkRefused})
    EXPECT_EQ(KindFromName(KindName(k)), k);
}

TEST(JsonTest, RequestsAndTopicNames) {
  bool arm = false;
  EXPECT_TRUE(ParseSetRequest(" Arm\r\n", arm));
  EXPECT_TRUE(arm);
  EXPECT_TRUE(ParseSetRequest("{\"armed\":false}", arm));
  EXPECT_FALSE(arm);
  EXPECT_TRUE(ParseSetRequest("1", arm));
  EXPECT_TRUE(arm);
  for (const char* bad : {"", "armed", "{\"armed\":1}", "{\"arm\":true}", "2", "{"})
    EXPECT_FALSE(ParseSetRequest(bad, arm)) << bad;

  EXPECT_EQ(TopicLevel("Пульт #1/+"), "Пульт _1__");
  EXPECT_EQ(TopicLevel(""), "station");
}

}  // namespace
}  // namespace zv::remote

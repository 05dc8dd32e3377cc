// The modem profile with its file-backed registry, the key store itself, and
// the modem log file.
#include <gtest/gtest.h>

#include "modem/KeyStore.h"
#include "modem/ModemLogFile.h"
#include "modem/ModemProfile.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace zv::test {
namespace {

TEST(ModemProfile, CopiesEverythingButRecRemoveSilence) {
  TModemProfile a, b;
  a.Port = 3;
  a.ModemName = "Motorola SM56";
  a.ModemInitCmd = "ATL0";
  a.RawData = true;
  a.RecRemoveSilence = true;
  a.DialMode = "T";
  a.RingbackNeverCame = 7;
  a.AssignTo(b);
  EXPECT_EQ(b.Port, 3);
  EXPECT_EQ(b.ModemName, "Motorola SM56");
  EXPECT_EQ(b.ModemInitCmd, "ATL0");
  EXPECT_TRUE(b.RawData);
  EXPECT_EQ(b.DialMode, "T");
  EXPECT_EQ(b.RingbackNeverCame, 7);
  EXPECT_FALSE(b.RecRemoveSilence);
  EXPECT_FALSE(b.IsModemInitAnswStored());
  b.ModemInitAnsw = "OK|CONNECT";
  EXPECT_TRUE(b.IsModemInitAnswStored());
}

TEST(ModemProfile, SavesAndLoadsThroughTheKeyStore) {
  TempDir dir;
  TKeyStore store(dir.path().string());
  TModemProfile a;
  a.Port = 4;
  a.PortBaudRate = 115200;
  a.ModemLogging = true;
  a.ModemInitCmd = "AT&R1\\Q3";
  a.TransmitGain = 80;
  a.RecRemoveSilence = true;
  a.SaveToRegistry(store, "HKEY_CURRENT_USER", "Software\\Zorvenix\\Modem");

  const std::string text = ReadFile(store.FileFor("HKEY_CURRENT_USER"));
  EXPECT_NE(text.find("[Software\\Zorvenix\\Modem]"), std::string::npos);
  EXPECT_NE(text.find("PortBaudRate=115200\n"), std::string::npos);
  EXPECT_NE(text.find("ModemLogging=1\n"), std::string::npos);
  EXPECT_NE(text.find("RawData=0\n"), std::string::npos);
  EXPECT_EQ(text.find("RecRemoveSilence"), std::string::npos);

  TModemProfile b;
  b.LoadFromRegistry(store, "HKEY_CURRENT_USER", "Software\\Zorvenix\\Modem");
  EXPECT_EQ(b.Port, 4);
  EXPECT_EQ(b.PortBaudRate, 115200);
  EXPECT_TRUE(b.ModemLogging);
  EXPECT_EQ(b.ModemInitCmd, "AT&R1\\Q3");
  EXPECT_EQ(b.TransmitGain, 80);
  EXPECT_FALSE(b.RecRemoveSilence);
}

TEST(ModemProfile, MissingKeysAndBadNumbersKeepTheCurrentValues) {
  TempDir dir;
  TKeyStore store(dir.path().string());
  TModemProfile p;
  p.Port = 3;
  p.LoadFromRegistry(store, "HKEY_CURRENT_USER", "Software\\None");
  EXPECT_EQ(p.Port, 3);

  WriteFile(store.FileFor("HKEY_LOCAL_MACHINE"),
            "[Modem]\nPort=x1\nPortTimeOut=\nDialTimeOut=30\nCommandEcho=1\nDialMode=T\n");
  p.LoadFromRegistry(store, "HKEY_LOCAL_MACHINE", "modem");  // key paths ignore case
  EXPECT_EQ(p.Port, 3);
  EXPECT_EQ(p.PortTimeOut, 10);
  EXPECT_EQ(p.DialTimeOut, 30);
  EXPECT_TRUE(p.CommandEcho);
  EXPECT_EQ(p.DialMode, "T");

  // Saved by an editor that marks its files: the first key is still found.
  WriteFile(store.FileFor("HKEY_LOCAL_MACHINE"), "\xEF\xBB\xBF[Modem]\r\nPort=4\r\n");
  p.LoadFromRegistry(store, "HKEY_LOCAL_MACHINE", "Modem");
  EXPECT_EQ(p.Port, 4);
}

TEST(KeyStore, KeepsOtherKeysAndRoundTripsAnyText) {
  TempDir dir;
  TKeyStore store(dir.path().string());
  ASSERT_TRUE(store.WriteKey("HKCU", "A", {{"x", "1"}}));
  ASSERT_TRUE(store.WriteKey("HKCU", "B", {{"y", "line1\r\nline2 \\n [z]"}}));
  ASSERT_TRUE(store.WriteKey("HKCU", "A", {{"z", "2"}}));
  TKeyStore::Values a, b;
  ASSERT_TRUE(store.ReadKey("HKCU", "A", a));
  ASSERT_TRUE(store.ReadKey("HKCU", "B", b));
  EXPECT_EQ(a.at("x"), "1");
  EXPECT_EQ(a.at("z"), "2");
  EXPECT_EQ(b.at("y"), "line1\r\nline2 \\n [z]");
  EXPECT_FALSE(store.WriteKey("HKCU", "Bad]\n[Key", {{"v", "1"}}));
  TKeyStore nowhere("/nonexistent/zv");
  EXPECT_FALSE(nowhere.WriteKey("HKCU", "A", {{"x", "1"}}));
}

TEST(ModemLogFile, EachOpeningAddsABlankLineTitleAndBlankLine) {
  TempDir dir;
  FakeClock clock(45000.5);
  const std::string path = dir.file("Debug.log");
  {
    TModemLogFile log(clock);
    log.SetFileName(path);
    log.Title = "Zorvenix";
    EXPECT_TRUE(log.Add("one"));
    EXPECT_TRUE(log.Close());
    EXPECT_TRUE(log.Add("two"));
  }
  EXPECT_EQ(ReadFile(path), "Zorvenix\r\n\r\none\r\n\r\nZorvenix\r\n\r\ntwo\r\n");

  TModemLogFile fresh(clock);
  fresh.SetFileName(path);
  fresh.CretateNew = true;
  fresh.OnGetTitle = [](std::string& t) { t.clear(); };
  fresh.Title = "ignored";
  EXPECT_TRUE(fresh.Add("only"));
  fresh.Close();
  EXPECT_EQ(ReadFile(path), "only\r\n");
}

TEST(ModemLogFile, DatePrefixAndFailures) {
  TempDir dir;
  FakeClock clock(EncodeDateTime({2026, 3, 7, 14, 5, 9, 0}));
  TModemLogFile log(clock);
  log.SetFileName(dir.file("Trace.log"));
  log.AddDateTime = true;
  EXPECT_TRUE(log.Add("text"));
  log.Close();
  EXPECT_EQ(ReadFile(dir.file("Trace.log")), "03-07-2026 14:05:09 - text\r\n");

  TModemLogFile bad(clock);
  bad.SetFileName(dir.file("no/such/dir/x.log"));
  EXPECT_FALSE(bad.Add("x"));
  EXPECT_FALSE(bad.Add("x"));
  EXPECT_EQ(FormatDateTimePattern("yyyy-mm-dd hh:nn:ss.zzz", clock.Now()),
            "2026-03-07 14:05:09.000");
}

}  // namespace
}  // namespace zv::test

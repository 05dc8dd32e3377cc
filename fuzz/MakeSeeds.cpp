// Writes the seed corpora of the fuzz targets, each input laid out as its
// target reads it, made with the program's own writers (messages, pictures,
// descriptors and recording pairs, settings and key files, voice and sound
// files, bitmaps) and a few by hand.
//   fuzz_make_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "app/Text.h"
#include "detect/FrameDescriptor.h"
#include "detect/PictureCodec.h"
#include "detect/RecordingFiles.h"
#include "link/Protocol.h"
#include "modem/KeyStore.h"
#include "modem/ModemProfile.h"
#include "platform/WaveFile.h"
#include "video/Bmp.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

fs::path g_root;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = g_root / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes Str(const std::vector<std::uint8_t>& v) {
  return Bytes(v.begin(), v.end());
}
Bytes Le16(unsigned v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
Bytes Le32(std::uint32_t v) {
  return Le16(v & 0xFFFF) + Le16(v >> 16);
}
Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A small scene: a gradient with a dark square.
zv::TPicture Scene(int w, int h, int shade = 0) {
  zv::TPicture p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* px = p.StoredRow(y) + 3 * x;
      const bool square = x > w / 3 && x < 2 * w / 3 && y > h / 3 && y < 2 * h / 3;
      px[0] = static_cast<std::uint8_t>(square ? 20 : 4 * x + shade);
      px[1] = static_cast<std::uint8_t>(square ? 30 : 6 * y);
      px[2] = static_cast<std::uint8_t>(square ? 40 : 200 - 3 * x);
    }
  return p;
}

Bytes PictureMessage(int obj, int cam, bool armed, const zv::TPicture& pic) {
  Bytes payload(reinterpret_cast<const char*>(pic.Data()), pic.SizeBytes());
  payload[0] = armed ? 1 : 0;  // the status block
  payload[1] = '\x1F';
  payload[2] = '\x01';
  payload[3] = '\x00';
  return Str(zv::BuildHeader(static_cast<std::int32_t>(payload.size() + 19), zv::link::mtPicture,
                             static_cast<std::uint8_t>(obj), static_cast<std::uint8_t>(cam), 0xFF,
                             0)) +
         payload;
}

void LinkSeeds() {
  const Bytes seed = Le32(0x12345678);
  const Bytes arm = Str(zv::BuildCommand(true, 0)), disarm = Str(zv::BuildCommand(false, 4));
  Put("link", "picture-and-commands",
      Bytes(1, '\0') + seed + PictureMessage(1, 1, true, Scene(8, 4)) + arm + disarm);
  Put("link", "garbage-false-marker",
      Bytes(1, '\2') + seed + "noise before ZvxCmd" + Le32(5) + "ZvxCm" + arm + "tail");
  Put("link", "two-sites-pictures",
      Bytes(1, '\4') + Le32(7) + PictureMessage(2, 1, false, Scene(6, 3)) +
          PictureMessage(1, 2, true, Scene(5, 2, 9)) + Bytes(arm, 0, 12));
  // Round trip: noise length, kind (0: command), fields, payload length.
  Bytes specs = Bytes(1, '\1') + seed;
  specs += Bytes(1, '\3') + "abc" + Bytes(1, '\1') + "\x01\x01\x02\xFF\x00" + Le16(8) + "12345678";
  specs += Bytes(1, '\0') + Bytes(1, '\4') + Bytes(1, '\x07');
  specs += Bytes(1, '\0') + Bytes(1, '\2') + "\x03\x00\x00\x00\x00" + Le16(0);
  Put("link", "round-trip", specs);
}

void ModemStreamSeeds(zv::JpegCodec& codec) {
  auto jpeg = [&](const zv::TPicture& p, bool colored) {
    const auto j = codec.EncodePicture(p, 60, colored);
    return Bytes(j.begin(), j.end());
  };
  const Bytes a = jpeg(Scene(16, 8), true), b = jpeg(Scene(8, 8, 50), false);
  const Bytes head = Bytes(1, '\0') + Le32(99);
  Put("modem_stream", "two-pictures",
      head + Le32(static_cast<std::uint32_t>(a.size())) + a +
          Le32(static_cast<std::uint32_t>(b.size())) + b);
  Put("modem_stream", "size-too-large", head + Le32(4) + "abcd" + Le32(2000000) + "xyz");
  Put("modem_stream", "negative-size", head + Le32(0xFFFFFFF0u) + "abcdef");
  Put("modem_stream", "round-trip",
      Bytes(1, '\1') + Le32(3) + Le16(5) + "12345" + Le16(0) +
          Le16(static_cast<unsigned>(a.size())) + a);
}

void ModemEngineSeeds() {
  auto lines = [](std::initializer_list<const char*> l) {
    Bytes s;
    for (const char* x : l) s += Bytes("\r\n") + x + "\r\n";
    return s;
  };
  const Bytes dle = "\x10";
  // control, number of operations - 1, operations, what the modem sends.
  Put("modem_engine", "init", Bytes("\x03\x00\x00", 3) + lines({"OK", "OK", "OK", "OK"}));
  Put("modem_engine", "init-echo",
      Bytes("\x43\x00\x00", 3) + "ATE1\r" + lines({"OK"}) + "ATQ0V1\r" + lines({"OK"}) +
          "AT&R1\\Q3\r" + lines({"OK"}) + "ATX4\r" + lines({"OK"}));
  Put("modem_engine", "commands",
      Bytes("\x05\x02\x01\x02\x0B", 5) + lines({"RING", "", "OK", "VCON", "ERROR"}) +
          "garbage\r\n");
  Put("modem_engine", "dial-busy", Bytes("\x01\x01\x03\x0D", 4) + lines({"BUSY"}) + dle + "b");
  Put("modem_engine", "wait-dtmf",
      Bytes("\x02\x01\x05\x04", 4) + dle + "5" + dle + "#" + dle + "q" + "\x11\x13" +
          lines({"CONNECT 9600"}));
  Put("modem_engine", "record",
      Bytes("\x0F\x01\x0C\x08", 4) + lines({"OK", "OK", "OK", "OK", "OK", "CONNECT"}) + "voice" +
          dle + dle + "data" + dle + "s" + dle + "\x1A" + dle + "\x03" + lines({"OK"}));
  Put("modem_engine", "play",
      Bytes("\x84\x01\x09\x0E", 4) + lines({"OK", "OK", "CONNECT"}) + dle + "d" +
          lines({"OK", "OK"}));
  Put("modem_engine", "answer-hangup",
      Bytes("\x01\x03\x0A\x0F\x0B\x07", 6) + lines({"OK", "VCON", "OK"}) + dle + "R");
}

Bytes VoiceHeader(const std::string& type, int compression, int speed, int bits) {
  Bytes h = "RMD1" + type.substr(0, 16);
  h.resize(20, '\0');
  h += Le16(static_cast<unsigned>(compression)) + Le16(static_cast<unsigned>(speed));
  h += static_cast<char>(bits);
  h.resize(32, '\0');
  return h;
}

void VoiceSeeds() {
  Bytes body;
  for (int i = 0; i < 200; ++i) body += static_cast<char>(i * 7);
  body += "\x10\x10\x03";
  Put("voice_file", "sm56-adpcm", VoiceHeader("Motorola SM56", 2, 8000, 8) + body);
  Put("voice_file", "sm56-default", VoiceHeader("Motorola SM56", 0, 0, 8) + body.substr(0, 40));
  Put("voice_file", "other-modem", VoiceHeader("US Robotics", 1, 7200, 4) + body);
  Put("voice_file", "raw-data", body);
}

Bytes Settings() {
  zv::IniFile ini;
  ini.WriteInteger("Main", "ServerMode", 1);
  ini.WriteInteger("Main", "ObjectsCount", 2);
  ini.WriteString("MainForm", "UseSwitcher.Checked", "1");
  ini.WriteFloat("MainForm", "RecFreq.Value", 100);
  ini.WriteFloat("MainForm", "ChangeLimit.Value", 0.02);
  ini.WriteString("MainForm", "NormPos", "10,20,1034,788");
  ini.WriteText("MainForm", "BeepStr.Text", "n200;d200;p200;d200");
  ini.WriteText("Object1", "Name", "Склад \"Север\"");
  ini.WriteText("Object1", "Address", "  ул. Ленина, 5  ");
  ini.WriteInteger("Object1", "ID", 1);
  ini.WriteInteger("Object1", "Cams", 2);
  ini.WriteString("Object1", "CamVisible", "10");
  ini.WriteString("Object1", "Cameras", zv::JoinQuotedList({"Ворота", "Двор, задний", "Кв\"7\""}));
  ini.WriteString("Object1", "Gauges", zv::JoinQuotedList({"Дверь", "Окно", "", "4"}));
  ini.WriteText("Object2", "Name", "Офис");
  ini.WriteString("Object2", "ID", "$1F");
  ini.WriteString("Ports", "COM3", "/dev/ttyACM0");
  return "; Zorvenix\r\n" + ini.ToText();
}

void IniSeeds() {
  const Bytes utf8 = Settings();
  Put("ini", "settings-utf8", utf8);
  Put("ini", "settings-cp1251", zv::Utf8ToCp1251(utf8));
  Put("ini", "settings-bom", "\xEF\xBB\xBF" + utf8);
  Put("ini", "hand-edited",
      "[Main]\nServerMode = true\n[Abonent1]\nName=\"\"\"quoted\"\"\"\r\n"
      "RecallTime= 1,5 \n[ Camera1 ]\nx\n=no key\n[broken\nk=v");
}

void KeyStoreSeeds() {
  const fs::path dir = fs::temp_directory_path() / "zv-seeds-keys";
  fs::remove_all(dir);
  fs::create_directories(dir);
  zv::TKeyStore store(dir.string());
  zv::TModemProfile p;
  p.Port = 3;
  p.ModemName = "Motorola SM56";
  p.ModemInitCmd = "ATL0";
  p.ModemInitAnsw = "OK\\nmore";
  p.RawData = true;
  p.SaveToRegistry(store, "HKEY_CURRENT_USER", "Software\\Zorvenix\\Modem");
  store.WriteKey("HKEY_CURRENT_USER", "Software\\Other",
                 {{"Path", "C:\\Temp"}, {"Lines", "a\r\nb"}});
  Put("keystore", "profile", ReadAll(store.FileFor("HKEY_CURRENT_USER")));
  Put("keystore", "hand-edited",
      "; modem\n[software\\zorvenix\\modem]\nport=4\nPort = 5\n"
      "PortBaudRate=fast\nDialMode=T\n[Software\\Other]\n=x\n[]\n");
  fs::remove_all(dir);
}

void PictureSeeds(zv::JpegCodec& codec) {
  const auto j = codec.EncodePicture(Scene(24, 16), 70, true);
  const auto g = codec.EncodePicture(Scene(16, 16, 80), 40, false);
  Put("picture", "jpeg-colour", Bytes(1, '\x08') + Bytes(j.begin(), j.end()));
  Put("picture", "jpeg-grey", Bytes(1, '\x00') + Bytes(g.begin(), g.end()));
  Put("picture", "jpeg-other-size", Bytes(1, '\x0D') + Bytes(j.begin(), j.end()));
  const auto z = zv::DeflatePicture(Scene(2, 3));
  Put("picture", "zlib", Bytes(1, '\x0E') + Str(z));
  zv::FrameDescriptor d;
  d.recordNumber = 7;
  d.captureTime = 46000.75;
  d.width = 352;
  d.height = 288;
  d.offset = 123456;
  d.colored = true;
  d.changeLevel = 12;
  d.length = 4000;
  d.format = zv::kFormatJpeg;
  d.camera = 3;
  d.object = 200;
  d.gaugeAlarmMask = 0x81;
  d.gaugeEnabledMask = 0xFF;
  d.defence = true;
  const auto b = zv::EncodeDescriptor(d);
  Put("picture", "descriptor", Bytes(1, '\x03') + Bytes(b.begin(), b.end()));
  Put("picture", "zlib-round-trip", Bytes(1, '\x04') + "\x05\x03" + Bytes(60, 'x'));
  Put("picture", "jpeg-round-trip", Bytes(1, '\x0B') + "\x07\x05" + Bytes(120, 'y') + "\x32");
}

void RecordingSeeds(zv::JpegCodec& codec) {
  const fs::path dir = fs::temp_directory_path() / "zv-seeds-rec";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string name = (dir / "rec.dsc").string();
  {
    zv::RecordingPair pair;
    pair.OpenOrCreate(name);
    for (int i = 0; i < 3; ++i) {
      const zv::TPicture p = Scene(16, 8, 30 * i);
      const auto j = codec.EncodePicture(p, 50, i != 1);
      zv::FrameDescriptor d;
      d.captureTime = 46000.5 + i / 86400.0;
      d.width = 16;
      d.height = 8;
      d.colored = i != 1;
      d.changeLevel = 10 * i;
      d.format = zv::kFormatJpeg;
      d.camera = static_cast<std::uint8_t>(1 + i);
      d.defence = i == 2;
      pair.Append(d, j.data(), j.size());
    }
    const zv::TPicture raw = Scene(4, 2);
    zv::FrameDescriptor d;
    d.captureTime = 46000.6;
    d.width = 4;
    d.height = 2;
    d.format = zv::kFormatRaw;
    pair.Append(d, raw.Data(), raw.SizeBytes());
    const auto z = zv::DeflatePicture(raw);
    d.format = zv::kFormatZlib;
    pair.Append(d, z.data(), z.size());
  }
  const Bytes dsc = ReadAll(dir / "rec.dsc"), bin = ReadAll(dir / "rec.bin");
  auto pairInput = [](char control, const Bytes& d, const Bytes& b) {
    return Bytes(1, control) + Le16(static_cast<unsigned>(d.size())) + d + b;
  };
  Put("recording", "pair", pairInput('\x20', dsc, bin));
  Put("recording", "pair-torn-wrap", pairInput('\x66', dsc + Bytes(20, '\x01'), bin));
  Put("recording", "pair-next-file", pairInput('\x45', dsc, bin));
  Put("recording", "empty-pair", pairInput('\x00', "", ""));
  fs::remove_all(dir);
}

Bytes Bitmap(int bits, int w, int h, bool topDown, const Bytes& palette, const Bytes& pixels) {
  Bytes b = "BM" + Le32(static_cast<std::uint32_t>(54 + palette.size() + pixels.size())) + Le32(0) +
            Le32(static_cast<std::uint32_t>(54 + palette.size()));
  b += Le32(40) + Le32(static_cast<std::uint32_t>(w)) +
       Le32(static_cast<std::uint32_t>(topDown ? -h : h)) + Le16(1) +
       Le16(static_cast<unsigned>(bits)) + Le32(0) +
       Le32(static_cast<std::uint32_t>(pixels.size()));
  b += Le32(2835) + Le32(2835) + Le32(static_cast<std::uint32_t>(palette.size() / 4)) + Le32(0);
  return b + palette + pixels;
}

void BmpSeeds() {
  Put("bmp", "rgb24", zv::EncodeBmp(Scene(5, 3)));
  const Bytes pal2 = Bytes("\0\0\0\0\xFF\xFF\xFF\0", 8);
  Put("bmp", "mono", Bitmap(1, 9, 2, false, pal2, Bytes("\xAA\x80\0\0\x55\x00\0\0", 8)));
  Bytes pal16;
  for (int i = 0; i < 16; ++i)
    pal16 += Bytes{static_cast<char>(i * 16), 0, static_cast<char>(255 - i * 16), 0};
  Put("bmp", "pal4-topdown", Bitmap(4, 3, 2, true, pal16, Bytes("\x01\x23\0\0\x45\x6F\0\0", 8)));
  Put("bmp", "pal8", Bitmap(8, 2, 2, false, pal16, Bytes("\x00\x0F\0\0\x07\x03\0\0", 8)));
  Put("bmp", "rgb555", Bitmap(16, 2, 1, false, "", Bytes("\x1F\x00\xE0\x7F", 4)));
  Put("bmp", "rgb32", Bitmap(32, 1, 2, false, "", Bytes("\x10\x20\x30\x00\x40\x50\x60\x00", 8)));
}

void WaveSeeds() {
  const fs::path dir = fs::temp_directory_path() / "zv-seeds-wave";
  fs::create_directories(dir);
  const std::string path = (dir / "w.wav").string();
  zv::WaveInfo fmt;
  fmt.format = 1;
  fmt.channels = 1;
  fmt.sampleRate = 8000;
  fmt.bitsPerSample = 16;
  Bytes samples;
  for (int i = 0; i < 64; ++i) samples += static_cast<char>(i * 5);
  std::string why;
  zv::WriteWave(path, fmt, samples, why);
  const Bytes w = ReadAll(path);
  Put("wave", "pcm-mono", w);
  // A LIST chunk before the samples, and a recording cut short.
  Bytes listed = w.substr(0, 36) + "LIST" + Le32(5) + "abcde" + Bytes(1, '\0') + w.substr(36);
  Put("wave", "list-chunk", listed);
  Put("wave", "cut-short", w.substr(0, w.size() - 20));
  fmt.channels = 2;
  fmt.sampleRate = 44100;
  zv::WriteWave(path, fmt, samples, why);
  Put("wave", "pcm-stereo", ReadAll(path));
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  zv::JpegCodec codec;
  LinkSeeds();
  ModemStreamSeeds(codec);
  ModemEngineSeeds();
  VoiceSeeds();
  IniSeeds();
  KeyStoreSeeds();
  PictureSeeds(codec);
  RecordingSeeds(codec);
  BmpSeeds();
  WaveSeeds();
  return 0;
}

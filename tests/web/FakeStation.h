#pragma once
// A station as the web view sees it: three Objects with cameras whose
// pictures the tests paint, a journal, and the arm requests it got.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Browser.h"
#include "ui/web/StationView.h"

namespace zv::test {

class FakeStation final : public web::IStationView {
 public:
  FakeStation() {
    Add(3, "Склад \"Север\"", 2);
    Add(5, "Дача", 1);
    Add(7, "Офис соседа", 1);
    journal.push_back({"    1  05.03.24 14:07:09  Старт программы...", 0, 0});
    journal.push_back(
        {"    2  05.03.24 14:07:10  Установка на охрану объекта №3(Склад \"Север\")", 2, 3});
    journal.push_back(
        {"    3  05.03.24 14:07:11  Установка на охрану объекта №7(Офис соседа)", 2, 7});
    for (auto& [id, o] : objects)
      for (auto& c : o.cameras) Paint(id, c.index, 40, 40, 200);  // red
  }

  void Add(int id, const std::string& name, int cams) {
    remote::ObjectState& o = objects[id];
    o.objectId = id;
    o.name = name;
    o.armed = id != 5;
    o.masks.gaugesEnabled = 0xFF;
    o.connected = true;
    for (int k = 1; k <= cams; ++k) o.cameras.push_back({k, "Камера " + std::to_string(k)});
  }
  // Fills a camera's picture with one colour (BGR) and counts a new picture.
  void Paint(int id, int cam, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    TPicture& p = pictures[{id, cam}];
    p.SetSize(64, 48);
    for (int y = 0; y < p.Height(); ++y)
      for (int x = 0; x < p.Width(); ++x) {
        std::uint8_t* px = p.StoredRow(y) + x * 3;
        px[0] = b;
        px[1] = g;
        px[2] = r;
      }
    ++serials[{id, cam}];
  }

  std::vector<remote::ObjectState> Objects() const override {
    std::vector<remote::ObjectState> out;
    for (const auto& [id, o] : objects) out.push_back(o);
    return out;
  }
  std::uint64_t PictureSerial(int id, int cam) const override {
    auto it = serials.find({id, cam});
    return it == serials.end() ? 0 : it->second;
  }
  bool LatestPicture(int id, int cam, std::vector<std::uint8_t>&, TPicture& p) const override {
    auto it = pictures.find({id, cam});
    if (it == pictures.end()) return false;
    p = it->second;
    return true;
  }
  std::vector<web::JournalEntry> RecentJournal(std::size_t max) const override {
    const std::size_t from = journal.size() > max ? journal.size() - max : 0;
    return {journal.begin() + static_cast<std::ptrdiff_t>(from), journal.end()};
  }
  bool RequestArm(int id, bool arm, const std::string& user) override {
    requests.push_back({id, arm, user});
    auto it = objects.find(id);
    if (it == objects.end()) return false;
    it->second.armed = arm;
    return true;
  }

  struct Request {
    int id;
    bool arm;
    std::string user;
  };
  std::map<int, remote::ObjectState> objects;
  std::map<std::pair<int, int>, TPicture> pictures;
  std::map<std::pair<int, int>, std::uint64_t> serials;
  std::vector<web::JournalEntry> journal;
  std::vector<Request> requests;
};

}  // namespace zv::test

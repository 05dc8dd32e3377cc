// The lists' rules on the foundation alone: IDs, camera numbers, new
// entries and deletion, without the editing page or the application.
#include <gtest/gtest.h>

#include "directory/DirectoryRules.h"
#include "support/Foundation.h"

namespace zv::test {
namespace {

class RulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.cameras.SetFactory([](int k) { return std::make_unique<TCameraInfo>(k); });
    Settings& s = f.settings;
    s.ObjectsCount = 3;
    const char* names[] = {"", "Склад", "Офис", "Дача"};
    const int ids[] = {0, 1, 5, 2};
    for (int n = 1; n <= 3; ++n) {
      TObjectRecord& o = s.Objects[static_cast<std::size_t>(n)];
      o.Name = names[n];
      o.ID = ids[n];
      // Objects 1 and 3 have a camera each: numbers 1 and 2.
      if (n != 2) {
        o.Cams = 1;
        o.Cameras[1] = &f.cameras.CreateNext();
      }
    }
  }
  Foundation f;
};

TEST_F(RulesTest, AnObjectsIdIsOneToTwoFiftyFiveAndItsOwn) {
  const Settings& s = f.settings;
  EXPECT_EQ(ObjectIdRefusal(s, 2, 1), "ID 1 уже есть у объекта \"Склад\" !");
  EXPECT_EQ(ObjectIdRefusal(s, 2, 0), "ID объекта должен быть от 1 до 255 !");
  EXPECT_EQ(ObjectIdRefusal(s, 2, 256), "ID объекта должен быть от 1 до 255 !");
  EXPECT_EQ(ObjectIdRefusal(s, 2, 5), "");  // its own
  EXPECT_EQ(ObjectIdRefusal(s, 2, 255), "");
  // A new Object takes its record number when free, else the smallest free ID.
  EXPECT_EQ(FreeObjectId(s, 4), 4);
  EXPECT_EQ(FreeObjectId(s, 5), 3);
}

// A new camera of Object 2 goes after Objects 1 and 2's cameras, so that
// camera numbers keep the Objects' order through a save and a load.
TEST_F(RulesTest, ANewCameraGoesAfterThoseOfTheObjectsBeforeIt) {
  EXPECT_EQ(NextCameraNumber(f.settings, 1), 2);
  EXPECT_EQ(NextCameraNumber(f.settings, 2), 2);
  EXPECT_EQ(NextCameraNumber(f.settings, 3), 3);
}

// Deleting closes the gap; the last slot is emptied, so that no record
// refers to a camera twice.  A new entry takes the template's values and
// nothing of the entry that stood there before.
TEST_F(RulesTest, DeletionClosesTheGapAndNewEntriesStartFromTheTemplate) {
  Settings& s = f.settings;
  TCameraInfo* dacha = s.Objects[3].Cameras[1];
  RemoveObjectRecord(s, 1, s.ObjectsCount);
  EXPECT_EQ(s.Objects[1].Name, "Офис");
  EXPECT_EQ(s.Objects[2].Name, "Дача");
  EXPECT_EQ(s.Objects[2].Cameras[1], dacha);
  EXPECT_EQ(s.Objects[3].Cameras[1], nullptr);
  EXPECT_EQ(s.Objects[3].Name, "");

  s.Objects[0].TestCallPeriod = 45;
  s.Objects[0].RecallDelay = 50;
  s.Objects[3].ArmedNow = true;
  NewObjectRecord(s, 3, "Новый объект");
  const TObjectRecord& o = s.Objects[3];
  EXPECT_EQ(o.TestCallPeriod, 45);
  EXPECT_EQ(o.RecallDelay, 50);
  EXPECT_FALSE(o.ArmedNow);
  EXPECT_EQ(o.Gauges[8], "Датчик8");
  EXPECT_EQ(o.ID, 3);

  s.AbonentsCount = 2;
  s.Abonents[1].Name = "Хозяин";
  s.Abonents[2].Name = "Сосед";
  s.Abonents[2].Attempts = 3;
  RemoveAbonentRecord(s, 1, 2);
  EXPECT_EQ(s.Abonents[1].Name, "Сосед");
  EXPECT_EQ(s.Abonents[2].Name, "");
  AbonentRecordToTemplate(s, 1);
  EXPECT_EQ(s.Abonents[0].Name, "Сосед");
}

}  // namespace
}  // namespace zv::test

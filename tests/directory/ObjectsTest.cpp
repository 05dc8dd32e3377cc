// The station's directory of Objects: showing, storing, the camera count,
// IDs, adding, deleting with the Object's cameras, the limits.
#include <map>

#include "DirectoryFixture.h"
#include "link/Link.h"

namespace zv::test {
namespace {

// Objects with the given camera counts (IDs = record numbers), every camera
// listed, each camera's section with its own FramesPerMinute (100 + number).
std::string Station(const std::vector<int>& cams, const std::string& extra = {}) {
  static const char* kNames[] = {"Альфа", "Бета", "Гамма", "Дельта", "Эпсилон"};
  std::string s = "[Main]\nServerMode=1\nObjectsCount=" + std::to_string(cams.size()) + "\n";
  s += "[MainForm]\nAllCams.Checked=1\n";
  s += "[Object0]\nWaitAnswerTimeout=44\nRecallTime=4\nRecallDelay=40\nTestCallPeriod=14\n";
  int k = 0;
  for (std::size_t n = 0; n < cams.size(); ++n) {
    const std::string name = n < 5 ? kNames[n] : "Объект" + std::to_string(n + 1);
    s += "[Object" + std::to_string(n + 1) + "]\nName=" + name + "\nID=" + std::to_string(n + 1) +
         "\nCams=" + std::to_string(cams[n]) + "\nWaitAnswerTimeout=" + std::to_string(10 + n) +
         "\nRecallTime=" + std::to_string(n + 1) + "\nRecallDelay=" + std::to_string(20 + n) +
         "\nTestCallPeriod=" + std::to_string(30 + n) + "\nCameras=";
    std::string vis;
    for (int i = 1; i <= cams[n]; ++i) {
      s += std::string(i > 1 ? "," : "") + "\"" + name.substr(0, 4) + std::to_string(i) + "\"";
      vis += "1";
    }
    s += "\nCamVisible=" + vis + "\n";
    for (int i = 1; i <= cams[n]; ++i) {
      ++k;
      s += "[Camera" + std::to_string(k) + "]\nFramesPerMinute=" + std::to_string(100 + k) + "\n";
    }
  }
  return s + extra;
}

class ObjectsTest : public DirectoryFixture {
 protected:
  void Select(int p) { form().ObjectListBox.UserSelect(p); }
  std::vector<std::string> CameraNames() {
    std::vector<std::string> out;
    for (int k = 1; k <= app->cameras.CameraCount(); ++k) out.push_back(cam(k)->Description);
    return out;
  }
  std::vector<double> CameraRates() {
    std::vector<double> out;
    for (int k = 1; k <= app->cameras.CameraCount(); ++k) out.push_back(cam(k)->FramesPerMinute);
    return out;
  }
};

TEST_F(ObjectsTest, TheSelectedObjectIsShownAndEditsAreStored) {
  Start(Station({1, 1}));
  TFormModel& f = form();
  EXPECT_EQ(f.ObjectName.Text(), "Альфа");
  EXPECT_FALSE(f.ObjectIPAddress.Enabled());
  Select(1);
  EXPECT_EQ(f.ObjectName.Text(), "Бета");
  EXPECT_EQ(f.ObjID.Value(), 2);
  EXPECT_EQ(f.ServerAnswerWaitTime.Value(), 11);
  EXPECT_EQ(f.ServerTestCallPeriod.Value(), 31);
  EXPECT_EQ(f.ObjCamerasAmount.Value(), 1);
  EXPECT_EQ(object(1).Name, "Альфа");  // showing wrote nothing back

  form().ObjectListBox.SetChecked(1, true);
  form().ObjViewListBox.SetChecked(1, true);
  f.ObjectName.SetText("Бета-2");
  f.ObjectAddress.SetText("ул. Лесная, 5");
  f.ObjectOwnerTelephones.SetText("8-900, 8-901");
  f.ServerRecallPeriod.SetValue(60);
  f.ServerTesting.SetItemIndex(1);
  const TObjectRecord& o = object(2);
  EXPECT_EQ(o.Name, "Бета-2");
  EXPECT_EQ(o.Address, "ул. Лесная, 5");
  EXPECT_EQ(o.AddPhoneNumber, "8-900, 8-901");
  EXPECT_EQ(o.RecallDelay, 60);
  EXPECT_TRUE(o.CallToObjMode);
  EXPECT_EQ(f.ObjectListBox.Text(1), "Бета-2");
  EXPECT_EQ(f.ObjViewListBox.Text(1), "Бета-2");
  EXPECT_TRUE(f.ObjectListBox.Checked(1));
  EXPECT_TRUE(f.ObjViewListBox.Checked(1));
  EXPECT_EQ(cam(2)->ObjName, "Бета-2");
  EXPECT_EQ(cam(1)->ObjName, "Альфа");
}

TEST_F(ObjectsTest, CameraCountCreatesAndRemovesTheObjectsCameras) {
  Start(Station({0, 1}));
  TFormModel& f = form();
  ASSERT_EQ(app->cameras.CameraCount(), 1);
  f.ObjCamerasAmount.SetValue(2);  // Альфа, before Бета's camera
  ASSERT_EQ(app->cameras.CameraCount(), 3);
  ASSERT_EQ(object(1).Cams, 2);
  for (int i = 1; i <= 2; ++i) {
    TCameraInfo* c = object(1).Cameras[static_cast<std::size_t>(i)];
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Description, Directory::kNewCamera);
    EXPECT_FALSE(c->Visible());
    EXPECT_EQ(c->CamIndex, i);
    EXPECT_EQ(c->ObjID, 1);
    EXPECT_EQ(c->Hint, std::string(Directory::kNewCamera) + "\r\nАльфа");
    const int item = f.CamViewListBox.IndexOfObject(c);
    ASSERT_GE(item, 0);
    EXPECT_FALSE(f.CamViewListBox.Checked(item));
  }
  EXPECT_EQ(Texts(f.CamViewListBox),
            (std::vector<std::string>{"Бе1", Directory::kNewCamera, Directory::kNewCamera}));
  // Camera numbers follow the Objects: Бета's camera moved up to 3 and
  // kept its own settings; the new ones started from the defaults.
  EXPECT_EQ(object(1).FirstCamera, 1);
  EXPECT_EQ(object(2).FirstCamera, 3);
  EXPECT_EQ(cam(3)->Description, "Бе1");
  EXPECT_EQ(CameraRates(), (std::vector<double>{160.0, 160.0, 101.0}));
  ExpectCameraReferencesValid();

  f.ObjCamerasAmount.SetValue(1);
  EXPECT_EQ(object(1).Cams, 1);
  EXPECT_EQ(object(1).Cameras[2], nullptr);
  EXPECT_EQ(app->cameras.CameraCount(), 2);
  EXPECT_EQ(Texts(f.CamViewListBox), (std::vector<std::string>{"Бе1", Directory::kNewCamera}));
  ExpectCameraReferencesValid();

  cam(1)->FramesPerMinute = 77.0;
  Restart();
  EXPECT_EQ(object(1).Cams, 1);
  EXPECT_EQ(object(2).Cams, 1);
  EXPECT_EQ(CameraNames(), (std::vector<std::string>{Directory::kNewCamera, "Бе1"}));
  EXPECT_EQ(CameraRates(), (std::vector<double>{77.0, 101.0}));
  EXPECT_FALSE(cam(1)->Visible());
  EXPECT_TRUE(cam(2)->Visible());
  ExpectCameraReferencesValid();
}

TEST_F(ObjectsTest, DeletingTheMiddleObjectLeavesNoReferenceToItsCameras) {
  Start(Station({2, 1, 2}));
  TFormModel& f = form();
  int viewerClicks = 0;
  f.ObjViewListBox.OnClick = [&] { ++viewerClicks; };
  std::vector<int> deleted;
  directory().ObjectDeleted.Connect([&](int n) { deleted.push_back(n); });
  ASSERT_EQ(app->cameras.CameraCount(), 5);
  ASSERT_EQ(f.CamViewListBox.Count(), 5);
  f.ObjectListBox.SetChecked(2, true);
  object(3).Checked = true;
  f.CamViewListBox.SetItemIndex(3);  // Гамма's first camera

  Select(1);
  f.DelObject.Click();
  EXPECT_EQ(Texts(f.ObjectListBox), (std::vector<std::string>{"Альфа", "Гамма"}));
  EXPECT_EQ(Texts(f.ObjViewListBox), (std::vector<std::string>{"Альфа", "Гамма"}));
  EXPECT_EQ(settings().ObjectsCount, 2);
  EXPECT_EQ(f.ObjectListBox.ItemIndex(), 0);
  EXPECT_EQ(f.ObjectName.Text(), "Альфа");
  EXPECT_EQ(f.ObjViewListBox.ItemIndex(), 0);
  EXPECT_EQ(viewerClicks, 1);
  EXPECT_EQ(deleted, std::vector<int>{2});
  // Гамма at position 1 with its tick, its record and its cameras.
  EXPECT_TRUE(f.ObjectListBox.Checked(1));
  EXPECT_EQ(object(2).Name, "Гамма");
  EXPECT_TRUE(object(2).Checked);
  EXPECT_EQ(object(2).ID, 3);
  EXPECT_EQ(object(2).FirstCamera, 3);
  EXPECT_EQ(object(3).Cams, 0);
  EXPECT_EQ(FindObjectById(settings(), 3), 2);
  EXPECT_EQ(FindObjectById(settings(), 2), 0);
  EXPECT_EQ(CameraNames(), (std::vector<std::string>{"Ал1", "Ал2", "Га1", "Га2"}));
  EXPECT_EQ(Texts(f.CamViewListBox), CameraNames());
  EXPECT_EQ(f.CamViewListBox.ItemIndex(), 2);  // still Гамма's first camera
  ExpectCameraReferencesValid();

  // The remaining cameras keep working: redraw, rename, re-tile.
  for (int k = 1; k <= 4; ++k) cam(k)->Repaint();
  app->video->SetViewPanelSize(700, 400);
  f.ObjCamerasAmount.SetValue(1);  // Альфа loses its second camera
  EXPECT_EQ(CameraNames(), (std::vector<std::string>{"Ал1", "Га1", "Га2"}));
  ExpectCameraReferencesValid();

  // Save, restart: the same Objects, cameras and sections.
  Restart();
  EXPECT_EQ(settings().ObjectsCount, 2);
  EXPECT_EQ(Texts(form().ObjectListBox), (std::vector<std::string>{"Альфа", "Гамма"}));
  EXPECT_EQ(CameraNames(), (std::vector<std::string>{"Ал1", "Га1", "Га2"}));
  EXPECT_EQ(CameraRates(), (std::vector<double>{101.0, 104.0, 105.0}));
  EXPECT_EQ(cam(2)->ObjID, 3);
  EXPECT_EQ(object(2).FirstCamera, 2);
  ExpectCameraReferencesValid();
}

TEST_F(ObjectsTest, AfterDeletingASiteTheOthersPicturesLandInTheirOwnCameras) {
  Start(Station({2, 1, 2}));
  form().ObjectListBox.UserSelect(1);
  form().DelObject.Click();
  Restart();
  ASSERT_EQ(CameraNames(), (std::vector<std::string>{"Ал1", "Ал2", "Га1", "Га2"}));

  // A picture message from site `id`, its camera `c`, armed, every byte `fill`
  // after the status block.
  std::map<int, LinkPeer> peers;  // every site on its own connection
  auto send = [this, &peers](int id, int c, std::uint8_t fill) {
    std::vector<std::uint8_t> p(cam(1)->CurrentPicture.SizeBytes(), fill);
    p[0] = 1;
    p[1] = p[2] = p[3] = 0;
    LinkMessage m;
    m.Length = static_cast<std::int32_t>(p.size() + 19);
    m.Type = link::mtPicture;
    m.Arg1 = static_cast<std::uint8_t>(id);
    m.Arg2 = static_cast<std::uint8_t>(c);
    m.Arg3 = 0xFF;
    m.Payload = p.data();
    m.PayloadSize = p.size();
    app->link->station.HandleLinkMessage(m, peers[id]);
  };
  auto filled = [this](int k) { return cam(k)->CurrentPicture.Bytes().at(100); };
  send(3, 1, 0x33);  // Гамма, now record 2
  send(1, 2, 0x11);  // Альфа
  EXPECT_EQ(filled(3), 0x33);
  EXPECT_EQ(filled(2), 0x11);
  EXPECT_EQ(filled(1), 0);
  EXPECT_EQ(filled(4), 0);
  // Each armed site ticks its own entry.
  EXPECT_TRUE(form().ObjectListBox.Checked(0));
  EXPECT_TRUE(form().ObjectListBox.Checked(1));
  EXPECT_TRUE(object(2).ArmedBefore);
  ExpectCameraReferencesValid();
}

TEST_F(ObjectsTest, DeletingEveryObjectEmptiesTheCameraArea) {
  Start(Station({1, 2}));
  TFormModel& f = form();
  f.DelObject.Click();
  f.DelObject.Click();
  EXPECT_EQ(f.ObjectListBox.Count(), 0);
  EXPECT_EQ(f.ObjectListBox.ItemIndex(), -1);
  EXPECT_EQ(app->cameras.CameraCount(), 0);
  EXPECT_EQ(f.CamViewListBox.Count(), 0);
  ExpectCameraReferencesValid();
  f.DelObject.Click();  // nothing selected: nothing happens
  f.SetObjDefault.Click();
  EXPECT_EQ(settings().ObjectsCount, 0);
  Restart();
  EXPECT_EQ(settings().ObjectsCount, 0);
  EXPECT_EQ(app->cameras.CameraCount(), 0);
}

TEST_F(ObjectsTest, IdsStayUniqueAndTheStationFindsObjectsById) {
  Start(Station({1, 1, 1}));
  TFormModel& f = form();
  f.ObjID.SetValue(3);  // Альфа would share Гамма's ID
  ASSERT_EQ(loop.dialogs.boxes.size(), 1u);
  EXPECT_NE(LastBox().find("Гамма"), std::string::npos) << LastBox();
  EXPECT_EQ(f.ObjID.Value(), 1);
  EXPECT_EQ(object(1).ID, 1);
  f.ObjID.SetValue(0);
  EXPECT_EQ(loop.dialogs.boxes.size(), 2u);
  EXPECT_EQ(object(1).ID, 1);

  f.ObjID.SetValue(7);
  EXPECT_EQ(loop.dialogs.boxes.size(), 2u);
  EXPECT_EQ(object(1).ID, 7);
  EXPECT_EQ(cam(1)->ObjID, 7);
  EXPECT_EQ(FindObjectById(settings(), 7), 1);
  EXPECT_EQ(FindObjectById(settings(), 1), 0);

  // A new Object after a delete takes a free ID, not a taken one.
  Select(1);
  f.DelObject.Click();  // Бета (ID 2)
  f.AddObject.Click();  // record 3: ID 3 is Гамма's, 1 is free
  EXPECT_EQ(object(3).ID, 1);
  f.AddObject.Click();  // record 4: ID 4 is free
  EXPECT_EQ(object(4).ID, 4);
  EXPECT_EQ(FindObjectById(settings(), 3), 2);
}

TEST_F(ObjectsTest, AddingCopiesTheTemplateAndTheDefaultMakesTheTemplate) {
  Start(Station({1, 1}));
  TFormModel& f = form();
  int nameFocus = 0;
  f.ObjectName.FocusRequested.Connect([&] { ++nameFocus; });
  f.AddObject.Click();
  ASSERT_EQ(settings().ObjectsCount, 3);
  EXPECT_EQ(Texts(f.ObjectListBox).back(), Directory::kNewObject);
  EXPECT_EQ(Texts(f.ObjViewListBox).back(), Directory::kNewObject);
  EXPECT_FALSE(f.ObjectListBox.Checked(2));
  EXPECT_EQ(f.ObjectListBox.ItemIndex(), 2);
  const TObjectRecord& o = object(3);
  EXPECT_EQ(o.Name, Directory::kNewObject);
  EXPECT_EQ(o.Address, "");
  EXPECT_EQ(o.ID, 3);
  EXPECT_EQ(o.WaitAnswerTimeout, 44);
  EXPECT_EQ(o.RecallTime, 4);
  EXPECT_EQ(o.RecallDelay, 40);
  EXPECT_EQ(o.TestCallPeriod, 14);
  EXPECT_EQ(o.Cams, 0);
  EXPECT_EQ(f.ObjectName.Text(), Directory::kNewObject);
  EXPECT_EQ(f.ObjCamerasAmount.Value(), 0);
  EXPECT_EQ(nameFocus, 1);

  Select(1);
  f.SetObjDefault.Click();
  f.AddObject.Click();
  EXPECT_EQ(object(4).WaitAnswerTimeout, 11);
  EXPECT_EQ(object(4).RecallTime, 2);
  EXPECT_EQ(object(4).RecallDelay, 21);
  EXPECT_EQ(object(4).TestCallPeriod, 31);
  EXPECT_EQ(object(4).Name, Directory::kNewObject);
}

TEST_F(ObjectsTest, LimitsAreRefusedWithTheirMessageAndNothingHalfCreated) {
  Start(Station({8, 8, 3}));
  TFormModel& f = form();
  Select(2);
  f.ObjCamerasAmount.SetValue(5);  // two more, one slot left
  ASSERT_EQ(loop.dialogs.boxes.size(), 1u);
  EXPECT_NE(LastBox().find("20"), std::string::npos) << LastBox();
  EXPECT_EQ(f.ObjCamerasAmount.Value(), 3);
  EXPECT_EQ(object(3).Cams, 3);
  EXPECT_EQ(app->cameras.CameraCount(), 19);
  EXPECT_EQ(f.CamViewListBox.Count(), 19);
  f.ObjCamerasAmount.SetValue(4);
  EXPECT_EQ(app->cameras.CameraCount(), 20);
  ExpectCameraReferencesValid();

  for (int i = 0; i < 97; ++i) f.AddObject.Click();
  ASSERT_EQ(settings().ObjectsCount, 100);
  EXPECT_EQ(loop.dialogs.boxes.size(), 1u);
  f.AddObject.Click();
  ASSERT_EQ(loop.dialogs.boxes.size(), 2u);
  EXPECT_NE(LastBox().find("100 объектов"), std::string::npos) << LastBox();
  EXPECT_EQ(settings().ObjectsCount, 100);
  EXPECT_EQ(f.ObjViewListBox.Count(), 100);
  // Every Object got its own ID.
  for (int i = 1; i <= 100; ++i) EXPECT_EQ(FindObjectById(settings(), object(i).ID), i);
}

TEST_F(ObjectsTest, ACameraThatCannotBeCreatedIsReportedAndTheOthersAreStillMade) {
  Start(Station({1}));
  int calls = 0;
  app->cameras.SetFactory([&](int k) -> std::unique_ptr<TCameraInfo> {
    if (++calls == 1) throw std::runtime_error("нет памяти для видеокамеры");
    return std::make_unique<TCameraInfo>(k);
  });
  form().ObjCamerasAmount.SetValue(3);  // two more: the first fails
  EXPECT_EQ(object(1).Cams, 2);
  EXPECT_EQ(form().ObjCamerasAmount.Value(), 2);
  EXPECT_EQ(app->cameras.CameraCount(), 2);
  EXPECT_NE(ReadFile(app->journal.LogPath()).find("нет памяти для видеокамеры"), std::string::npos);
  ExpectCameraReferencesValid();
}

}  // namespace
}  // namespace zv::test

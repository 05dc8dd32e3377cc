// The site's call list: showing, storing, adding, deleting, the template.
#include "DirectoryFixture.h"
#include "link/Link.h"

namespace zv::test {
namespace {

const char* kThreeAbonents =
    "[Main]\nAbonentsCount=3\n"
    "[Abonent0]\nName=Шаблон\nWaitAnswerTimeout=40\nRecallTime=7\nRecallDelay=70\n"
    "ConnectToServerMode=0\nVoiceFile=Тревога.rmd\n"
    "[Abonent1]\nName=Иванов\nPhoneNumber=111\nWaitAnswerTimeout=11\nRecallTime=1\n"
    "RecallDelay=10\nConnectToServerMode=1\n"
    "[Abonent2]\nName=Петров\nPhoneNumber=222\nWaitAnswerTimeout=22\nRecallTime=2\n"
    "RecallDelay=20\nConnectToServerMode=0\nVoiceFile=Петров.rmd\n"
    "[Abonent3]\nName=Сидоров\nPhoneNumber=333\nWaitAnswerTimeout=33\nRecallTime=3\n"
    "RecallDelay=30\nConnectToServerMode=1\n"
    "[MainForm]\nConnectType.ItemIndex=0\n";

class AbonentsTest : public DirectoryFixture {
 protected:
  void SetUp() override {
    Start(kThreeAbonents);
    form().AbonName.FocusRequested.Connect([this] { ++nameFocus; });
  }
  void Select(int p) { form().AbonentListBox.UserSelect(p); }
  int nameFocus = 0;
};

TEST_F(AbonentsTest, TheSelectedEntryIsShownAndLoadingDoesNotWriteBack) {
  TFormModel& f = form();
  // The stored ConnectType (item 0) was restored before the list was
  // loaded; it must not have reached the first record.
  EXPECT_TRUE(abonent(1).ConnectToServerMode);
  ASSERT_EQ(f.AbonentListBox.ItemIndex(), 0);
  EXPECT_EQ(f.AbonName.Text(), "Иванов");
  EXPECT_EQ(f.ConnectType.ItemIndex(), 1);

  Select(1);
  EXPECT_EQ(f.AbonName.Text(), "Петров");
  EXPECT_EQ(f.AbonNumber.Text(), "222");
  EXPECT_EQ(f.ClientAnswerWaitTime.Value(), 22);
  EXPECT_EQ(f.ClientRecallTime.Value(), 2);
  EXPECT_EQ(f.ClientRecallPeriod.Value(), 20);
  EXPECT_EQ(f.ConnectType.ItemIndex(), 0);
  // Showing Петров changed no other record.
  EXPECT_EQ(abonent(1).Name, "Иванов");
  EXPECT_EQ(abonent(1).WaitAnswerTimeout, 11);
  EXPECT_TRUE(abonent(1).ConnectToServerMode);

  // No selection: the template is shown.
  f.AbonentListBox.UserSelect(-1);
  EXPECT_EQ(f.AbonNumber.Text(), "");
  EXPECT_EQ(f.ClientAnswerWaitTime.Value(), 40);
  f.AbonNumber.SetText("999");  // nothing selected: nothing stored
  EXPECT_EQ(abonent(0).PhoneNumber, "");
}

TEST_F(AbonentsTest, TypingRenamesTheEntryAndKeepsTheFocusInTheName) {
  TFormModel& f = form();
  Select(2);
  nameFocus = 0;
  f.AbonName.SetText("С");
  f.AbonName.SetText("См");
  EXPECT_EQ(f.AbonentListBox.Text(2), "См");
  EXPECT_EQ(abonent(3).Name, "См");
  EXPECT_EQ(nameFocus, 2);

  // Other fields store without renaming or moving the focus; the voice
  // file is the alarm dispatch's edit.
  TFileNameEdit& wave = app->link->WaveFile;
  EXPECT_EQ(wave.FileName(), "");
  wave.SetFileName("Сидоров.rmd");
  EXPECT_EQ(abonent(3).VoiceFile, "Сидоров.rmd");
  Select(1);
  EXPECT_EQ(wave.FileName(), "Петров.rmd");
  Select(2);
  f.AbonNumber.SetText("8-800");
  f.ClientRecallPeriod.SetValue(90);
  f.ConnectType.SetItemIndex(0);
  EXPECT_EQ(abonent(3).PhoneNumber, "8-800");
  EXPECT_EQ(abonent(3).RecallDelay, 90);
  EXPECT_FALSE(abonent(3).ConnectToServerMode);
  EXPECT_EQ(nameFocus, 2);
  EXPECT_EQ(abonent(2).PhoneNumber, "222");
}

TEST_F(AbonentsTest, AddingCopiesTheTemplateAndTheDefaultMakesTheTemplate) {
  TFormModel& f = form();
  nameFocus = 0;
  f.AddAbonent.Click();
  ASSERT_EQ(settings().AbonentsCount, 4);
  EXPECT_EQ(f.AbonentListBox.Count(), 4);
  EXPECT_EQ(f.AbonentListBox.ItemIndex(), 3);
  EXPECT_EQ(f.AbonentListBox.Text(3), Directory::kNewAbonent);
  const TAbonentRecord& a = abonent(4);
  EXPECT_EQ(a.Name, Directory::kNewAbonent);
  EXPECT_EQ(a.PhoneNumber, "");
  EXPECT_EQ(a.WaitAnswerTimeout, 40);
  EXPECT_EQ(a.RecallTime, 7);
  EXPECT_EQ(a.RecallDelay, 70);
  EXPECT_FALSE(a.ConnectToServerMode);
  EXPECT_EQ(a.VoiceFile, "Тревога.rmd");
  EXPECT_EQ(f.AbonName.Text(), Directory::kNewAbonent);
  EXPECT_EQ(f.ClientAnswerWaitTime.Value(), 40);
  EXPECT_EQ(nameFocus, 1);

  // "Принять по умолчанию" on the second entry: the next one takes its times.
  Select(1);
  f.SetAbonDefault.Click();
  EXPECT_NE(Ini().find("[MainForm]"), std::string::npos);
  f.AddAbonent.Click();
  const TAbonentRecord& b = abonent(5);
  EXPECT_EQ(b.Name, Directory::kNewAbonent);
  EXPECT_EQ(b.PhoneNumber, "");
  EXPECT_EQ(b.WaitAnswerTimeout, 22);
  EXPECT_EQ(b.RecallTime, 2);
  EXPECT_EQ(b.RecallDelay, 20);
  EXPECT_EQ(b.VoiceFile, "Петров.rmd");

  // The template and the new entries reach the file at shutdown.
  Restart();
  EXPECT_EQ(settings().AbonentsCount, 5);
  EXPECT_EQ(abonent(0).WaitAnswerTimeout, 22);
  EXPECT_EQ(Texts(form().AbonentListBox).back(), Directory::kNewAbonent);
}

TEST_F(AbonentsTest, DeletingMovesTheFollowingEntriesUp) {
  TFormModel& f = form();
  f.DelAbonent.Click();  // the first entry is selected at load
  Select(1);
  f.DelAbonent.Click();
  EXPECT_EQ(Texts(f.AbonentListBox), std::vector<std::string>{"Петров"});
  EXPECT_EQ(settings().AbonentsCount, 1);
  EXPECT_EQ(abonent(1).Name, "Петров");
  EXPECT_EQ(abonent(1).VoiceFile, "Петров.rmd");
  EXPECT_EQ(f.AbonentListBox.ItemIndex(), 0);
  EXPECT_EQ(f.AbonName.Text(), "Петров");
  // Edits after the delete go to the record now at that position.
  f.AbonNumber.SetText("444");
  EXPECT_EQ(abonent(1).PhoneNumber, "444");

  f.DelAbonent.Click();
  EXPECT_EQ(f.AbonentListBox.Count(), 0);
  EXPECT_EQ(f.AbonentListBox.ItemIndex(), -1);
  EXPECT_EQ(settings().AbonentsCount, 0);
  f.DelAbonent.Click();  // empty list: nothing happens
  f.SetAbonDefault.Click();
  EXPECT_EQ(abonent(0).WaitAnswerTimeout, 40);

  // A new entry after deletes starts clean.
  f.AddAbonent.Click();
  EXPECT_EQ(abonent(1).PhoneNumber, "");
  EXPECT_TRUE(abonent(1).Reached);
}

TEST_F(AbonentsTest, TheTwentyFirstAbonentIsRefused) {
  TFormModel& f = form();
  for (int i = 0; i < 17; ++i) f.AddAbonent.Click();
  ASSERT_EQ(settings().AbonentsCount, 20);
  EXPECT_TRUE(loop.dialogs.boxes.empty());
  f.AddAbonent.Click();
  ASSERT_EQ(loop.dialogs.boxes.size(), 1u);
  EXPECT_NE(LastBox().find("20 абонентов"), std::string::npos) << LastBox();
  EXPECT_EQ(settings().AbonentsCount, 20);
  EXPECT_EQ(f.AbonentListBox.Count(), 20);
  EXPECT_EQ(f.AbonentListBox.ItemIndex(), 19);
}

}  // namespace
}  // namespace zv::test

// The "Дозвон" and "Объекты" pages as the user works them.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include "../directory/DirectoryFixture.h"
#include "ui/MainWindow.h"

namespace zv::test {
namespace {

class PagesTest : public DirectoryFixture {
 protected:
  void Open(const std::string& ini, TTabSheet TFormModel::*page) {
    WriteIni(ini);
    Make();
    window = std::make_unique<ui::TForm1>(*app);
    Start();
    window->show();
    window->activateWindow();
    window->PageControl()->setCurrentIndex(window->PageIndex(&(form().*page)));
    QApplication::processEvents();
  }
  void TearDown() override {
    window.reset();
    DirectoryFixture::TearDown();
  }
  template <class W>
  W* Find(const char* name) {
    return window->findChild<W*>(name);
  }
  // Types text into the focused widget, one key at a time.
  static void Type(QWidget* w, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &press);
      QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &release);
      QApplication::processEvents();
    }
  }
  std::unique_ptr<ui::TForm1> window;
};

TEST_F(PagesTest, TypingIntoTheAbonentNameRenamesTheEntryAndKeepsTheFocus) {
  Open("[Main]\nAbonentsCount=2\n[Abonent1]\nName=Иванов\n[Abonent2]\nName=Петров\n",
       &TFormModel::TabSheet4);
  auto* list = Find<QListWidget>("AbonentListBox");
  auto* name = Find<QLineEdit>("AbonName");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(name, nullptr);
  list->setCurrentRow(1);
  EXPECT_EQ(name->text(), QString("Петров"));

  name->setFocus();
  name->selectAll();
  Type(name, "Ко");
  EXPECT_EQ(list->item(1)->text(), QString("Ко"));
  EXPECT_EQ(QApplication::focusWidget(), name);
  Type(name, "злов");
  EXPECT_EQ(list->item(1)->text(), QString("Козлов"));
  EXPECT_EQ(list->item(0)->text(), QString("Иванов"));
  EXPECT_EQ(abonent(2).Name, "Козлов");
  EXPECT_EQ(QApplication::focusWidget(), name);
  EXPECT_EQ(name->text(), QString("Козлов"));

  // "Добавить" puts the new entry's name in the edit, with the focus.
  list->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), list);
  Find<QPushButton>("AddAbonent")->click();
  QApplication::processEvents();
  EXPECT_EQ(list->count(), 3);
  EXPECT_EQ(list->currentRow(), 2);
  EXPECT_EQ(name->text(), QString::fromUtf8(Directory::kNewAbonent));
  EXPECT_EQ(QApplication::focusWidget(), name);
}

TEST_F(PagesTest, TheObjectPageEditsTheSelectedObject) {
  Open(
      "[Main]\nServerMode=1\nObjectsCount=2\n[Object1]\nName=Альфа\n"
      "[Object2]\nName=Бета\nCams=1\n",
      &TFormModel::TabSheet7);
  auto* list = Find<QListWidget>("ObjectListBox");
  auto* name = Find<QLineEdit>("ObjectName");
  auto* cams = Find<QSpinBox>("ObjCamerasAmount");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(name, nullptr);
  ASSERT_NE(cams, nullptr);
  EXPECT_FALSE(Find<QLineEdit>("ObjectIPAddress")->isEnabled());
  list->setCurrentRow(1);
  EXPECT_EQ(name->text(), QString("Бета"));
  EXPECT_EQ(cams->value(), 1);
  cams->setValue(3);
  EXPECT_EQ(app->cameras.CameraCount(), 3);
  name->setFocus();
  Type(name, "!");
  EXPECT_EQ(list->item(1)->text(), QString("Бета!"));
  EXPECT_EQ(Find<QListWidget>("ObjViewListBox")->item(1)->text(), QString("Бета!"));

  // An ID is taken once typed in: "1" on the way to "12" is not refused.
  auto* id = Find<QSpinBox>("ObjID");
  id->setFocus();
  id->selectAll();
  Type(id, "12");
  EXPECT_EQ(object(2).ID, 2);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(id, &enter);
  EXPECT_EQ(object(2).ID, 12);
  EXPECT_TRUE(loop.dialogs.boxes.empty());

  Find<QPushButton>("DelObject")->click();
  QApplication::processEvents();
  EXPECT_EQ(list->count(), 1);
  EXPECT_EQ(app->cameras.CameraCount(), 0);
  EXPECT_EQ(name->text(), QString("Альфа"));
}

}  // namespace
}  // namespace zv::test

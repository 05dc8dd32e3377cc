#include "ui/CaptureDialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <vector>

#include "app/Application.h"
#include "ui/Bind.h"
#include "ui/Guard.h"

namespace zv::ui {

namespace {

QDialogButtonBox* OkCancel(QDialog& d) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  box->button(QDialogButtonBox::Cancel)->setText("Отмена");
  QObject::connect(box, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  return box;
}

}  // namespace

bool QtCaptureDialogs::FormatDialog(ICaptureDriver& driver) {
  const std::vector<CaptureSize> sizes = driver.SupportedSizes();
  CaptureFormat current;
  const bool known = driver.GetFormat(current);
  QDialog d(parent_);
  d.setWindowTitle("Формат видео");
  auto* form = new QFormLayout(&d);
  auto* combo = new QComboBox(&d);
  for (const CaptureSize& s : sizes) {
    combo->addItem(QString("%1 x %2").arg(s.width).arg(s.height));
    if (known && s.width == current.width && s.height == current.height)
      combo->setCurrentIndex(combo->count() - 1);
  }
  combo->setEnabled(!sizes.empty());
  form->addRow("Размер кадра :", combo);
  form->addRow(OkCancel(d));
  if (d.exec() != QDialog::Accepted || sizes.empty()) return false;
  const CaptureSize s = sizes[static_cast<std::size_t>(std::max(combo->currentIndex(), 0))];
  if (driver.SetFormat(
          CaptureFormat{s.width, s.height, 24, static_cast<std::uint32_t>(s.width * s.height * 3)}))
    return true;
  QMessageBox::warning(
      parent_, "Формат видео",
      QString("Устройство не приняло размер %1 x %2 !").arg(s.width).arg(s.height));
  return false;
}

void QtCaptureDialogs::SourceDialog(ICaptureDriver& driver) {
  const auto inputs = driver.Inputs();
  const auto standards = driver.Standards();
  QDialog d(parent_);
  d.setWindowTitle("Источник видео");
  auto* form = new QFormLayout(&d);
  auto* in = new QComboBox(&d);
  for (const auto& s : inputs) in->addItem(QString::fromStdString(s));
  in->setCurrentIndex(driver.CurrentInput());
  in->setEnabled(!inputs.empty());
  form->addRow("Вход :", in);
  auto* standard = new QComboBox(&d);
  for (const auto& s : standards) standard->addItem(QString::fromStdString(s));
  standard->setCurrentIndex(driver.CurrentStandard());
  standard->setEnabled(!standards.empty());
  form->addRow("Стандарт :", standard);
  form->addRow(OkCancel(d));
  if (d.exec() != QDialog::Accepted) return;
  if (!inputs.empty() && in->currentIndex() >= 0 && in->currentIndex() != driver.CurrentInput())
    driver.SetInput(in->currentIndex());
  if (!standards.empty() && standard->currentIndex() >= 0 &&
      standard->currentIndex() != driver.CurrentStandard())
    driver.SetStandard(standard->currentIndex());
}

void QtCaptureDialogs::DisplayDialog(ICaptureDriver& driver) {
  const std::vector<CaptureControl> controls = driver.Controls();
  QDialog d(parent_);
  d.setWindowTitle("Яркость/контрастность");
  auto* form = new QFormLayout(&d);
  std::vector<QSlider*> sliders;
  for (const CaptureControl& c : controls) {
    auto* s = new QSlider(Qt::Horizontal, &d);
    s->setRange(c.minimum, c.maximum);
    s->setSingleStep(c.step);
    s->setValue(c.value);
    const std::uint32_t id = c.id;
    // Changes show at once; Cancel puts the old values back.
    QObject::connect(s, &QSlider::valueChanged, &d,
                     [&driver, id](int v) { driver.SetControl(id, v); });
    form->addRow(QString::fromStdString(c.name) + " :", s);
    sliders.push_back(s);
  }
  if (controls.empty())
    form->addRow(new QLabel("Устройство не предлагает настроек изображения.", &d));
  auto* defaults = new QPushButton("По умолчанию", &d);
  defaults->setEnabled(!controls.empty());
  QObject::connect(defaults, &QPushButton::clicked, &d, [&] {
    for (std::size_t i = 0; i < controls.size(); ++i)
      sliders[i]->setValue(controls[i].defaultValue);
  });
  form->addRow(defaults);
  form->addRow(OkCancel(d));
  if (d.exec() == QDialog::Accepted) return;
  for (const CaptureControl& c : controls) driver.SetControl(c.id, c.value);
}

QWidget* BuildCaptureControls(Application& app, QWidget* parent) {
  TFormModel& f = app.form;
  auto* box = new QWidget(parent);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setVerticalSpacing(2);
  grid->addWidget(BindButton(f.VideoFormatBtn, box), 0, 0);
  grid->addWidget(BindButton(f.VideoSourceBtn, box), 1, 0);
  grid->addWidget(BindButton(f.DisplayFormatBtn, box), 2, 0);
  grid->addWidget(BindCheckBox(f.LiveVideo, QString::fromStdString(f.LiveVideo.Caption()), box), 0,
                  1, 1, 4);
  grid->addWidget(
      BindCheckBox(f.VideoEmulation, QString::fromStdString(f.VideoEmulation.Caption()), box), 1, 1,
      1, 4);
  // Chosen with the buttons only: every typed character would restart the camera.
  f.VideoEmulationFile.ReadOnly = true;
  QLineEdit* file = BindEdit(f.VideoEmulationFile, box);
  file->setMaximumWidth(120);
  file->setPlaceholderText("Из файла :");
  file->setToolTip("Запись (.dsc) или папка картинок BMP; пусто: синтетические сцены");
  grid->addWidget(file, 2, 1, 1, 2);
  auto* browse = new QPushButton("...", box);
  browse->setFixedWidth(22);
  QObject::connect(browse, &QPushButton::clicked, box, [&f, box] {
    const QString chosen = QFileDialog::getOpenFileName(
        box, "Из файла", QString::fromStdString(f.VideoEmulationFile.FileName()),
        "Записи и картинки (*.dsc *.bmp);;Записи (*.dsc);;Картинки BMP (*.bmp)");
    if (chosen.isEmpty()) return;
    // A picture stands for its whole folder, played in name order.
    const QFileInfo fi(chosen);
    const QString source = fi.suffix().toLower() == "bmp" ? fi.absolutePath() : chosen;
    Guarded([&] { f.VideoEmulationFile.SetFileName(source.toStdString()); });
  });
  grid->addWidget(browse, 2, 3);
  auto* clear = new QPushButton("x", box);
  clear->setFixedWidth(22);
  clear->setToolTip("Синтетические сцены вместо файла");
  QObject::connect(clear, &QPushButton::clicked, box,
                   [&f] { Guarded([&] { f.VideoEmulationFile.SetFileName(""); }); });
  grid->addWidget(clear, 2, 4);
  return box;
}

}  // namespace zv::ui

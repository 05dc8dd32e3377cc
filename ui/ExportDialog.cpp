#include "ui/ExportDialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/Journal.h"

namespace zv::ui {

namespace {

constexpr qint64 kMsPerDay = 86400000;
const QDate kEpoch(1899, 12, 30);

QString DefaultOutput(const ViewerPanel::ExportChoice& c, bool h264) {
  const QFileInfo pair(QString::fromStdString(c.pair));
  const QString cam = c.camera == kAllCameras ? "all" : QString::number(c.camera);
  return pair.absolutePath() + "/" + pair.completeBaseName() + "-" + cam + (h264 ? ".mp4" : ".mkv");
}

}  // namespace

QDateTime ToQDateTime(TDateTime t) {
  const qint64 ms = std::llround(t * kMsPerDay);
  const qint64 days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
  return QDateTime(kEpoch.addDays(days),
                   QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms - days * kMsPerDay)));
}

TDateTime FromQDateTime(const QDateTime& t) {
  return static_cast<double>(kEpoch.daysTo(t.date())) +
         t.time().msecsSinceStartOfDay() / static_cast<double>(kMsPerDay);
}

ExportDialog::ExportDialog(const ViewerPanel::ExportChoice& choice, IClipWriterFactory& writers,
                           IDispatcher& dispatcher, Journal& journal, QWidget* parent)
    : QDialog(parent), choice_(choice), journal_(journal), job_(writers, dispatcher) {
  setObjectName("ExportDialog");
  setWindowTitle("Экспорт записей - " + QFileInfo(QString::fromStdString(choice.pair)).fileName());
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;

  camera_ = new QComboBox(this);
  camera_->setObjectName("ExportCamera");
  camera_->addItem("Все видеокамеры (мозаикой)", kAllCameras);
  for (int k = 1; k <= 8; ++k) camera_->addItem("Видеокамера " + QString::number(k), k);
  camera_->setCurrentIndex(std::max(0, camera_->findData(choice.camera)));
  form->addRow("Видеокамера:", camera_);

  // The range is shown to the second: "from" starts at its second, "to"
  // takes in the whole second it shows.
  const auto timeEdit = [this](TDateTime t, const char* name) {
    auto* e = new QDateTimeEdit(ToQDateTime(std::floor(t * 86400.0) / 86400.0), this);
    e->setObjectName(name);
    e->setDisplayFormat("yyyy-MM-dd HH:mm:ss");
    e->setCalendarPopup(true);
    return e;
  };
  from_ = timeEdit(choice.from, "ExportFrom");
  to_ = timeEdit(choice.to, "ExportTo");
  form->addRow("С:", from_);
  form->addRow("По:", to_);

  format_ = new QComboBox(this);
  format_->setObjectName("ExportFormat");
  format_->addItem("MJPEG в Matroska (.mkv), без пересжатия");
  format_->addItem("H.264 в MP4 (.mp4)");
  form->addRow("Формат:", format_);

  auto* out = new QWidget(this);
  auto* ol = new QHBoxLayout(out);
  ol->setContentsMargins(0, 0, 0, 0);
  output_ = new QLineEdit(DefaultOutput(choice, false), out);
  output_->setObjectName("ExportOutput");
  output_->setMinimumWidth(320);
  browse_ = new QPushButton("...", out);
  browse_->setFixedWidth(30);
  ol->addWidget(output_, 1);
  ol->addWidget(browse_);
  form->addRow("Файл:", out);
  layout->addLayout(form);

  progress_ = new QProgressBar(this);
  progress_->setObjectName("ExportProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  layout->addWidget(progress_);
  state_ = new QLabel(this);
  state_->setObjectName("ExportState");
  layout->addWidget(state_);

  auto* buttons = new QDialogButtonBox(this);
  start_ = buttons->addButton("Экспорт", QDialogButtonBox::AcceptRole);
  start_->setObjectName("ExportStart");
  cancel_ = buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
  cancel_->setObjectName("ExportCancel");
  layout->addWidget(buttons);

  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  connect(format_, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });

  job_.OnProgress = [this](const ClipExportProgress& p) {
    progress_->setValue(p.total > 0 ? static_cast<int>(100LL * p.done / p.total) : 0);
    state_->setText(QString("%1 из %2 записей").arg(p.done).arg(p.total));
  };
  job_.OnDone = [this](const ClipExportResult& r) { Done(r); };
}

ExportDialog::~ExportDialog() {
  // The job's destructor cancels and waits; its temporary file goes with it.
  job_.OnProgress = nullptr;
  job_.OnDone = nullptr;
}

ClipExportRequest ExportDialog::Request() const {
  ClipExportRequest r;
  r.pairName = choice_.pair;
  r.camera = camera_->currentData().toInt();
  r.object = choice_.object;
  r.from = FromQDateTime(from_->dateTime());
  r.to = FromQDateTime(to_->dateTime()) + 999.0 / kMsPerDay;
  r.h264 = format_->currentIndex() == 1;
  r.output = output_->text().trimmed().toStdString();
  return r;
}

void ExportDialog::Browse() {
  const bool h264 = format_->currentIndex() == 1;
  const QString chosen =
      QFileDialog::getSaveFileName(this, "Экспорт записей", output_->text(),
                                   h264 ? "Видео MP4 (*.mp4)" : "Видео Matroska (*.mkv)");
  if (!chosen.isEmpty()) output_->setText(chosen);
}

void ExportDialog::FormatChanged() {
  // The name's suffix follows the format while it names one of ours.
  QString name = output_->text();
  const bool h264 = format_->currentIndex() == 1;
  for (const char* from : {".mkv", ".mp4"})
    if (name.endsWith(from, Qt::CaseInsensitive)) {
      name.chop(4);
      output_->setText(name + (h264 ? ".mp4" : ".mkv"));
      break;
    }
}

void ExportDialog::SetBusy(bool busy) {
  for (QWidget* w :
       {static_cast<QWidget*>(camera_), static_cast<QWidget*>(from_), static_cast<QWidget*>(to_),
        static_cast<QWidget*>(format_), static_cast<QWidget*>(output_),
        static_cast<QWidget*>(browse_), static_cast<QWidget*>(start_)})
    w->setEnabled(!busy);
  cancel_->setText(busy ? "Отмена" : "Закрыть");
}

void ExportDialog::Start() {
  if (job_.Running()) return;
  const ClipExportRequest r = Request();
  if (r.output.empty()) {
    state_->setText("Укажите файл");
    return;
  }
  if (*r.to < *r.from) {
    state_->setText("Конец диапазона раньше его начала");
    return;
  }
  progress_->setValue(0);
  state_->setText("Экспорт...");
  SetBusy(true);
  job_.Start(r);
}

void ExportDialog::Done(const ClipExportResult& r) {
  SetBusy(false);
  const std::string out = output_->text().trimmed().toStdString();
  switch (r.status) {
    case ClipExportResult::Status::Done:
      progress_->setValue(100);
      state_->setText(QString("Записано кадров: %1").arg(r.frames));
      journal_.AddJournal("Экспорт записей в файл \"" + out + "\" завершён (" +
                              std::to_string(r.frames) + " кадров)",
                          jkInfo);
      break;
    case ClipExportResult::Status::Cancelled:
      state_->setText("Экспорт отменён");
      journal_.AddJournal("Экспорт записей в файл \"" + out + "\" отменён", jkNotice);
      break;
    case ClipExportResult::Status::Failed:
      state_->setText(QString::fromStdString("Ошибка: " + r.error));
      journal_.AddJournal("Ошибка экспорта записей в файл \"" + out + "\": " + r.error + " !",
                          jkError);
      break;
  }
}

void ExportDialog::reject() {
  // "Отмена" while exporting stops the export; the dialog stays to say so.
  if (job_.Running()) {
    job_.Cancel();
    return;
  }
  QDialog::reject();
}

void ExportDialog::closeEvent(QCloseEvent* e) {
  job_.Cancel();
  QDialog::closeEvent(e);
}

void OpenExportDialog(const ViewerPanel& viewer, IClipWriterFactory* writers,
                      IDispatcher& dispatcher, Journal& journal, QWidget* parent) {
  ViewerPanel::ExportChoice choice;
  if (!writers || !viewer.ExportDefaults(choice)) {
    QMessageBox::information(
        parent, "Zorvenix",
        writers ? "Откройте файл записи, в котором есть кадры." : "Экспорт видео недоступен.");
    return;
  }
  auto* dialog = new ExportDialog(choice, *writers, dispatcher, journal, parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
}

}  // namespace zv::ui

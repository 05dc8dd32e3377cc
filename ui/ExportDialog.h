#pragma once
// "Экспорт...": the records of one camera (or all, tiled) over a time range
// of the pair open on the playback page, into a video file.  The export
// runs on a worker (ClipExportJob) while the window goes on; its progress
// bar can be cancelled, and closing the dialog cancels too.  The result is
// journaled.
#include <QDialog>
#include <memory>

#include "detect/ClipExportJob.h"
#include "detect/ViewerPanel.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace zv {
class Journal;
}

namespace zv::ui {

// TDateTime (local time) and back, to the millisecond.
QDateTime ToQDateTime(TDateTime t);
TDateTime FromQDateTime(const QDateTime& t);

class ExportDialog : public QDialog {
  Q_OBJECT
 public:
  ExportDialog(const ViewerPanel::ExportChoice& choice, IClipWriterFactory& writers,
               IDispatcher& dispatcher, Journal& journal, QWidget* parent);
  ~ExportDialog() override;

  // The request the fields describe.
  ClipExportRequest Request() const;
  bool Exporting() const { return job_.Running(); }

  void Start();

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void Browse();
  void FormatChanged();
  void Done(const ClipExportResult& r);
  void SetBusy(bool busy);

  ViewerPanel::ExportChoice choice_;
  Journal& journal_;
  ClipExportJob job_;
  QComboBox* camera_;
  QDateTimeEdit* from_;
  QDateTimeEdit* to_;
  QComboBox* format_;
  QLineEdit* output_;
  QPushButton* browse_;
  QProgressBar* progress_;
  QLabel* state_;
  QPushButton* start_;
  QPushButton* cancel_;
};

// Opens the dialog for the pair the playback page shows (a message when no
// pair with records is open).
void OpenExportDialog(const ViewerPanel& viewer, IClipWriterFactory* writers,
                      IDispatcher& dispatcher, Journal& journal, QWidget* parent);

}  // namespace zv::ui

#include "ui/SourceDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zv::ui {

SourceDialog::SourceDialog(const QString& cameraName, const NetworkCameraSettings& current,
                           QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("Источник видео - " + cameraName);
  setObjectName("SourceDialog");
  auto* layout = new QVBoxLayout(this);
  network_ = new QCheckBox("Сетевая видеокамера (вместо коммутатора)", this);
  network_->setObjectName("NetSource");
  network_->setChecked(current.enabled);
  layout->addWidget(network_);

  auto* form = new QFormLayout;
  url_ = new QLineEdit(QString::fromStdString(current.url), this);
  url_->setObjectName("NetUrl");
  url_->setPlaceholderText("rtsp://адрес:554/путь или http://адрес/video.mjpg");
  url_->setMinimumWidth(320);
  form->addRow("Адрес:", url_);
  transport_ = new QComboBox(this);
  transport_->setObjectName("NetTransport");
  transport_->addItems({"TCP", "UDP"});
  transport_->setCurrentIndex(current.transport == NetTransport::Udp ? 1 : 0);
  form->addRow("Передача RTSP:", transport_);
  user_ = new QLineEdit(QString::fromStdString(current.user), this);
  user_->setObjectName("NetUser");
  form->addRow("Пользователь:", user_);
  password_ = new QLineEdit(QString::fromStdString(current.password), this);
  password_->setObjectName("NetPassword");
  password_->setEchoMode(QLineEdit::Password);
  form->addRow("Пароль:", password_);
  fps_ = new QDoubleSpinBox(this);
  fps_->setObjectName("NetFps");
  fps_->setRange(0, 60);
  fps_->setDecimals(1);
  fps_->setSpecialValueText("все");
  fps_->setValue(current.fps);
  form->addRow("Кадров в секунду:", fps_);
  layout->addLayout(form);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(network_, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
  UpdateEnabled();
}

void SourceDialog::UpdateEnabled() {
  const bool on = network_->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(url_), static_cast<QWidget*>(transport_),
                     static_cast<QWidget*>(user_), static_cast<QWidget*>(password_),
                     static_cast<QWidget*>(fps_)})
    w->setEnabled(on);
}

NetworkCameraSettings SourceDialog::Settings() const {
  NetworkCameraSettings s;
  s.enabled = network_->isChecked();
  s.url = url_->text().trimmed().toStdString();
  s.transport = transport_->currentIndex() == 1 ? NetTransport::Udp : NetTransport::Tcp;
  s.user = user_->text().toStdString();
  s.password = password_->text().toStdString();
  s.fps = fps_->value();
  return s;
}

}  // namespace zv::ui

#include "ui/RemoteDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/Remote.h"
#include "ui/WebFront.h"

namespace zv::ui {

namespace {
QLineEdit* Edit(const std::string& text, QWidget* parent) {
  auto* e = new QLineEdit(QString::fromStdString(text), parent);
  e->setMinimumWidth(260);
  return e;
}
QSpinBox* Spin(int value, int lo, int hi, QWidget* parent) {
  auto* s = new QSpinBox(parent);
  s->setRange(lo, hi);
  s->setValue(value);
  return s;
}
QCheckBox* Check(const char* caption, bool on, QWidget* parent) {
  auto* c = new QCheckBox(QString::fromUtf8(caption), parent);
  c->setChecked(on);
  return c;
}
std::string Text(const QLineEdit* e) {
  return e->text().trimmed().toStdString();
}
}  // namespace

RemoteDialog::RemoteDialog(StationRemote& remote, WebFront& web, QWidget* parent)
    : QDialog(parent), remote_(remote), web_(web) {
  setWindowTitle("Внешние подключения");
  const remote::MqttSettings& m = remote.Mqtt();
  const remote::WebSettings& w = remote.Web();

  auto* mqttBox = new QGroupBox(" MQTT-брокер ", this);
  auto* mf = new QFormLayout(mqttBox);
  mqttEnabled = Check("Передавать события на брокер", m.Enabled, mqttBox);
  host = Edit(m.Host, mqttBox);
  port = Spin(m.Port, 1, 65535, mqttBox);
  station = Edit(m.Station, mqttBox);
  user = Edit(m.User, mqttBox);
  password = Edit(m.Password, mqttBox);
  password->setEchoMode(QLineEdit::Password);
  caFile = Edit(m.CaFile, mqttBox);
  certFile = Edit(m.CertFile, mqttBox);
  keyFile = Edit(m.KeyFile, mqttBox);
  allowCommands = Check("Принимать команды постановки и снятия", m.AllowCommands, mqttBox);
  mf->addRow(mqttEnabled);
  mf->addRow("Адрес :", host);
  mf->addRow("Порт :", port);
  mf->addRow("Имя пульта :", station);
  mf->addRow("Пользователь :", user);
  mf->addRow("Пароль :", password);
  mf->addRow("Сертификат CA (TLS) :", caFile);
  mf->addRow("Сертификат клиента :", certFile);
  mf->addRow("Ключ клиента :", keyFile);
  mf->addRow(allowCommands);

  auto* webBox = new QGroupBox(" Веб-доступ ", this);
  auto* wf = new QFormLayout(webBox);
  webEnabled = Check("Открыть веб-доступ", w.Enabled, webBox);
  webAddress = Edit(w.Address, webBox);
  webPort = Spin(w.Port, 0, 65535, webBox);
  webCert = Edit(w.CertFile, webBox);
  webKey = Edit(w.KeyFile, webBox);
  sessionMinutes = Spin(w.SessionMinutes, 1, 7 * 24 * 60, webBox);
  usersFile = Edit(w.UsersFile, webBox);
  usersFile->setPlaceholderText(QString::fromStdString(remote.UsersFile()));
  allowArming = Check("Разрешить постановку и снятие с веб-страницы", w.AllowArming, webBox);
  auto* reload = new QPushButton("Перечитать учётные записи", webBox);
  connect(reload, &QPushButton::clicked, this, [this] { web_.ReloadAccounts(); });
  wf->addRow(webEnabled);
  wf->addRow("Адрес :", webAddress);
  wf->addRow("Порт :", webPort);
  wf->addRow("Сертификат (TLS) :", webCert);
  wf->addRow("Ключ (TLS) :", webKey);
  wf->addRow("Сеанс, минут :", sessionMinutes);
  wf->addRow("Файл учётных записей :", usersFile);
  wf->addRow(allowArming);
  wf->addRow(reload);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* v = new QVBoxLayout(this);
  v->addWidget(mqttBox);
  v->addWidget(webBox);
  v->addWidget(buttons);
}

remote::MqttSettings RemoteDialog::Mqtt() const {
  remote::MqttSettings m = remote_.Mqtt();  // what the dialog does not show stays
  m.Enabled = mqttEnabled->isChecked();
  m.Host = Text(host);
  m.Port = port->value();
  m.Station = Text(station);
  m.User = Text(user);
  m.Password = password->text().toStdString();
  m.CaFile = Text(caFile);
  m.CertFile = Text(certFile);
  m.KeyFile = Text(keyFile);
  m.AllowCommands = allowCommands->isChecked();
  return m;
}

remote::WebSettings RemoteDialog::Web() const {
  remote::WebSettings w = remote_.Web();
  w.Enabled = webEnabled->isChecked();
  w.Address = Text(webAddress);
  w.Port = webPort->value();
  w.CertFile = Text(webCert);
  w.KeyFile = Text(webKey);
  w.SessionMinutes = sessionMinutes->value();
  w.UsersFile = Text(usersFile);
  w.AllowArming = allowArming->isChecked();
  return w;
}

void RemoteDialog::Apply() {
  const remote::MqttSettings m = Mqtt();
  const remote::WebSettings w = Web();
  if (!(m == remote_.Mqtt())) remote_.ApplyMqtt(m);
  if (!(w == remote_.Web())) {
    remote_.StoreWeb(w);
    web_.Apply(w);
  }
}

}  // namespace zv::ui

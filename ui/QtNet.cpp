#include "ui/QtNet.h"

#include <QHostAddress>

namespace zv::ui {

QtNetSocket::QtNetSocket(QTcpSocket* socket) {
  Attach(socket ? socket : new QTcpSocket());
}

QtNetSocket::~QtNetSocket() {
  Drop();
}

void QtNetSocket::Attach(QTcpSocket* s) {
  s_ = s;
  s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  QObject::connect(s, &QTcpSocket::readyRead, [this] {
    if (OnData) OnData();
  });
  QObject::connect(s, &QTcpSocket::connected, [this] {
    if (OnConnected) OnConnected();
  });
  QObject::connect(s, &QTcpSocket::disconnected, [this] {
    if (!closing_ && OnDisconnect) OnDisconnect();
  });
  QObject::connect(s, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError) {
    if (closing_) return;
    if (OnError && s_) OnError(s_->errorString().toStdString());
  });
}

void QtNetSocket::Drop() {
  if (!s_) return;
  // The socket may be inside one of its own signals: it goes later.
  QTcpSocket* s = s_;
  s_.clear();
  closing_ = true;
  QObject::disconnect(s, nullptr, nullptr, nullptr);
  s->abort();
  s->deleteLater();
}

bool QtNetSocket::Open(const std::string& address, int port) {
  QHostAddress host;
  if (!host.setAddress(QString::fromStdString(address))) return false;
  if (!s_) {
    closing_ = false;
    Attach(new QTcpSocket());
  }
  if (s_->state() != QAbstractSocket::UnconnectedState) s_->abort();
  closing_ = false;
  s_->connectToHost(host, static_cast<quint16>(port));
  return true;
}

bool QtNetSocket::Active() const {
  return s_ && s_->state() != QAbstractSocket::UnconnectedState &&
         s_->state() != QAbstractSocket::ClosingState;
}

bool QtNetSocket::Connected() const {
  return s_ && s_->state() == QAbstractSocket::ConnectedState;
}

std::size_t QtNetSocket::BytesAvailable() const {
  return s_ ? static_cast<std::size_t>(s_->bytesAvailable()) : 0;
}

std::size_t QtNetSocket::Read(void* buffer, std::size_t max) {
  if (!s_) return 0;
  const qint64 n = s_->read(static_cast<char*>(buffer), static_cast<qint64>(max));
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool QtNetSocket::Send(const void* data, std::size_t count) {
  if (!Connected()) return false;
  if (static_cast<std::size_t>(s_->bytesToWrite()) + count > kMaxPending) {
    // The peer has stopped reading: it is dropped rather than queued for.
    s_->abort();
    return false;
  }
  return s_->write(static_cast<const char*>(data), static_cast<qint64>(count)) ==
         static_cast<qint64>(count);
}

std::size_t QtNetSocket::Pending() const {
  return s_ ? static_cast<std::size_t>(s_->bytesToWrite()) : 0;
}

void QtNetSocket::Close() {
  if (!s_) return;
  closing_ = true;
  s_->abort();
}

std::string QtNetSocket::PeerAddress() const {
  if (!s_) return std::string();
  // An IPv4 peer of a dual-stack listener is shown as plain IPv4.
  QHostAddress a = s_->peerAddress();
  bool v4 = false;
  const quint32 ip = a.toIPv4Address(&v4);
  if (v4) a = QHostAddress(ip);
  return a.toString().toStdString() + ":" + std::to_string(s_->peerPort());
}

QtNetListener::QtNetListener() {
  QObject::connect(&server_, &QTcpServer::newConnection, [this] {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
      s->setParent(nullptr);
      auto sock = std::make_unique<QtNetSocket>(s);
      if (OnAccept) OnAccept(std::move(sock));
    }
  });
}

QtNetListener::~QtNetListener() {
  server_.close();
}

bool QtNetListener::Listen(int port) {
  server_.close();
  // Many sites may connect at once while the loop is busy reading.
  server_.setListenBacklogSize(1024);
  return server_.listen(QHostAddress::Any, static_cast<quint16>(port));
}

void QtNetListener::Close() {
  server_.close();
}
bool QtNetListener::Active() const {
  return server_.isListening();
}
int QtNetListener::Port() const {
  return server_.serverPort();
}

std::unique_ptr<INetClient> QtNetFactory::CreateClient() {
  return std::make_unique<QtNetSocket>();
}
std::unique_ptr<INetListener> QtNetFactory::CreateListener() {
  return std::make_unique<QtNetListener>();
}

}  // namespace zv::ui

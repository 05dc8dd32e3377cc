#pragma once
// The link's TCP sockets on Qt Network: everything is driven by the Qt event
// loop, nothing blocks.
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "platform/Net.h"

namespace zv::ui {

class QtNetSocket : public INetClient {
 public:
  // Takes an accepted socket, or makes a client's own when null.
  explicit QtNetSocket(QTcpSocket* socket = nullptr);
  ~QtNetSocket() override;

  bool Open(const std::string& address, int port) override;
  bool Active() const override;
  bool Connected() const override;
  std::size_t BytesAvailable() const override;
  std::size_t Read(void* buffer, std::size_t max) override;
  bool Send(const void* data, std::size_t count) override;
  std::size_t Pending() const override;
  void Close() override;
  std::string PeerAddress() const override;

 private:
  void Attach(QTcpSocket* s);
  void Drop();
  QPointer<QTcpSocket> s_;
  bool closing_ = false;
};

class QtNetListener : public INetListener {
 public:
  QtNetListener();
  ~QtNetListener() override;
  bool Listen(int port) override;
  void Close() override;
  bool Active() const override;
  int Port() const override;

 private:
  QTcpServer server_;
};

class QtNetFactory : public INetFactory {
 public:
  std::unique_ptr<INetClient> CreateClient() override;
  std::unique_ptr<INetListener> CreateListener() override;
};

}  // namespace zv::ui

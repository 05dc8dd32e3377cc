#include "ui/QtPlatform.h"

#include "ui/Guard.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMediaDevices>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace zv::ui {

QtDispatcher::QtDispatcher() : receiver_(std::make_unique<QObject>()) {
  QObject* r = receiver_.get();
  queue_.SetWakeup([this, r] {
    QMetaObject::invokeMethod(
        r, [this] { Guarded([this] { queue_.Drain(); }); }, Qt::QueuedConnection);
  });
}

QtDispatcher::~QtDispatcher() {
  queue_.SetWakeup(nullptr);
  queue_.Shutdown();
}

void QtEventPump::ProcessEvents() {
  d_.Drain();
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

namespace {
class QtTimerBackend final : public ITimerBackend {
 public:
  explicit QtTimerBackend(std::function<void()> tick) {
    QObject::connect(&timer_, &QTimer::timeout, [t = std::move(tick)] { Guarded(t); });
    timer_.setTimerType(Qt::PreciseTimer);
  }
  void Start(unsigned intervalMs) override { timer_.start(static_cast<int>(intervalMs)); }
  void Stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};
}  // namespace

std::unique_ptr<ITimerBackend> QtTimerFactory::CreateTimer(std::function<void()> onTick) {
  return std::make_unique<QtTimerBackend>(std::move(onTick));
}

MsgResult QtDialogs::MessageBox(const std::string& text, const std::string& caption,
                                MsgButtons buttons, MsgIcon icon) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text).replace("\r\n", "\n"));
  switch (icon) {
    case MsgIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MsgIcon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MsgIcon::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case MsgIcon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case MsgIcon::None:
      break;
  }
  switch (buttons) {
    case MsgButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MsgButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MsgButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return MsgResult::Cancel;
    case QMessageBox::Yes:
      return MsgResult::Yes;
    case QMessageBox::No:
      return MsgResult::No;
    default:
      return MsgResult::Ok;
  }
}

bool QtDialogs::InputQuery(const std::string& caption, const std::string& prompt,
                           std::string& value, bool password) {
  bool ok = false;
  const QString v = QInputDialog::getText(
      QApplication::activeWindow(), QString::fromStdString(caption), QString::fromStdString(prompt),
      password ? QLineEdit::Password : QLineEdit::Normal, QString::fromStdString(value), &ok);
  if (ok) value = v.toStdString();
  return ok;
}

void QtToneSpeaker::Beep(unsigned hz, unsigned ms) {
  QElapsedTimer clock;
  clock.start();
  const QAudioDevice dev = QMediaDevices::defaultAudioOutput();
  if (!dev.isNull() && hz > 0 && ms > 0) {
    QAudioFormat fmt;
    fmt.setSampleRate(22050);
    fmt.setChannelCount(1);
    fmt.setSampleFormat(QAudioFormat::Int16);
    if (dev.isFormatSupported(fmt)) {
      const int samples = static_cast<int>(22050LL * ms / 1000);
      QByteArray pcm(samples * 2, 0);
      auto* p = reinterpret_cast<qint16*>(pcm.data());
      for (int i = 0; i < samples; ++i)
        p[i] = static_cast<qint16>(8000 * std::sin(2 * M_PI * hz * i / 22050.0));
      QBuffer buf(&pcm);
      buf.open(QIODevice::ReadOnly);
      QAudioSink sink(dev, fmt);
      sink.start(&buf);
      // Tones block their caller for their length, as the speaker's did.
      while (clock.elapsed() < ms && sink.state() != QAudio::StoppedState) QThread::msleep(5);
      sink.stop();
    }
  }
  const qint64 left = static_cast<qint64>(ms) - clock.elapsed();
  if (left > 0) QThread::msleep(static_cast<unsigned long>(left));
}

void QtToneSpeaker::DefaultBeep() {
  QApplication::beep();
}

DisplayMetrics QtDisplayInfo::Query() const {
  DisplayMetrics m;
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    m.width = s->geometry().width();
    m.height = s->geometry().height();
    m.bitsPerPixel = s->depth();
  }
  return m;
}

}  // namespace zv::ui

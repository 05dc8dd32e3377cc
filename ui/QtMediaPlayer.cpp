#include "ui/QtMediaPlayer.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QAudioSource>
#include <QFile>
#include <QMediaDevices>
#include <fstream>

namespace zv::ui {

namespace {

QAudioFormat ToQt(const WaveInfo& w) {
  QAudioFormat f;
  f.setSampleRate(static_cast<int>(w.sampleRate));
  f.setChannelCount(w.channels);
  switch (w.bitsPerSample) {
    case 8:
      f.setSampleFormat(QAudioFormat::UInt8);
      break;
    case 16:
      f.setSampleFormat(QAudioFormat::Int16);
      break;
    case 32:
      f.setSampleFormat(QAudioFormat::Int32);
      break;
    default:
      f.setSampleFormat(QAudioFormat::Unknown);
  }
  return f;
}

}  // namespace

QtMediaPlayer::QtMediaPlayer(QObject* parent) : QObject(parent) {}

QtMediaPlayer::~QtMediaPlayer() {
  StopPlaying();
  if (Recording()) Save();
}

bool QtMediaPlayer::Playing() const {
  return sink_ && sink_->state() == QAudio::ActiveState;
}

bool QtMediaPlayer::Recording() const {
  return source_ != nullptr;
}

void QtMediaPlayer::StopPlaying() {
  if (sink_) sink_->stop();
  sink_.reset();
  playBuffer_.close();
}

void QtMediaPlayer::Stop() {
  StopPlaying();
  // A recording is never thrown away: stopping it keeps what was heard.
  if (Recording()) Save();
}

bool QtMediaPlayer::Save() {
  if (!source_) return false;
  source_->stop();
  source_.reset();
  recordBuffer_.close();
  const std::string part = target_ + ".part.wav";
  std::string why;
  bool ok =
      WriteWave(part, recordFormat_,
                std::string(recorded_.constData(), static_cast<std::size_t>(recorded_.size())),
                why) &&
      AppendWave(target_, part, why);
  QFile::remove(QString::fromStdString(part));
  recorded_.clear();
  return ok;
}

bool QtMediaPlayer::StartRecording(const std::string& fileName, std::string& why) {
  if (QMediaDevices::audioInputs().isEmpty()) {
    why = "нет устройства записи звука";
    return false;
  }
  if (Recording()) Save();
  // The samples join the file's own: record in its format when it has one.
  WaveInfo fmt;
  std::string ignored;
  if (!ReadWaveInfo(fileName, fmt, ignored) || fmt.format != 1) {
    fmt = WaveInfo{};
    fmt.format = 1;
    fmt.channels = 1;
    fmt.sampleRate = 8000;
    fmt.bitsPerSample = 16;
  }
  const QAudioFormat qf = ToQt(fmt);
  const QAudioDevice device = QMediaDevices::defaultAudioInput();
  if (qf.sampleFormat() == QAudioFormat::Unknown || !device.isFormatSupported(qf)) {
    why = "формат записи не поддерживается устройством";
    return false;
  }
  recordFormat_ = fmt;
  target_ = fileName;
  recorded_.clear();
  recordBuffer_.setBuffer(&recorded_);
  recordBuffer_.open(QIODevice::WriteOnly);
  source_ = std::make_unique<QAudioSource>(device, qf);
  source_->start(&recordBuffer_);
  if (source_->error() != QAudio::NoError) {
    source_.reset();
    recordBuffer_.close();
    why = "ошибка устройства записи звука";
    return false;
  }
  return true;
}

bool QtMediaPlayer::Open(const std::string& fileName, std::string& why) {
  StopPlaying();
  WaveInfo info;
  if (!ReadWaveInfo(fileName, info, why)) return false;
  if (info.format != 1 || ToQt(info).sampleFormat() == QAudioFormat::Unknown) {
    why = "формат файла \"" + fileName + "\" не поддерживается";
    return false;
  }
  if (QMediaDevices::audioOutputs().isEmpty()) {
    why = "нет устройства воспроизведения звука";
    return false;
  }
  std::ifstream in(fileName, std::ios::binary);
  in.seekg(info.dataOffset);
  samples_.resize(static_cast<qsizetype>(info.dataSize));
  if (!in.read(samples_.data(), info.dataSize)) {
    why = "ошибка чтения файла \"" + fileName + "\"";
    return false;
  }
  info_ = info;
  startMs_ = 0;
  return true;
}

long long QtMediaPlayer::LengthMs() const {
  return WaveLengthMs(info_);
}

long long QtMediaPlayer::PositionMs() const {
  return startMs_ + (sink_ ? sink_->processedUSecs() / 1000 : 0);
}

void QtMediaPlayer::Seek(long long ms) {
  const bool playing = Playing();
  StopPlaying();
  startMs_ = std::clamp(ms, 0LL, LengthMs());
  std::string why;
  if (playing) Play(why);
}

bool QtMediaPlayer::Play(std::string& why) {
  StopPlaying();
  if (samples_.isEmpty() || !info_.byteRate) {
    why = "файл не открыт";
    return false;
  }
  const long long align = std::max<long long>(info_.blockAlign, 1);
  const long long from =
      std::min<long long>(startMs_ * info_.byteRate / 1000 / align * align, samples_.size());
  playBuffer_.setData(samples_);
  playBuffer_.open(QIODevice::ReadOnly);
  playBuffer_.seek(from);
  sink_ = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), ToQt(info_));
  sink_->start(&playBuffer_);
  if (sink_->error() != QAudio::NoError) {
    StopPlaying();
    why = "ошибка устройства воспроизведения звука";
    return false;
  }
  return true;
}

}  // namespace zv::ui

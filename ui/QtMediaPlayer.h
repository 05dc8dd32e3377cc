#pragma once
// The alarm sound's player on Qt's audio streams: plays the PCM samples of
// a wave file on the default audio output and records from the default
// audio input.  Each recording is appended to the sound file when it is
// saved, so the file keeps every alarm's sound.  The streams are created
// only when used; without a device the calls fail with a reason.
#include <QAudioFormat>
#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <memory>

#include "platform/MediaPlayer.h"
#include "platform/WaveFile.h"

class QAudioSink;
class QAudioSource;

namespace zv::ui {

class QtMediaPlayer final : public QObject, public IMediaPlayer {
 public:
  explicit QtMediaPlayer(QObject* parent = nullptr);
  ~QtMediaPlayer() override;

  bool Playing() const override;
  bool Recording() const override;
  void Stop() override;
  bool Save() override;
  bool StartRecording(const std::string& fileName, std::string& why) override;

  bool Open(const std::string& fileName, std::string& why) override;
  long long LengthMs() const override;
  long long PositionMs() const override;
  void Seek(long long ms) override;
  bool Play(std::string& why) override;

 private:
  void StopPlaying();

  // Playing.
  WaveInfo info_;
  QByteArray samples_;
  QBuffer playBuffer_;
  std::unique_ptr<QAudioSink> sink_;
  long long startMs_ = 0;  // where the sink started in the samples
  // Recording.
  QByteArray recorded_;
  QBuffer recordBuffer_;
  std::unique_ptr<QAudioSource> source_;
  WaveInfo recordFormat_;
  std::string target_;
};

}  // namespace zv::ui

#pragma once
// The decoder library's own log messages, routed through one hook that
// removes credentials before any line is written: the user part of every
// address, authorization headers, and the passwords of the cameras that
// are open (registered while they are).  Lines go to a sink (standard
// error by default) from whatever thread the library logs on.
#include <functional>
#include <string>

namespace zv {

// Levels of the library's log, most severe first.
enum class FfmpegLogLevel { Quiet, Error, Warning, Info, Verbose, Debug };

using FfmpegLogSink = std::function<void(FfmpegLogLevel level, const std::string& line)>;

// Installs the hook (once; later calls only change the level and sink).
// Lines above level are dropped.  A null sink writes "ffmpeg: <line>" to
// standard error.
void InstallFfmpegLogHook(FfmpegLogLevel level = FfmpegLogLevel::Error, FfmpegLogSink sink = {});

// Credentials of an open camera: removed from every line while registered.
void RegisterFfmpegSecret(const std::string& user, const std::string& password);
void UnregisterFfmpegSecret(const std::string& user, const std::string& password);

// Removes everything registered (and every address's user part) from text.
std::string RedactFfmpegText(const std::string& text);

// Puts the log hook in place and starts the library's network layer, once per
// process; everything that opens a stream or file through the library calls it.
void InitFfmpeg();

}  // namespace zv

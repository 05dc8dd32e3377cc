#include "platform/FfmpegLog.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/NetworkCamera.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace zv {

namespace {

struct LogState {
  std::mutex mu;
  SecretRedactor redactor;
  FfmpegLogSink sink;
  FfmpegLogLevel level = FfmpegLogLevel::Error;
  // Standard error takes at most kLinesPerMinute lines a minute: a camera
  // sending damaged pictures for months must not flood the system's log.
  std::chrono::steady_clock::time_point minute{};
  int lines = 0, leftOut = 0;
};

constexpr int kLinesPerMinute = 30;

void ToStandardError(LogState& s, const std::string& line) {
  const auto now = std::chrono::steady_clock::now();
  int leftOut = 0;
  bool write = false;
  {
    std::lock_guard lk(s.mu);
    if (now - s.minute > std::chrono::minutes(1)) {
      leftOut = s.leftOut;
      s.minute = now;
      s.lines = s.leftOut = 0;
    }
    write = s.lines < kLinesPerMinute;
    if (write)
      ++s.lines;
    else
      ++s.leftOut;
  }
  if (leftOut > 0) std::fprintf(stderr, "ffmpeg: (%d lines left out)\n", leftOut);
  if (write) std::fprintf(stderr, "ffmpeg: %s\n", line.c_str());
}

LogState& State() {
  static LogState* state = new LogState;  // outlives every thread that may log
  return *state;
}

FfmpegLogLevel FromAv(int level) {
  if (level <= AV_LOG_ERROR) return FfmpegLogLevel::Error;
  if (level <= AV_LOG_WARNING) return FfmpegLogLevel::Warning;
  if (level <= AV_LOG_INFO) return FfmpegLogLevel::Info;
  if (level <= AV_LOG_VERBOSE) return FfmpegLogLevel::Verbose;
  return FfmpegLogLevel::Debug;
}

void Hook(void* avcl, int level, const char* fmt, va_list vl) {
  LogState& s = State();
  const FfmpegLogLevel ours = FromAv(level);
  {
    std::lock_guard lk(s.mu);
    if (s.level == FfmpegLogLevel::Quiet || ours > s.level) return;
  }
  char line[2048];
  static thread_local int printPrefix = 1;
  av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &printPrefix);
  // The library writes some lines in several calls; a line is passed on
  // whole, so that a secret split across calls is still found.
  static thread_local std::string pending;
  pending += line;
  if ((pending.empty() || pending.back() != '\n') && pending.size() < 8192) return;
  FfmpegLogSink sink;
  std::string out;
  {
    std::lock_guard lk(s.mu);
    out = s.redactor.Redact(pending);
    sink = s.sink;
  }
  pending.clear();
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (out.empty()) return;
  if (sink)
    sink(ours, out);
  else
    ToStandardError(s, out);
}

void SetLibraryLevel(FfmpegLogLevel level) {
  // The library skips formatting what its own level filters out.
  switch (level) {
    case FfmpegLogLevel::Quiet:
      av_log_set_level(AV_LOG_QUIET);
      break;
    case FfmpegLogLevel::Error:
      av_log_set_level(AV_LOG_ERROR);
      break;
    case FfmpegLogLevel::Warning:
      av_log_set_level(AV_LOG_WARNING);
      break;
    case FfmpegLogLevel::Info:
      av_log_set_level(AV_LOG_INFO);
      break;
    case FfmpegLogLevel::Verbose:
      av_log_set_level(AV_LOG_VERBOSE);
      break;
    case FfmpegLogLevel::Debug:
      av_log_set_level(AV_LOG_DEBUG);
      break;
  }
}

// Puts the hook in place with the level in force, once.
void EnsureHook() {
  static std::once_flag once;
  std::call_once(once, [] {
    FfmpegLogLevel level;
    {
      std::lock_guard lk(State().mu);
      level = State().level;
    }
    SetLibraryLevel(level);
    av_log_set_callback(&Hook);
  });
}

}  // namespace

void InstallFfmpegLogHook(FfmpegLogLevel level, FfmpegLogSink sink) {
  LogState& s = State();
  {
    std::lock_guard lk(s.mu);
    s.level = level;
    s.sink = std::move(sink);
  }
  EnsureHook();
  SetLibraryLevel(level);
}

void RegisterFfmpegSecret(const std::string& user, const std::string& password) {
  LogState& s = State();
  std::lock_guard lk(s.mu);
  s.redactor.Add(user, password);
}

void UnregisterFfmpegSecret(const std::string& user, const std::string& password) {
  LogState& s = State();
  std::lock_guard lk(s.mu);
  s.redactor.Remove(user, password);
}

std::string RedactFfmpegText(const std::string& text) {
  LogState& s = State();
  std::lock_guard lk(s.mu);
  return s.redactor.Redact(text);
}

void InitFfmpeg() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Before any stream is opened, so that no line escapes unredacted.
    EnsureHook();
    avformat_network_init();
  });
}

}  // namespace zv

#include "ui/ExportMain.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "detect/ExportCommand.h"
#include "platform/FfmpegClipWriter.h"

namespace zv::ui {

namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
  gInterrupted = true;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace

bool ExportAsked(int argc, char** argv) {
  return IsExportCommand(Arguments(argc, argv));
}

int ExportMain(int argc, char** argv) {
  ClipExportRequest request;
  std::string error;
  if (!ParseExportCommand(Arguments(argc, argv), request, error)) {
    std::fprintf(stderr, "zorvenix: %s\n%s", error.c_str(), ExportUsage());
    return 2;
  }
  // Ctrl+C or a service manager's stop cancels: the temporary file goes too.
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  FfmpegClipWriterFactory writers;
  return RunExportCommand(request, writers, stdout, stderr, &gInterrupted);
}

}  // namespace zv::ui

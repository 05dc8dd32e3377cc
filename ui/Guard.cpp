#include "ui/Guard.h"

#include <cstdio>

namespace zv::ui {

namespace {
std::function<void(const std::string&)>& Sink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void SetExceptionSink(std::function<void(const std::string&)> sink) {
  Sink() = std::move(sink);
}

void ReportException(const std::string& message) {
  if (Sink()) {
    try {
      Sink()(message);
      return;
    } catch (...) {
    }
  }
  std::fprintf(stderr, "zorvenix: unhandled error: %s\n", message.c_str());
}

}  // namespace zv::ui

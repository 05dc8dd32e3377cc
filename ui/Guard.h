#pragma once
// Every call from Qt into the core goes through Guarded(): an exception that
// escapes a core handler is handed to the program's global handler (which
// journals it) instead of unwinding through Qt, and the program goes on.
#include <functional>
#include <string>

namespace zv::ui {

void SetExceptionSink(std::function<void(const std::string&)> sink);
void ReportException(const std::string& message);

template <class F>
void Guarded(F&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    ReportException(e.what());
  } catch (...) {
    ReportException("неизвестная ошибка");
  }
}

}  // namespace zv::ui

#pragma once
// The Qt application object: an exception that escapes an event handler is
// journaled by the core's global handler and the program goes on.
#include <QApplication>
#include <exception>

#include "app/Application.h"

namespace zv::ui {

class ZvApplication final : public QApplication {
 public:
  using QApplication::QApplication;
  zv::Application* core = nullptr;
  bool notify(QObject* receiver, QEvent* e) override {
    try {
      return QApplication::notify(receiver, e);
    } catch (const std::exception& ex) {
      if (core) core->AppEvents1Exception(ex.what());
    } catch (...) {
      if (core) core->AppEvents1Exception("неизвестная ошибка");
    }
    return false;
  }
};

}  // namespace zv::ui

#pragma once
// The Qt application object.  Calls into the core are guarded where they
// leave Qt (ui/Guard.h); this is the last resort for anything else that
// throws during event delivery.
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

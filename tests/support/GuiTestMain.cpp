// main() of the GUI test programs: one QApplication for the whole run,
// created before the tests and destroyed after them.
#include <gtest/gtest.h>

#include "ui/ZvApplication.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Tests never need a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  zv::ui::ZvApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

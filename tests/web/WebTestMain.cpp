// main() of the web view's tests: one Qt application for the whole run (the
// server, the sockets and the browser's protocol all run on its loop).
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

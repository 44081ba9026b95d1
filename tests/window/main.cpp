// One QApplication for the whole suite; the window tests need it alive
// before any widget exists.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // CTest sets the platform for the runs; test discovery starts the binary
  // without it, and there is no display to fall back on.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

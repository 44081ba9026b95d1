// album-harvester: opens the main window and runs the event loop.
#include <QApplication>

#include "app/window/form1.h"
#include "app/window/start_options.h"

int main(int argc, char** argv) {
  ah::WindowSetup setup;
  if (auto exit_code = ah::TakeStartOptions(argc, argv, setup.settings.profile)) return *exit_code;
  QApplication app(argc, argv);
  if (auto exit_code = ah::RejectLeftoverArguments(argc, argv)) return *exit_code;
  ah::TForm1 form(std::move(setup));
  form.show();
  return app.exec();
}

// album-harvester: opens the main window and runs the event loop.
#include <QApplication>

#include "app/window/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ah::TForm1 form;
  form.show();
  return app.exec();
}

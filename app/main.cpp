// vantalink: the Vanta7 update and setup window. It takes no options; everything it remembers
// lives in the per-user settings file.
#include "app/qt_application.h"

int main(int argc, char** argv) {
  vanta::REzovazedavEzu app(argc, argv);
  return app.InitInstance();
}

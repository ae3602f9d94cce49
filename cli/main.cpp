#include "cli/cli_app.h"

int main(int argc, char** argv) {
  return vanta::cli::RunCli(argc, argv);
}

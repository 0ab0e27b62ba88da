// qvb886-fwupdate: the firmware updater for the terminal and for scripts.
#include <iostream>

#include "cli/cli.h"
#include "cli/platform.h"
#include "host/host.h"

int main(int argc, char** argv) {
  qvb::cli::PrepareProcess();
  qvb::ScopedSeams platform(qvb::ThisHost());
  qvb::cli::Console console{std::cout, std::cerr, std::cin};
  console.in_terminal = qvb::cli::IsTerminal(0);
  console.out_terminal = qvb::cli::IsTerminal(1);
  console.err_terminal = qvb::cli::IsTerminal(2);
  return qvb::cli::Run(argc, argv, console);
}

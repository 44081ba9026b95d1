// album-harvest: the harvest run from a terminal.

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/cli_client.h"
#include "app/cli/harvest_command.h"
#include "app/cli/hidden_arguments.h"
#include "app/cli/progress_line.h"
#include "app/cli/terminal_prompt.h"
#include "app/fetch/stop_flag.h"
#include "transport/stack.h"

namespace {

ah::StopFlag g_stop;

extern "C" void OnResize(int) { ah::ProgressLine::NoteResize(); }

extern "C" void OnStopSignal(int) {
  g_stop.Request();
  // A page read that waits on a silent site gives way at once.
  ah::InterruptWaits();
}

// The first SIGINT or SIGTERM ends the run cleanly; a second one, with the
// default action back in place, ends the process at once.
void CatchStopSignals() {
  ah::EnableWaitInterrupts();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A peer that closes while a TLS record is written must not end the run.
  signal(SIGPIPE, SIG_IGN);
  // The progress line is redrawn to the new width.
  struct sigaction resize {};
  resize.sa_handler = OnResize;
  sigemptyset(&resize.sa_mask);
  resize.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &resize, nullptr);
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
  CatchStopSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  ah::HarvestEnvironment env;
  env.password = std::getenv("ALBUM_HARVEST_PASSWORD");
  env.home = Variable("HOME");
  env.config_home = Variable("XDG_CONFIG_HOME");
  env.ask_password = ah::AskOnTerminal;
  env.input = &std::cin;
  env.hide_argument = [argc, argv](const ah::SecretArgument& secret) {
    ah::HideArgument(argc, argv, int(secret.index) + 1, secret.offset);
  };
  return ah::HarvestMain(args, env, ah::CreateCliClient, std::cout, std::cerr, &g_stop,
                         isatty(STDERR_FILENO) == 1);
}

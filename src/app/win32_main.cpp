// The Windows process entry: a console program whose exit status is the command loop's.
#include "app/command_loop_entry.h"
#include "platform/win32/module_instance_win32.h"

int main() {
  return vorlin::run_command_loop(vorlin::current_module_instance());
}

// A stand-in for the command loop until the protocol front end is linked in: it starts the
// monitor thread with its hidden window and the real device backend, reads standard input until
// "QUIT" or its end, and answers nothing. Enough to run the program end to end under Wine.
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "app/command_loop_entry.h"
#include "platform/scoped_handle.h"
#include "platform/win32/monitor_window.h"
#include "platform/win32/win32_device_api.h"

namespace vorlin {
namespace {

void stand_in_scan(device_api& api) {
  scoped_device_set set(
      api, api.get_class_devs(usb_device_interface_class, digcf_present | digcf_deviceinterface));
}

void monitor_thread(void* module_instance) {
  const std::unique_ptr<device_api> api = make_win32_device_api();
  api->load_cfgmgr_functions();
  stand_in_scan(*api);
  monitor_window window(module_instance);
  if (!window.open([&api] { stand_in_scan(*api); })) return;
  stand_in_scan(*api);
  window.start_timer();
  window.run([&api] { stand_in_scan(*api); });
}

}  // namespace

int run_command_loop(void* module_instance) {
  std::thread(monitor_thread, module_instance).detach();
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    if (std::strncmp(line, "QUIT", 4) == 0) break;
  }
  return 0;
}

}  // namespace vorlin

// The Windows program: the command loop on standard input and output, and the monitor thread
// with the real device-management services and its hidden window.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>

#include "monitor/monitor_thread.h"
#include "monitor/usb_monitor.h"
#include "platform/win32/module_instance_win32.h"
#include "platform/win32/monitor_window.h"
#include "platform/win32/win32_device_api.h"
#include "ports/port_updates.h"
#include "protocol/command_loop.h"

namespace {

// Everything the two threads share. It is never destroyed: the process ends with the monitor
// thread wherever it is, maybe inside a scan that still uses the device services.
struct windows_service {
  explicit windows_service(void* module_instance) : window(module_instance) {
    state.module_instance = module_instance;
  }

  vorlin::service_state state{stdout};
  vorlin::port_updates updates{state};
  std::unique_ptr<vorlin::device_api> api = vorlin::make_win32_device_api();
  vorlin::usb_monitor monitor{*api, updates};
  vorlin::monitor_window window;
};

}  // namespace

int main() {
  static windows_service service(vorlin::current_module_instance());
  const int status = vorlin::command_loop(service.state, stdin, [] {
    try {
      std::thread([] {
        vorlin::monitor_thread(service.monitor, service.window,
                               [] { service.state.initial_scan_gate.open(); });
      }).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  });
  std::fflush(nullptr);
  std::_Exit(status);
}

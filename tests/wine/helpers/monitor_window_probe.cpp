// Runs the monitor's hidden window on its own thread, as the service does, with scans that only
// report themselves on standard output:
//   "open"          the window exists and its timer runs
//   "class ok"      the registered class has the settings the service relies on, or
//   "class wrong: ..." naming the first setting that differs
//   "scan sent"     a scan for a device-change message sent to the window
//   "scan loop"     a scan of the message loop (timer tick or posted device-change message)
// The main thread reads standard input until its end and then ends the process, which is how
// the service ends as well.
#include <windows.h>

#include <cstdio>
#include <thread>

#include "platform/win32/monitor_window.h"

namespace {

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

// The class as seen from the registering process (another process cannot read its cursor or
// brush).
void check_class() {
  WNDCLASSA found{};
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  const char* wrong = nullptr;
  if (!GetClassInfoA(instance, vorlin::monitor_window_class_name, &found)) {
    wrong = "not registered";
  } else if (found.style != CS_NOCLOSE) {
    wrong = "style";
  } else if (found.lpfnWndProc == nullptr) {
    wrong = "procedure";
  } else if (found.cbClsExtra != 0 || found.cbWndExtra != 0) {
    wrong = "extra bytes";
  } else if (found.hIcon != nullptr) {
    wrong = "icon";
  } else if (found.hCursor != LoadCursorA(nullptr, MAKEINTRESOURCEA(32512))) {
    wrong = "cursor";
  } else if (found.hbrBackground != reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)) {
    wrong = "background";
  } else if (found.lpszMenuName != nullptr) {
    wrong = "menu";
  }
  if (wrong == nullptr) {
    say("class ok");
  } else {
    std::printf("class wrong: %s\n", wrong);
    std::fflush(stdout);
  }
}

void monitor_thread() {
  vorlin::monitor_window window(GetModuleHandleA(nullptr));
  if (!window.open([] { say("scan sent"); })) {
    say("open failed");
    return;
  }
  window.start_timer();
  say("open");
  check_class();
  window.run([] { say("scan loop"); });
}

}  // namespace

int main() {
  std::thread(monitor_thread).detach();
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
  }
  return 0;
}

#include "platform/win32/monitor_window.h"

#include <windows.h>

#include <utility>

namespace vorlin {
namespace {

constexpr UINT class_style = CS_NOCLOSE;
static_assert(class_style == 0x200, "");
static_assert(WM_DEVICECHANGE == 0x219 && WM_TIMER == 0x113, "");
constexpr WORD arrow_cursor = 32512;  // IDC_ARROW, named here to keep the 8-bit call explicit
constexpr UINT_PTR timer_id = 0;

constexpr int window_x = 50;
constexpr int window_y = 50;
constexpr int window_width = 100;
constexpr int window_height = 100;

// Device-change messages that are sent to the window (the system broadcasts them with
// SendMessage) arrive here, inside the message loop's own calls, on the monitor thread. Posted
// messages never get here: the loop takes them itself and dispatches nothing.
LRESULT CALLBACK monitor_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DEVICECHANGE) {
    // Zero until open() has stored the owner: a change announced while the window is still
    // being created is not lost, because open()'s caller scans right after the window exists.
    auto* owner = reinterpret_cast<monitor_window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (owner != nullptr) owner->on_sent_device_change();
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

monitor_window::monitor_window(void* module_instance) : module_instance_(module_instance) {}

monitor_window::~monitor_window() {
  if (window_ == nullptr) return;
  const HWND window = static_cast<HWND>(window_);
  // Detach first: a message that still reaches the procedure must not find this object.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

bool monitor_window::open(scan_request scan_on_sent_change) {
  scan_on_sent_change_ = std::move(scan_on_sent_change);

  WNDCLASSA window_class{};
  window_class.style = class_style;
  window_class.lpfnWndProc = monitor_window_proc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = 0;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hIcon = nullptr;
  window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(arrow_cursor));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = monitor_window_class_name;
  // A class registered earlier by this same program carries this same procedure, so a second
  // window of the program (a test's, say) can use it.
  if (RegisterClassA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }

  // Style 0 and never shown: an overlapped top-level window that nobody sees. It has to be
  // top-level (not message-only) because only top-level windows receive the broadcast
  // device-change messages.
  const HWND window = CreateWindowExA(0, monitor_window_class_name, monitor_window_title, 0,
                                      window_x, window_y, window_width, window_height, nullptr,
                                      nullptr, static_cast<HINSTANCE>(module_instance_), nullptr);
  if (window == nullptr) return false;
  window_ = window;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

void monitor_window::start_timer() {
  SetTimer(static_cast<HWND>(window_), timer_id, monitor_timer_period_ms, nullptr);
}

void monitor_window::on_sent_device_change() {
  if (scan_on_sent_change_) scan_on_sent_change_();
}

void monitor_window::run(const scan_request& scan) {
  const HWND window = static_cast<HWND>(window_);
  MSG message;
  for (;;) {
    WaitMessage();
    for (;;) {
      const BOOL result = GetMessageA(&message, window, 0, 0);
      if (result == 0) break;  // a quit message ends nothing: back to waiting
      if (result == -1) {
        // GetMessageA fails only on bad arguments, which here means the window is gone. It then
        // fails at once on every call, so retrying at once would spin; going back to WaitMessage
        // could spin too, since a call that failed need not have marked the queued messages as
        // seen. Pausing one timer period bounds the retries, keeps the loop alive should the
        // failure pass, and loses nothing: messages wait in the queue meanwhile.
        Sleep(monitor_timer_period_ms);
        continue;
      }
      if (message.message == WM_DEVICECHANGE || message.message == WM_TIMER) scan();
    }
  }
}

}  // namespace vorlin

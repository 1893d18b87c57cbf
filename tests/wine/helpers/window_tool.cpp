// Looks at the monitor's hidden window from another process, the way the system and other
// programs see it, and sends it messages.
//
//   window-tool check          wait up to 20 s for the window, then check how it was made
//   window-tool broadcast      announce a device change to every top-level window, as the system
//                              does (sent, not posted)
//   window-tool post quit|change|other
//                              post one message to the window
//   window-tool cycle WORLD PLUGGED UNPLUGGED CYCLES PAUSE-MS
//                              plug and unplug cycles through the fakes' world file
// Exit status 0 on success; the reason of a failure goes to standard error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr const char* class_name = "Vorlin Port Discovery";
constexpr const char* title = "dummy window";
constexpr WPARAM dbt_devnodes_changed = 7;

HWND find_window(int wait_ms) {
  for (int waited = 0;; waited += 100) {
    const HWND window = FindWindowA(class_name, title);
    if (window != nullptr || waited >= wait_ms) return window;
    Sleep(100);
  }
}

int check() {
  const HWND window = find_window(20000);
  if (window == nullptr) {
    std::fprintf(stderr, "no window of class \"%s\" titled \"%s\"\n", class_name, title);
    return 1;
  }
  int failures = 0;
  auto expect = [&failures](bool ok, const char* what) {
    if (!ok) {
      std::fprintf(stderr, "window check failed: %s\n", what);
      ++failures;
    }
  };
  expect(!IsWindowVisible(window), "the window is never shown");
  expect((GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) == 0, "no WS_VISIBLE style");
  expect(GetAncestor(window, GA_PARENT) == GetDesktopWindow(), "a top-level window");
  expect(GetWindow(window, GW_OWNER) == nullptr, "no owner");
  expect(GetMenu(window) == nullptr, "no menu");
  // The size asked for is 100 by 100; the system may widen a captioned window to its minimum
  // tracking width (Wine makes it 112), so only the position and height are exact.
  RECT rect{};
  GetWindowRect(window, &rect);
  if (rect.left != 50 || rect.top != 50 || rect.bottom - rect.top != 100 ||
      rect.right - rect.left < 100) {
    std::fprintf(stderr, "window check failed: at 50,50, 100 high: %ld,%ld,%ld,%ld\n", rect.left,
                 rect.top, rect.right, rect.bottom);
    ++failures;
  }
  // The cursor and background of a class live in the process that registered it; the probe
  // checks those from inside.
  expect(GetClassLongA(window, GCL_STYLE) == CS_NOCLOSE, "class style CS_NOCLOSE only");
  expect(GetClassLongA(window, GCL_CBCLSEXTRA) == 0, "no extra class bytes");
  expect(GetClassLongA(window, GCL_CBWNDEXTRA) == 0, "no extra window bytes");
  return failures == 0 ? 0 : 1;
}

int broadcast() {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, dbt_devnodes_changed, 0,
                          SMTO_ABORTIFHUNG, 10000, &result) == 0) {
    std::fprintf(stderr, "broadcast failed (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}

int post(const char* what) {
  UINT message;
  if (std::strcmp(what, "quit") == 0) {
    message = WM_QUIT;
  } else if (std::strcmp(what, "change") == 0) {
    message = WM_DEVICECHANGE;
  } else if (std::strcmp(what, "other") == 0) {
    message = WM_USER;
  } else {
    std::fprintf(stderr, "post: unknown message %s\n", what);
    return 2;
  }
  const HWND window = find_window(20000);
  if (window == nullptr || !PostMessageA(window, message, 0, 0)) {
    std::fprintf(stderr, "post %s failed\n", what);
    return 1;
  }
  return 0;
}

// Plug and unplug cycles at the speed of scans: copies the world file `plugged`, then `unplugged`,
// over `world`, `cycles` times, posting a device-change message to the service after each copy
// and giving its scan `pause_ms` to run.
int cycle(const char* world, const char* plugged, const char* unplugged, int cycles, int pause_ms) {
  const HWND window = find_window(20000);
  if (window == nullptr) {
    std::fprintf(stderr, "cycle: no window\n");
    return 1;
  }
  for (int i = 0; i < cycles; ++i) {
    for (const char* state : {plugged, unplugged}) {
      if (!CopyFileA(state, world, FALSE) || !PostMessageA(window, WM_DEVICECHANGE, 0, 0)) {
        std::fprintf(stderr, "cycle %d failed (error %lu)\n", i, GetLastError());
        return 1;
      }
      Sleep(static_cast<DWORD>(pause_ms));
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "cycle") == 0) {
    return cycle(argv[2], argv[3], argv[4], std::atoi(argv[5]), std::atoi(argv[6]));
  }
  if (argc == 2 && std::strcmp(argv[1], "check") == 0) return check();
  if (argc == 2 && std::strcmp(argv[1], "broadcast") == 0) return broadcast();
  if (argc == 3 && std::strcmp(argv[1], "post") == 0) return post(argv[2]);
  std::fprintf(stderr,
               "usage: window-tool check | broadcast | post quit|change|other\n"
               "       window-tool cycle WORLD PLUGGED UNPLUGGED CYCLES PAUSE-MS\n");
  return 2;
}

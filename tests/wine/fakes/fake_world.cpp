#include "fake_world.h"

#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "platform/world/world_file.h"

namespace vorlin::fake {
namespace {

constexpr char key_root[] = "Software\\Vorlin Fake World\\Nodes";

struct file_stamp {
  FILETIME written{};
  DWORD size = 0;
  bool operator==(const file_stamp& o) const {
    return CompareFileTime(&written, &o.written) == 0 && size == o.size;
  }
};

struct state {
  std::mutex lock;
  world::device_world world;
  std::unique_ptr<world::world_player> player;
  std::string path;
  file_stamp stamp;
  bool loaded = false;
  std::set<std::string> hid_files;  // interface paths whose stand-in files exist
};

state& the_state() {
  static state s;
  return s;
}

bool read_stamp(const std::string& path, file_stamp& out) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  out.written = data.ftLastWriteTime;
  out.size = data.nFileSizeLow;
  return true;
}

// Under Wine, CreateFileA on an interface path "\\?\X" opens the file X of the prefix's
// dosdevices folder. The fakes make such a file for every HID interface that can be opened; it
// holds the interface path, so the HID functions can tell which interface a handle belongs to.
std::string stand_in_file(const std::string& interface_path) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || interface_path.compare(0, 4, "\\\\?\\") != 0) return "";
  std::string file = std::string("Z:") + prefix + "/dosdevices/" + interface_path.substr(4);
  for (char& c : file) {
    if (c == '/') c = '\\';
  }
  return file;
}

// Stand-in files left by an earlier run would make interfaces of boards long gone openable.
void remove_stale_hid_files() {
  const std::string any = stand_in_file("\\\\?\\hid#*");
  if (any.empty()) return;
  const std::string folder = any.substr(0, any.rfind('\\') + 1);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(any.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    DeleteFileA((folder + found.cFileName).c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void sync_hid_files(state& s) {
  std::set<std::string> wanted;
  for (const auto& [name, made] : s.player->plugged()) {
    const world::world_board* described = s.player->description().find(name);
    for (std::size_t i = 0; i < made.hid_paths.size(); ++i) {
      if (described != nullptr && i < described->spec.hid.size() &&
          !described->spec.hid[i].openable) {
        continue;  // held by another program: opening it fails
      }
      wanted.insert(made.hid_paths[i]);
    }
  }
  for (const auto& path : s.hid_files) {
    if (wanted.count(path) == 0) DeleteFileA(stand_in_file(path).c_str());
  }
  for (const auto& path : wanted) {
    if (s.hid_files.count(path) != 0) continue;
    HANDLE file =
        CreateFileA(stand_in_file(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    WriteFile(file, path.c_str(), static_cast<DWORD>(path.size() + 1), &written, nullptr);
    CloseHandle(file);
  }
  s.hid_files = wanted;
}

void refresh(state& s) {
  if (s.path.empty()) {
    const char* path = std::getenv("VORLIN_FAKE_WORLD");
    if (path == nullptr || *path == '\0') {
      if (!s.player) {
        s.player = std::make_unique<world::world_player>(s.world, world::world_description{});
        s.player->start();
      }
      return;
    }
    s.path = path;
  }
  file_stamp stamp;
  if (!read_stamp(s.path, stamp) || (s.loaded && stamp == s.stamp)) return;
  world::world_description next;
  std::string error;
  if (!world::load_world_file(s.path, next, error)) {
    // A half-written file: keep the world as it is and try again on the next call.
    OutputDebugStringA(error.c_str());
    return;
  }
  s.stamp = stamp;
  s.loaded = true;
  if (!s.player) {
    remove_stale_hid_files();
    s.player = std::make_unique<world::world_player>(s.world, next);
    s.player->start();
  } else {
    s.player->reconcile(next);
  }
  sync_hid_files(s);
}

}  // namespace

world_access::world_access() : hold_(the_state().lock), world_(&the_state().world) {
  refresh(the_state());
}

HKEY real_hardware_key(world::device_world& world, registry_key world_key, devinst_t node) {
  char value[512];
  std::uint32_t size = sizeof value;
  const bool has_port_name = world.query_value(world_key, "PortName", value, &size) == 0;
  world.close_key(world_key);

  const std::string path = std::string(key_root) + "\\" + std::to_string(node);
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  if (has_port_name) {
    RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), size);
  } else {
    RegDeleteValueA(key, "PortName");
  }
  return key;
}

}  // namespace vorlin::fake

#include "platform/win32/win32_device_api.h"

// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
// This toolchain's HID headers declare the functions without C linkage.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace vorlin {
namespace {

// The portable records are handed to the platform byte for byte, so their layouts must be the
// platform's: the same size and every field at the same offset. The size fields the monitor sets
// are those of the 32-bit layout, the product's. A 64-bit build exists only to run the Windows
// tests where the machine cannot run 32-bit programs; it hands the platform its own layout's size
// values instead (see to_platform).
#ifndef _WIN64
static_assert(sizeof(void*) == 4, "the device records follow the 32-bit Windows layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == device_interface_data_size_field, "");
static_assert(sizeof(SP_DEVINFO_DATA) == device_info_data_size_field, "");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == interface_detail_size_field, "");
#endif

static_assert(sizeof(guid) == sizeof(GUID), "GUID is 16 bytes");
static_assert(std::is_trivially_copyable<guid>::value, "copied byte for byte");

static_assert(sizeof(device_interface_data) == sizeof(SP_DEVICE_INTERFACE_DATA), "");
static_assert(offsetof(device_interface_data, interface_class) ==
                  offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid),
              "");
static_assert(offsetof(device_interface_data, flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags),
              "");
static_assert(offsetof(device_interface_data, reserved) ==
                  offsetof(SP_DEVICE_INTERFACE_DATA, Reserved),
              "");

static_assert(sizeof(device_info_data) == sizeof(SP_DEVINFO_DATA), "");
static_assert(offsetof(device_info_data, class_guid) == offsetof(SP_DEVINFO_DATA, ClassGuid), "");
static_assert(offsetof(device_info_data, dev_inst) == offsetof(SP_DEVINFO_DATA, DevInst), "");
static_assert(offsetof(device_info_data, reserved) == offsetof(SP_DEVINFO_DATA, Reserved), "");

// The detail record is a raw buffer of the caller's; only its size field and path offset matter.
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) ==
                  interface_detail_path_offset,
              "");

static_assert(sizeof(HIDD_ATTRIBUTES) == hid_attributes_size_field, "");
static_assert(sizeof(hid_attributes) == sizeof(HIDD_ATTRIBUTES), "");
static_assert(offsetof(hid_attributes, vendor_id) == offsetof(HIDD_ATTRIBUTES, VendorID), "");
static_assert(offsetof(hid_attributes, product_id) == offsetof(HIDD_ATTRIBUTES, ProductID), "");
static_assert(offsetof(hid_attributes, version_number) == offsetof(HIDD_ATTRIBUTES, VersionNumber),
              "");

// The handle kinds of the interface must be able to carry the platform's handles, and their
// invalid values must be the platform's.
static_assert(sizeof(device_set) == sizeof(HDEVINFO), "");
static_assert(sizeof(registry_key) == sizeof(HKEY), "");
static_assert(sizeof(file_handle) == sizeof(HANDLE), "");
static_assert(sizeof(preparsed_data) == sizeof(PHIDP_PREPARSED_DATA), "");
static_assert(sizeof(DEVINST) == sizeof(devinst_t), "");

// Returned by the configuration-manager wrappers when the platform reports success but did not
// deliver what it promised, and when an optional function is missing: both mean "not available".
constexpr std::uint32_t cr_no_such_devnode = CR_NO_SUCH_DEVNODE;
constexpr std::uint32_t cr_call_not_implemented = CR_CALL_NOT_IMPLEMENTED;
static_assert(CR_SUCCESS == 0, "the interface reports success as 0");

using get_devnode_registry_property_fn = decltype(&CM_Get_DevNode_Registry_PropertyW);
using open_devnode_key_fn = decltype(&CM_Open_DevNode_Key);

// The size field the platform expects of a record: the monitor's own value in the 32-bit build
// (asserted equal above), the platform layout's in the 64-bit test build.
template <typename PlatformRecord>
void use_platform_size(PlatformRecord&) {}
#ifdef _WIN64
void use_platform_size(SP_DEVICE_INTERFACE_DATA& record) {
  record.cbSize = sizeof record;
}
void use_platform_size(SP_DEVINFO_DATA& record) {
  record.cbSize = sizeof record;
}
#endif

// A record that comes back keeps its own size field.
template <typename Record>
void keep_size_field(const Record&, Record&) {}
void keep_size_field(const device_interface_data& before, device_interface_data& after) {
  after.size_bytes = before.size_bytes;
}
void keep_size_field(const device_info_data& before, device_info_data& after) {
  after.size_bytes = before.size_bytes;
}

template <typename Record, typename PlatformRecord>
PlatformRecord to_platform(const Record& record) {
  static_assert(sizeof(Record) == sizeof(PlatformRecord), "");
  PlatformRecord platform;
  std::memcpy(&platform, &record, sizeof platform);
  use_platform_size(platform);
  return platform;
}

template <typename Record, typename PlatformRecord>
void from_platform(const PlatformRecord& platform, Record& record) {
  static_assert(sizeof(Record) == sizeof(PlatformRecord), "");
  const Record before = record;
  std::memcpy(&record, &platform, sizeof record);
  keep_size_field(before, record);
}

// The interface-detail record's size field, likewise, for the length of one call.
class detail_size_field {
 public:
  explicit detail_size_field(void* detail) : field_(static_cast<DWORD*>(detail)) {
#ifdef _WIN64
    if (field_ != nullptr) {
      kept_ = *field_;
      *field_ = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    }
#endif
  }
  ~detail_size_field() {
    if (field_ != nullptr && kept_ != 0) *field_ = kept_;
  }
  detail_size_field(const detail_size_field&) = delete;
  detail_size_field& operator=(const detail_size_field&) = delete;

 private:
  DWORD* field_;
  DWORD kept_ = 0;
};

GUID to_platform_guid(const guid& g) {
  return to_platform<guid, GUID>(g);
}

HDEVINFO to_hdevinfo(device_set set) {
  return reinterpret_cast<HDEVINFO>(set);
}
HKEY to_hkey(registry_key key) {
  return reinterpret_cast<HKEY>(key);
}
HANDLE to_handle(file_handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}
PHIDP_PREPARSED_DATA to_preparsed(preparsed_data data) {
  return reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
}

// SetupAPI and CreateFileA report failure with INVALID_HANDLE_VALUE; null is never a handle
// either, so both become the interface's invalid value.
bool usable_handle(const void* handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// GetProcAddress hands out a generic function pointer; the exported function has the type of its
// declaration. Going through `void (*)()` is the conversion the compiler accepts as deliberate.
template <typename Function>
Function function_cast(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

class win32_device_api final : public device_api {
 public:
  win32_device_api() = default;
  win32_device_api(const win32_device_api&) = delete;
  win32_device_api& operator=(const win32_device_api&) = delete;
  ~win32_device_api() override {
    if (cfgmgr_module_ != nullptr) FreeLibrary(cfgmgr_module_);
  }

  device_set get_class_devs(const guid& class_guid, std::uint32_t flags) override {
    const GUID platform_guid = to_platform_guid(class_guid);
    const HDEVINFO set = SetupDiGetClassDevsA(&platform_guid, nullptr, nullptr, flags);
    if (!usable_handle(set)) return invalid_device_set;
    return reinterpret_cast<device_set>(set);
  }

  bool enum_device_interfaces(device_set set, const guid& interface_class, std::uint32_t index,
                              device_interface_data& out) override {
    const GUID platform_guid = to_platform_guid(interface_class);
    auto data = to_platform<device_interface_data, SP_DEVICE_INTERFACE_DATA>(out);
    if (!SetupDiEnumDeviceInterfaces(to_hdevinfo(set), nullptr, &platform_guid, index, &data)) {
      return false;
    }
    from_platform(data, out);
    return true;
  }

  bool enum_device_info(device_set set, std::uint32_t index, device_info_data& out) override {
    auto data = to_platform<device_info_data, SP_DEVINFO_DATA>(out);
    if (!SetupDiEnumDeviceInfo(to_hdevinfo(set), index, &data)) return false;
    from_platform(data, out);
    return true;
  }

  bool get_device_interface_detail(device_set set, const device_interface_data& iface, void* detail,
                                   std::uint32_t detail_size_bytes,
                                   std::uint32_t* required_size_bytes,
                                   device_info_data* info) override {
    auto interface_data = to_platform<device_interface_data, SP_DEVICE_INTERFACE_DATA>(iface);
    SP_DEVINFO_DATA info_data{};
    if (info != nullptr) info_data = to_platform<device_info_data, SP_DEVINFO_DATA>(*info);
    // A size query fails by design (insufficient buffer) and still reports the size, so the size
    // is passed on whenever the platform wrote one; no record is ever 0 bytes long.
    DWORD required = 0;
    const detail_size_field platform_size(detail);
    const BOOL ok = SetupDiGetDeviceInterfaceDetailA(
        to_hdevinfo(set), &interface_data, static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detail),
        detail_size_bytes, required_size_bytes != nullptr ? &required : nullptr,
        info != nullptr ? &info_data : nullptr);
    if (required_size_bytes != nullptr && required != 0) *required_size_bytes = required;
    if (!ok) return false;
    if (info != nullptr) from_platform(info_data, *info);
    return true;
  }

  bool get_device_registry_property(device_set set, const device_info_data& info,
                                    std::uint32_t property, void* buffer,
                                    std::uint32_t buffer_size_bytes) override {
    auto info_data = to_platform<device_info_data, SP_DEVINFO_DATA>(info);
    return SetupDiGetDeviceRegistryPropertyA(to_hdevinfo(set), &info_data, property, nullptr,
                                             static_cast<PBYTE>(buffer), buffer_size_bytes,
                                             nullptr) != FALSE;
  }

  registry_key open_dev_reg_key(device_set set, const device_info_data& info, std::uint32_t scope,
                                std::uint32_t hw_profile, std::uint32_t key_type,
                                std::uint32_t access) override {
    auto info_data = to_platform<device_info_data, SP_DEVINFO_DATA>(info);
    const HKEY key =
        SetupDiOpenDevRegKey(to_hdevinfo(set), &info_data, scope, hw_profile, key_type, access);
    if (!usable_handle(key)) return invalid_registry_key;
    return reinterpret_cast<registry_key>(key);
  }

  void destroy_device_info_list(device_set set) override {
    SetupDiDestroyDeviceInfoList(to_hdevinfo(set));
  }

  long query_value(registry_key key, const char* name, void* buffer,
                   std::uint32_t* size_bytes) override {
    DWORD size = *size_bytes;
    const LONG status =
        RegQueryValueExA(to_hkey(key), name, nullptr, nullptr, static_cast<LPBYTE>(buffer), &size);
    if (status == ERROR_SUCCESS) *size_bytes = size;
    return status;
  }

  void close_key(registry_key key) override { RegCloseKey(to_hkey(key)); }

  std::uint32_t get_parent(devinst_t& out, devinst_t node) override {
    return walk(CM_Get_Parent, out, node);
  }
  std::uint32_t get_child(devinst_t& out, devinst_t node) override {
    return walk(CM_Get_Child, out, node);
  }
  std::uint32_t get_sibling(devinst_t& out, devinst_t node) override {
    return walk(CM_Get_Sibling, out, node);
  }

  cfgmgr_functions load_cfgmgr_functions() override {
    if (cfgmgr_module_ == nullptr) {
      cfgmgr_module_ = LoadLibraryA("cfgmgr32");
      if (cfgmgr_module_ != nullptr) {
        get_devnode_registry_property_ = function_cast<get_devnode_registry_property_fn>(
            GetProcAddress(cfgmgr_module_, "CM_Get_DevNode_Registry_PropertyW"));
        open_devnode_key_ = function_cast<open_devnode_key_fn>(
            GetProcAddress(cfgmgr_module_, "CM_Open_DevNode_Key"));
      }
    }
    cfgmgr_functions found;
    found.devnode_registry_property = get_devnode_registry_property_ != nullptr;
    found.open_devnode_key = open_devnode_key_ != nullptr;
    return found;
  }

  std::uint32_t get_devnode_registry_property(devinst_t node, std::uint32_t property, void* buffer,
                                              std::uint32_t* size_bytes) override {
    if (get_devnode_registry_property_ == nullptr) return cr_call_not_implemented;
    ULONG length = *size_bytes;
    const CONFIGRET result =
        get_devnode_registry_property_(node, property, nullptr, buffer, &length, 0);
    if (result == CR_SUCCESS) *size_bytes = length;
    return result;
  }

  std::uint32_t open_devnode_key(devinst_t node, std::uint32_t access, std::uint32_t hw_profile,
                                 std::uint32_t disposition, registry_key& out,
                                 std::uint32_t flags) override {
    if (open_devnode_key_ == nullptr) return cr_call_not_implemented;
    HKEY key = nullptr;
    const CONFIGRET result = open_devnode_key_(node, access, hw_profile, disposition, &key, flags);
    if (result != CR_SUCCESS) return result;
    // Success without a key would hand the caller a handle it must not close.
    if (!usable_handle(key)) return cr_no_such_devnode;
    out = reinterpret_cast<registry_key>(key);
    return CR_SUCCESS;
  }

  guid hid_guid() override {
    GUID platform_guid;
    HidD_GetHidGuid(&platform_guid);
    guid result;
    from_platform(platform_guid, result);
    return result;
  }

  file_handle open_file(const char* path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t disposition, std::uint32_t flags) override {
    const HANDLE handle = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    if (!usable_handle(handle)) return invalid_file_handle;
    return reinterpret_cast<file_handle>(handle);
  }

  void close_handle(file_handle handle) override { CloseHandle(to_handle(handle)); }

  bool hid_get_attributes(file_handle handle, hid_attributes& out) override {
    auto attributes = to_platform<hid_attributes, HIDD_ATTRIBUTES>(out);
    if (!HidD_GetAttributes(to_handle(handle), &attributes)) return false;
    from_platform(attributes, out);
    return true;
  }

  preparsed_data hid_get_preparsed_data(file_handle handle) override {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!HidD_GetPreparsedData(to_handle(handle), &data) || data == nullptr) {
      return invalid_preparsed_data;
    }
    return reinterpret_cast<preparsed_data>(data);
  }

  bool hid_get_caps(preparsed_data data, hid_caps& out) override {
    HIDP_CAPS caps;
    if (HidP_GetCaps(to_preparsed(data), &caps) != HIDP_STATUS_SUCCESS) return false;
    out.usage = caps.Usage;
    out.usage_page = caps.UsagePage;
    return true;
  }

  void hid_free_preparsed_data(preparsed_data data) override {
    HidD_FreePreparsedData(to_preparsed(data));
  }

 private:
  // The tree walk. Some configuration managers report success without writing the node (Wine's
  // CM_Get_Child does); a walk that took the stale value would loop or wander, so success only
  // counts when a node other than the starting one came back.
  template <typename Walk>
  static std::uint32_t walk(Walk platform_walk, devinst_t& out, devinst_t node) {
    DEVINST next = node;
    const CONFIGRET result = platform_walk(&next, node, 0);
    if (result != CR_SUCCESS) return result;
    if (next == node) return cr_no_such_devnode;
    out = next;
    return CR_SUCCESS;
  }

  HMODULE cfgmgr_module_ = nullptr;
  get_devnode_registry_property_fn get_devnode_registry_property_ = nullptr;
  open_devnode_key_fn open_devnode_key_ = nullptr;
};

}  // namespace

std::unique_ptr<device_api> make_win32_device_api() {
  return std::make_unique<win32_device_api>();
}

}  // namespace vorlin

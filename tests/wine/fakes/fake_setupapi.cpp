// The fake system functions: device-information sets, the device tree, and the HID queries, all
// answered from the fake world. cfgmgr32.dll and hid.dll forward their functions here, so that
// one world serves all three.
#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <cfgmgr32.h>
// The HID headers declare their functions without C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include "fake_world.h"

using vorlin::fake::world_access;

namespace {

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == sizeof(vorlin::device_interface_data),
              "interface data layouts must agree");
static_assert(sizeof(SP_DEVINFO_DATA) == sizeof(vorlin::device_info_data),
              "device information layouts must agree");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "attributes layout");

vorlin::device_set as_set(HDEVINFO set) {
  return reinterpret_cast<vorlin::device_set>(set);
}

// The world checks the size fields of the 32-bit layout, which the service sets. A 64-bit test
// build of the service sets its own layout's sizes (same fields, wider padding): the fakes stand
// in for the 32-bit values while the world looks at the record.
class size_field_as_32_bit {
 public:
  size_field_as_32_bit(DWORD* field, DWORD size_64, std::uint32_t size_32)
      : field_(field), original_(field != nullptr ? *field : 0) {
    if (field_ != nullptr && sizeof(void*) == 8 && *field_ == size_64) *field_ = size_32;
  }
  ~size_field_as_32_bit() {
    if (field_ != nullptr) *field_ = original_;
  }
  size_field_as_32_bit(const size_field_as_32_bit&) = delete;
  size_field_as_32_bit& operator=(const size_field_as_32_bit&) = delete;

 private:
  DWORD* field_;
  DWORD original_;
};
constexpr DWORD detail_size_64 = 8;

size_field_as_32_bit standing_in(SP_DEVICE_INTERFACE_DATA* d) {
  return {d != nullptr ? &d->cbSize : nullptr, sizeof(SP_DEVICE_INTERFACE_DATA),
          vorlin::device_interface_data_size_field};
}
size_field_as_32_bit standing_in(SP_DEVINFO_DATA* d) {
  return {d != nullptr ? &d->cbSize : nullptr, sizeof(SP_DEVINFO_DATA),
          vorlin::device_info_data_size_field};
}

const vorlin::device_interface_data& as_iface(const SP_DEVICE_INTERFACE_DATA* d) {
  return *reinterpret_cast<const vorlin::device_interface_data*>(d);
}
vorlin::device_info_data* as_info(SP_DEVINFO_DATA* d) {
  return reinterpret_cast<vorlin::device_info_data*>(d);
}

// The interface path a HID handle was opened on: its stand-in file holds it. The handle is
// opened for overlapped access, so the read is overlapped too.
bool path_of(HANDLE file, char (&path)[1024]) {
  OVERLAPPED at{};
  at.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD read = 0;
  BOOL ok = ReadFile(file, path, sizeof path - 1, &read, &at);
  if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(file, &at, &read, TRUE);
  CloseHandle(at.hEvent);
  if (!ok || read == 0) return false;
  path[read < sizeof path ? read : sizeof path - 1] = '\0';
  return true;
}

// Opens the world's HID device behind a real handle; invalid when it cannot.
vorlin::file_handle world_hid(vorlin::world::device_world& world, HANDLE file) {
  char path[1024];
  if (!path_of(file, path)) return vorlin::invalid_file_handle;
  return world.open_file(path, vorlin::hid_open_access, vorlin::hid_open_share,
                         vorlin::hid_open_disposition, vorlin::hid_open_flags);
}

// One step of the tree walk; the node is written only when there is one.
CONFIGRET walk(std::uint32_t (vorlin::device_api::*step)(vorlin::devinst_t&, vorlin::devinst_t),
               PDEVINST out, DEVINST node) {
  world_access world;
  vorlin::devinst_t next = 0;
  const auto result = ((*world).*step)(next, node);
  if (result == 0) *out = next;
  return result;
}

}  // namespace

extern "C" {

__declspec(dllexport) HDEVINFO WINAPI
    SetupDiGetClassDevsA(const GUID* class_guid, PCSTR, HWND, DWORD flags) {
  world_access world;
  const auto set = world->get_class_devs(*reinterpret_cast<const vorlin::guid*>(class_guid), flags);
  return reinterpret_cast<HDEVINFO>(set);
}

__declspec(dllexport) WINBOOL WINAPI
    SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interface_class,
                                DWORD index, PSP_DEVICE_INTERFACE_DATA out) {
  world_access world;
  const auto out_size = standing_in(out);
  const bool ok = world->enum_device_interfaces(
      as_set(set), *reinterpret_cast<const vorlin::guid*>(interface_class), index,
      *reinterpret_cast<vorlin::device_interface_data*>(out));
  if (!ok) SetLastError(ERROR_NO_MORE_ITEMS);
  return ok;
}

__declspec(dllexport) WINBOOL WINAPI
    SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA out) {
  world_access world;
  const auto out_size = standing_in(out);
  const bool ok = world->enum_device_info(as_set(set), index, *as_info(out));
  if (!ok) SetLastError(ERROR_NO_MORE_ITEMS);
  return ok;
}

__declspec(dllexport) WINBOOL WINAPI
    SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detail_size,
                                     PDWORD required_size, PSP_DEVINFO_DATA info) {
  world_access world;
  const auto iface_size = standing_in(iface);
  const auto info_size = standing_in(info);
  const size_field_as_32_bit detail_size_field(detail != nullptr ? &detail->cbSize : nullptr,
                                               detail_size_64, vorlin::interface_detail_size_field);
  std::uint32_t required = 0;
  const bool ok = world->get_device_interface_detail(as_set(set), as_iface(iface), detail,
                                                     detail_size, &required, as_info(info));
  if (required_size != nullptr) *required_size = required;
  if (!ok) SetLastError(detail == nullptr ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_DATA);
  return ok;
}

__declspec(dllexport) WINBOOL WINAPI
    SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA info, DWORD property,
                                      PDWORD type, PBYTE buffer, DWORD buffer_size,
                                      PDWORD required_size) {
  world_access world;
  const auto info_size = standing_in(info);
  const bool ok = world->get_device_registry_property(as_set(set), *as_info(info), property, buffer,
                                                      buffer_size);
  if (type != nullptr) *type = property == SPDRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
  if (required_size != nullptr) *required_size = buffer_size;
  if (!ok) SetLastError(ERROR_INVALID_DATA);
  return ok;
}

__declspec(dllexport) HKEY WINAPI
    SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA info, DWORD scope, DWORD profile,
                         DWORD key_type, REGSAM access) {
  world_access world;
  const auto info_size = standing_in(info);
  const auto key =
      world->open_dev_reg_key(as_set(set), *as_info(info), scope, profile, key_type, access);
  if (key == vorlin::invalid_registry_key) return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  HKEY real = vorlin::fake::real_hardware_key(*world, key, as_info(info)->dev_inst);
  return real != nullptr ? real : static_cast<HKEY>(INVALID_HANDLE_VALUE);
}

__declspec(dllexport) WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  world_access world;
  world->destroy_device_info_list(as_set(set));
  return TRUE;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Parent(PDEVINST out, DEVINST node, ULONG) {
  return walk(&vorlin::device_api::get_parent, out, node);
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Child(PDEVINST out, DEVINST node, ULONG) {
  return walk(&vorlin::device_api::get_child, out, node);
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Sibling(PDEVINST out, DEVINST node, ULONG) {
  return walk(&vorlin::device_api::get_sibling, out, node);
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                      PULONG length, ULONG) {
  world_access world;
  // A world file can take the function away; the service then must not have found it.
  if (!world->load_cfgmgr_functions().devnode_registry_property) return CR_CALL_NOT_IMPLEMENTED;
  std::uint32_t size = *length;
  const auto result = world->get_devnode_registry_property(node, property, buffer, &size);
  *length = size;
  if (type != nullptr) *type = property == CM_DRP_ADDRESS ? REG_DWORD : REG_SZ;
  return result;
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Open_DevNode_Key(DEVINST node, REGSAM access, ULONG profile, REGDISPOSITION disposition,
                        PHKEY out, ULONG flags) {
  world_access world;
  if (!world->load_cfgmgr_functions().open_devnode_key) return CR_CALL_NOT_IMPLEMENTED;
  vorlin::registry_key key = vorlin::invalid_registry_key;
  const auto result = world->open_devnode_key(node, access, profile, disposition, key, flags);
  if (result != 0) return result;
  HKEY real = vorlin::fake::real_hardware_key(*world, key, node);
  if (real == nullptr) return CR_NO_SUCH_REGISTRY_KEY;
  *out = real;
  return CR_SUCCESS;
}

__declspec(dllexport) void NTAPI HidD_GetHidGuid(LPGUID out) {
  world_access world;
  const vorlin::guid g = world->hid_guid();
  *out = *reinterpret_cast<const GUID*>(&g);
}

__declspec(dllexport) BOOLEAN NTAPI HidD_GetAttributes(HANDLE file, PHIDD_ATTRIBUTES out) {
  world_access world;
  const auto hid = world_hid(*world, file);
  if (hid == vorlin::invalid_file_handle) return FALSE;
  vorlin::hid_attributes attributes{};
  attributes.size_bytes = out->Size;
  const bool ok = world->hid_get_attributes(hid, attributes);
  world->close_handle(hid);
  if (!ok) return FALSE;
  out->VendorID = attributes.vendor_id;
  out->ProductID = attributes.product_id;
  out->VersionNumber = attributes.version_number;
  return TRUE;
}

__declspec(dllexport) BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE file, PHIDP_PREPARSED_DATA* out) {
  world_access world;
  const auto hid = world_hid(*world, file);
  if (hid == vorlin::invalid_file_handle) return FALSE;
  const auto data = world->hid_get_preparsed_data(hid);
  world->close_handle(hid);
  if (data == vorlin::invalid_preparsed_data) return FALSE;
  *out = reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
  return TRUE;
}

__declspec(dllexport) NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS out) {
  world_access world;
  vorlin::hid_caps caps{};
  if (!world->hid_get_caps(reinterpret_cast<vorlin::preparsed_data>(data), caps)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  ZeroMemory(out, sizeof *out);
  out->Usage = caps.usage;
  out->UsagePage = caps.usage_page;
  return HIDP_STATUS_SUCCESS;
}

__declspec(dllexport) BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  world_access world;
  world->hid_free_preparsed_data(reinterpret_cast<vorlin::preparsed_data>(data));
  return TRUE;
}

}  // extern "C"

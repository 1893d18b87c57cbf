// The device-management operations the USB monitor relies on, as one abstract interface.
//
// The monitor never reaches the operating system directly: it receives a `device_api` and calls
// nothing else. The Windows backend maps every operation to its Win32 call one to one; the
// in-memory device world answers the same operations from a model, so the scan logic runs the
// same way under tests, in the simulator and on a real machine.
//
// Contract common to every operation:
// - Nothing throws. Failure is reported by the result, as documented per operation.
// - "Absent" (no such node, no such property, end of an enumeration) and "failed" (the service
//   could not answer) look the same to the caller unless the operation says otherwise; the
//   monitor treats both as "skip this item, a later scan tries again".
// - Output arguments are left untouched on failure unless the operation says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorlin {

// A node of the operating system's device tree.
using devinst_t = std::uint32_t;

// 16 bytes in the operating system's layout: a 32-bit field, two 16-bit fields, 8 bytes.
struct guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};
static_assert(sizeof(guid) == 16, "GUID must keep the operating system's 16-byte layout");

inline bool operator==(const guid& a, const guid& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool operator!=(const guid& a, const guid& b) {
  return !(a == b);
}

// Setup and interface classes the monitor uses.
inline constexpr guid usb_device_interface_class = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
inline constexpr guid system_setup_class = {
    0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr guid computer_setup_class = {
    0x4D36E966, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr guid ports_setup_class = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Handles are opaque integers; each kind names its invalid value.
using device_set = std::uintptr_t;
inline constexpr device_set invalid_device_set = ~static_cast<std::uintptr_t>(0);
using registry_key = std::uintptr_t;
inline constexpr registry_key invalid_registry_key = ~static_cast<std::uintptr_t>(0);
using file_handle = std::uintptr_t;
inline constexpr file_handle invalid_file_handle = ~static_cast<std::uintptr_t>(0);
using preparsed_data = std::uintptr_t;
inline constexpr preparsed_data invalid_preparsed_data = 0;

// Enumeration flags of get_class_devs.
inline constexpr std::uint32_t digcf_present = 0x2;
inline constexpr std::uint32_t digcf_deviceinterface = 0x10;

// Device registry properties (get_device_registry_property).
inline constexpr std::uint32_t spdrp_hardwareid = 1;
inline constexpr std::uint32_t spdrp_location_information = 13;

// Device-node registry properties (get_devnode_registry_property).
inline constexpr std::uint32_t cm_drp_classguid = 9;
inline constexpr std::uint32_t cm_drp_address = 29;

// One enumerated device interface. The size field is set by the caller before enumeration, as on
// the platform (28 in the 32-bit layout).
struct device_interface_data {
  std::uint32_t size_bytes;
  guid interface_class;
  std::uint32_t flags;
  std::uintptr_t reserved;
};

// The device that owns an interface, or one member of a device-information set.
struct device_info_data {
  std::uint32_t size_bytes;
  guid class_guid;
  devinst_t dev_inst;
  std::uintptr_t reserved;
};

// The platform's size field values for the two records above and for the interface-detail record
// (a 32-bit size field followed by the zero-terminated path), all in the 32-bit layout.
inline constexpr std::uint32_t device_interface_data_size_field = 28;
inline constexpr std::uint32_t device_info_data_size_field = 28;
inline constexpr std::uint32_t interface_detail_size_field = 5;
// Offset of the path inside an interface-detail record.
inline constexpr std::size_t interface_detail_path_offset = 4;

struct hid_attributes {
  std::uint32_t size_bytes;  // set to 12 by the caller
  std::uint16_t vendor_id;
  std::uint16_t product_id;
  std::uint16_t version_number;
};
inline constexpr std::uint32_t hid_attributes_size_field = 12;

// The top-level collection's usage, the two leading fields of the platform's capabilities record.
struct hid_caps {
  std::uint16_t usage;
  std::uint16_t usage_page;
};

// Arguments of open_file for a HID interface (read and write access, shared, open existing,
// overlapped).
inline constexpr std::uint32_t hid_open_access = 0xC0000000;
inline constexpr std::uint32_t hid_open_share = 3;
inline constexpr std::uint32_t hid_open_disposition = 3;
inline constexpr std::uint32_t hid_open_flags = 0x40000000;

// Arguments of open_dev_reg_key for a Ports device's hardware key.
inline constexpr std::uint32_t dics_flag_global = 1;
inline constexpr std::uint32_t direg_dev = 1;
inline constexpr std::uint32_t key_query_value = 1;
// Arguments of open_devnode_key.
inline constexpr std::uint32_t regdisposition_openexisting = 1;
inline constexpr std::uint32_t cm_registry_hardware = 0;

// Which optional configuration-manager operations this system offers. They are looked up once,
// before the first scan, and may each be missing.
struct cfgmgr_functions {
  bool devnode_registry_property = false;
  bool open_devnode_key = false;
};

class device_api {
 public:
  virtual ~device_api() = default;

  // ---- Device-information sets (SetupAPI) ----

  // A set of the devices that expose interfaces of `class_guid` (flags 0x12) or of the devices of
  // setup class `class_guid` (flags 2), present ones only. invalid_device_set when the set cannot
  // be made. An empty set is a valid set.
  virtual device_set get_class_devs(const guid& class_guid, std::uint32_t flags) = 0;

  // The interface at `index` of the set. false at the end of the set and on any failure; the
  // caller takes either as the end of the enumeration.
  virtual bool enum_device_interfaces(device_set set, const guid& interface_class,
                                      std::uint32_t index, device_interface_data& out) = 0;

  // The device at `index` of the set. false at the end and on any failure.
  virtual bool enum_device_info(device_set set, std::uint32_t index, device_info_data& out) = 0;

  // Interface detail. With `detail` null and `detail_size_bytes` 0 it only reports the size
  // needed in *required_size_bytes (and returns false, as the platform does for a size query).
  // With a buffer whose first 4 bytes hold interface_detail_size_field it writes the
  // zero-terminated path at interface_detail_path_offset and, when `info` is given, the owning
  // device's node and setup class; true on success, false when the buffer is too small, the
  // interface is gone or the call fails. `required_size_bytes` and `info` may be null.
  virtual bool get_device_interface_detail(device_set set, const device_interface_data& iface,
                                           void* detail, std::uint32_t detail_size_bytes,
                                           std::uint32_t* required_size_bytes,
                                           device_info_data* info) = 0;

  // A device registry property as 8-bit text (hardware ids: a list of zero-terminated strings).
  // false when the device has no such property, when it does not fit `buffer_size_bytes`, or on
  // failure; the buffer content is then unspecified.
  virtual bool get_device_registry_property(device_set set, const device_info_data& info,
                                            std::uint32_t property, void* buffer,
                                            std::uint32_t buffer_size_bytes) = 0;

  // The device's hardware registry key. invalid_registry_key when it cannot be opened.
  virtual registry_key open_dev_reg_key(device_set set, const device_info_data& info,
                                        std::uint32_t scope, std::uint32_t hw_profile,
                                        std::uint32_t key_type, std::uint32_t access) = 0;

  // Releases a set made by get_class_devs.
  virtual void destroy_device_info_list(device_set set) = 0;

  // ---- Registry ----

  // Reads value `name` of `key` into `buffer`. Returns 0 on success, with *size_bytes set to the
  // value's length; non-zero when the value is absent, larger than the buffer, or on failure.
  virtual long query_value(registry_key key, const char* name, void* buffer,
                           std::uint32_t* size_bytes) = 0;
  virtual void close_key(registry_key key) = 0;

  // ---- Configuration manager: the tree walk (always available) ----
  // Each returns 0 and writes `out` when the node exists, non-zero when there is none or on
  // failure (`out` untouched).
  virtual std::uint32_t get_parent(devinst_t& out, devinst_t node) = 0;
  virtual std::uint32_t get_child(devinst_t& out, devinst_t node) = 0;
  virtual std::uint32_t get_sibling(devinst_t& out, devinst_t node) = 0;

  // ---- Configuration manager: the optional operations ----

  // Looks up the optional operations; called once, before the first scan.
  virtual cfgmgr_functions load_cfgmgr_functions() = 0;

  // A node property: the class GUID text (9, UTF-16, zero-terminated) or the bus address (29, a
  // 32-bit value). *size_bytes is the buffer size on entry and the value's size on success.
  // Returns 0 on success; non-zero when the node has no such property, it does not fit, or the
  // call fails. Only called when load_cfgmgr_functions reported it.
  virtual std::uint32_t get_devnode_registry_property(devinst_t node, std::uint32_t property,
                                                      void* buffer, std::uint32_t* size_bytes) = 0;

  // The node's registry key (hardware key for cm_registry_hardware). Returns 0 and sets `out` on
  // success; non-zero otherwise. Only called when load_cfgmgr_functions reported it.
  virtual std::uint32_t open_devnode_key(devinst_t node, std::uint32_t access,
                                         std::uint32_t hw_profile, std::uint32_t disposition,
                                         registry_key& out, std::uint32_t flags) = 0;

  // ---- HID ----

  virtual guid hid_guid() = 0;

  // Opens a device by its interface path. invalid_file_handle when it cannot be opened (absent,
  // held without sharing, or failure).
  virtual file_handle open_file(const char* path, std::uint32_t access, std::uint32_t share,
                                std::uint32_t disposition, std::uint32_t flags) = 0;
  virtual void close_handle(file_handle handle) = 0;

  // The ids the HID device reports. false on failure.
  virtual bool hid_get_attributes(file_handle handle, hid_attributes& out) = 0;
  // invalid_preparsed_data on failure.
  virtual preparsed_data hid_get_preparsed_data(file_handle handle) = 0;
  // The top-level collection's usage and usage page. false when the platform does not report
  // success.
  virtual bool hid_get_caps(preparsed_data data, hid_caps& out) = 0;
  virtual void hid_free_preparsed_data(preparsed_data data) = 0;
};

}  // namespace vorlin

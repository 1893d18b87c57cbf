// An in-memory device world that answers every device_api operation from a model: a tree of
// device nodes, the device interfaces they own, their registry properties and hardware keys, and
// the HID devices behind HID interfaces.
//
// The world exists so that the scan logic can run unchanged under tests, in the simulator and in
// the fake system libraries used for Windows-binary tests. It is plain portable C++17 and keeps
// no global state: every world is independent.
//
// What it models, and what it deliberately reproduces from the platform:
// - Device-information sets are snapshots taken by get_class_devs: devices plugged in later are
//   not in an existing set, and members that went away can still be enumerated (their properties
//   and keys then fail, as they do on the platform).
// - Record size fields (28, 5, 12) are checked, so a caller that forgets to set them fails.
// - Registry values and device properties are raw bytes: a test can store a text without its
//   terminating zero, or one that is too long for the caller's buffer.
// - Every call is counted per operation, every handle handed out is tracked until released, and
//   releasing an unknown handle is counted as a fault of the caller.
// - Any operation can be made to fail always, once, or on its n-th call.
//
// The world is not synchronised. Whoever drives it from two threads (a test that plugs boards
// while the monitor thread scans) orders the calls, for instance through the event source that
// delivers the scans.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_api.h"

namespace vorlin::world {

// Every operation of device_api, for fault injection and call counting.
enum class api_op {
  get_class_devs,
  enum_device_interfaces,
  enum_device_info,
  get_device_interface_detail,
  get_device_registry_property,
  open_dev_reg_key,
  destroy_device_info_list,
  query_value,
  close_key,
  get_parent,
  get_child,
  get_sibling,
  load_cfgmgr_functions,
  get_devnode_registry_property,
  open_devnode_key,
  hid_guid,
  open_file,
  close_handle,
  hid_get_attributes,
  hid_get_preparsed_data,
  hid_get_caps,
  hid_free_preparsed_data,
};
inline constexpr std::size_t api_op_count = 22;

// The operation's name as written in device_api ("get_class_devs", ...).
const char* api_op_name(api_op op);
// The operation of that name; false when there is none.
bool api_op_from_name(std::string_view name, api_op& out);

// Setup-class and interface-class texts as the device-node property service reports them.
namespace class_text {
inline constexpr const char* system = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* computer = "{4D36E966-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* ports = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* usb = "{36FC9E60-C465-11CF-8056-444553540000}";
inline constexpr const char* hid = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
}  // namespace class_text

// The HID interface class that hid_guid reports.
inline constexpr guid hid_interface_class = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Registry and property encodings: a text with its terminating zero, and a list of texts each
// with its zero, closed by one more zero.
std::string reg_sz(std::string_view text);
std::string reg_multi_sz(const std::vector<std::string>& texts);

// Parses a GUID text of the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} (braces optional,
// either case). The world's own reading of class texts; the monitor has its own parser.
bool parse_guid_text(std::string_view text, guid& out);

// What a HID device reports once opened.
struct hid_device_info {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t version_number = 0;
  std::uint16_t usage_page = 0;
  std::uint16_t usage = 0;
  bool openable = true;  // false: held by another program without sharing
};

// One HID interface of a board built by plug_board.
struct hid_spec {
  int interface_number = -1;  // the "&mi_XX" number; -1 for a device with a single function
  std::uint16_t usage_page = 0;
  std::uint16_t usage = 0;
  bool openable = true;
  // The ids the HID device reports; the board's own when absent.
  std::optional<std::uint16_t> reported_vid;
  std::optional<std::uint16_t> reported_pid;
};

inline hid_spec hid_function(int interface_number, std::uint16_t usage_page, std::uint16_t usage) {
  hid_spec h;
  h.interface_number = interface_number;
  h.usage_page = usage_page;
  h.usage = usage;
  return h;
}

// A board as a user plugs it in.
struct board_spec {
  std::uint16_t vid = 0x16C0;
  std::uint16_t pid = 0x483;
  std::uint16_t release = 0x0280;
  // Serial text placed in the USB interface path; when empty the path carries an instance id
  // such as "6&1a2b&0&3" instead, as the platform does for devices without a serial number.
  std::string serial;
  // Bus addresses from the first hub below the System-class node down to the board's own
  // address; hubs are shared with boards plugged earlier. {0x14, 1, 3} gives usb:0/14/1/3.
  std::vector<std::uint32_t> usb_port = {1};
  // The location-information property; absent when nullopt.
  std::optional<std::string> location_information = std::string("Port_#0001.Hub_#0001");
  // The COM port name of the board's serial function, if it has one.
  std::optional<std::string> com_port;
  // -1: the serial function is the device node itself (a single-function board). Otherwise the
  // serial function is the interface node with that "&mi_" number of a composite device.
  int com_port_interface = -1;
  std::vector<hid_spec> hid;
};

// What plug_board made, for later edits and for expectations.
struct board {
  devinst_t device = 0;              // the USB device node
  std::string interface_path;        // its USB device interface path
  devinst_t port_node = 0;           // the Ports-class node, 0 when none
  std::vector<devinst_t> hid_nodes;  // the node that owns each HID interface, in hid order
  std::vector<std::string> hid_paths;
};

struct handle_counts {
  std::size_t sets = 0;
  std::size_t keys = 0;
  std::size_t files = 0;
  std::size_t preparsed = 0;
  std::size_t total() const { return sets + keys + files + preparsed; }
};

class device_world : public device_api {
 public:
  // A world with the tree root (no class, no address) and below it one System-class node with
  // address 0, under which plug_board hangs its hubs. Both optional configuration-manager
  // operations exist.
  device_world();

  // ---- Boards ----
  board plug_board(const board_spec& spec);
  void unplug(const board& b) { remove_node(b.device); }

  // ---- Nodes ----
  devinst_t root() const { return root_; }
  devinst_t system_node() const { return system_; }
  // A new last child of `parent`. `devinst` 0 picks a fresh handle; handles are never reused.
  devinst_t add_node(devinst_t parent, std::optional<std::string> class_text,
                     std::optional<std::uint32_t> address, devinst_t devinst = 0);
  // Removes the node with its subtree, and every interface that those nodes own.
  void remove_node(devinst_t node);
  bool has_node(devinst_t node) const;
  std::vector<devinst_t> children(devinst_t node) const;
  void set_class_text(devinst_t node, std::optional<std::string> text);
  void set_address(devinst_t node, std::optional<std::uint32_t> address);
  // A device registry property (spdrp_*) as raw bytes; nullopt removes it.
  void set_device_property(devinst_t node, std::uint32_t property,
                           std::optional<std::string> bytes);
  // The node's hardware registry key: created empty, or removed with its values.
  void set_hardware_key(devinst_t node, bool exists);
  // A value of the node's hardware key as raw bytes (the key is created when needed); nullopt
  // removes the value.
  void set_registry_value(devinst_t node, const std::string& name,
                          std::optional<std::string> bytes);

  // ---- Interfaces ----
  // Interfaces are enumerated in the order they were added.
  void add_interface(const guid& interface_class, const std::string& path, devinst_t owner);
  void add_hid_interface(const std::string& path, devinst_t owner, const hid_device_info& info);
  void remove_interface(const std::string& path);
  void set_hid_device(const std::string& path, const hid_device_info& info);

  // ---- Optional configuration-manager operations ----
  void set_cfgmgr_functions(cfgmgr_functions functions) { cfgmgr_ = functions; }

  // ---- Faults ----
  void fail_always(api_op op);
  void fail_once(api_op op) { fail_on_call(op, 1); }
  // Fails the n-th call of `op` from now on (1: the next one), once.
  void fail_on_call(api_op op, std::uint32_t n);
  void clear_fault(api_op op);
  void clear_faults();

  // ---- Observation ----
  std::uint32_t calls(api_op op) const { return calls_[static_cast<std::size_t>(op)]; }
  void reset_calls() { calls_.fill(0); }
  handle_counts open_handles() const;
  // Releases of a handle that was not open (double release, or never handed out).
  std::uint32_t bad_releases() const { return bad_releases_; }
  // Calls of an optional operation that load_cfgmgr_functions did not report.
  std::uint32_t missing_function_calls() const { return missing_function_calls_; }

  // ---- device_api ----
  device_set get_class_devs(const guid& class_guid, std::uint32_t flags) override;
  bool enum_device_interfaces(device_set set, const guid& interface_class, std::uint32_t index,
                              device_interface_data& out) override;
  bool enum_device_info(device_set set, std::uint32_t index, device_info_data& out) override;
  bool get_device_interface_detail(device_set set, const device_interface_data& iface, void* detail,
                                   std::uint32_t detail_size_bytes,
                                   std::uint32_t* required_size_bytes,
                                   device_info_data* info) override;
  bool get_device_registry_property(device_set set, const device_info_data& info,
                                    std::uint32_t property, void* buffer,
                                    std::uint32_t buffer_size_bytes) override;
  registry_key open_dev_reg_key(device_set set, const device_info_data& info, std::uint32_t scope,
                                std::uint32_t hw_profile, std::uint32_t key_type,
                                std::uint32_t access) override;
  void destroy_device_info_list(device_set set) override;
  long query_value(registry_key key, const char* name, void* buffer,
                   std::uint32_t* size_bytes) override;
  void close_key(registry_key key) override;
  std::uint32_t get_parent(devinst_t& out, devinst_t node) override;
  std::uint32_t get_child(devinst_t& out, devinst_t node) override;
  std::uint32_t get_sibling(devinst_t& out, devinst_t node) override;
  cfgmgr_functions load_cfgmgr_functions() override;
  std::uint32_t get_devnode_registry_property(devinst_t node, std::uint32_t property, void* buffer,
                                              std::uint32_t* size_bytes) override;
  std::uint32_t open_devnode_key(devinst_t node, std::uint32_t access, std::uint32_t hw_profile,
                                 std::uint32_t disposition, registry_key& out,
                                 std::uint32_t flags) override;
  guid hid_guid() override;
  file_handle open_file(const char* path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t disposition, std::uint32_t flags) override;
  void close_handle(file_handle handle) override;
  bool hid_get_attributes(file_handle handle, hid_attributes& out) override;
  preparsed_data hid_get_preparsed_data(file_handle handle) override;
  bool hid_get_caps(preparsed_data data, hid_caps& out) override;
  void hid_free_preparsed_data(preparsed_data data) override;

 private:
  struct node {
    devinst_t parent = 0;  // 0 for the root
    std::vector<devinst_t> children;
    std::optional<std::string> class_text;
    std::optional<std::uint32_t> address;
    std::map<std::uint32_t, std::string> device_properties;
    std::optional<std::map<std::string, std::string>> hardware_key;
  };
  struct interface_entry {
    guid interface_class;
    std::string path;
    devinst_t owner;
    std::optional<hid_device_info> hid;
  };
  struct set_interface {
    std::string path;
    devinst_t owner;
  };
  struct info_set {
    guid interface_class{};
    std::vector<set_interface> interfaces;
    std::vector<devinst_t> devices;
  };
  struct fault {
    enum class mode { none, always, on_call } kind = mode::none;
    std::uint32_t remaining = 0;  // on_call: calls to let through before the failing one
  };

  // Counts the call and tells whether an injected fault makes it fail.
  bool fails(api_op op);
  node* find(devinst_t devinst);
  const node* find(devinst_t devinst) const;
  node& existing(devinst_t devinst);
  guid setup_class_of(devinst_t devinst) const;
  const info_set* find_set(device_set set) const;
  bool set_holds_device(const info_set& s, devinst_t devinst) const;
  std::uintptr_t new_handle();
  devinst_t find_or_add_hub(devinst_t parent, std::uint32_t address);

  std::map<devinst_t, node> nodes_;
  devinst_t root_ = 0;
  devinst_t system_ = 0;
  devinst_t next_devinst_ = 1;
  std::vector<interface_entry> interfaces_;
  cfgmgr_functions cfgmgr_{true, true};

  std::map<device_set, info_set> sets_;
  std::map<registry_key, devinst_t> keys_;
  std::map<file_handle, std::string> files_;
  std::map<preparsed_data, hid_caps> preparsed_;
  std::uintptr_t next_handle_ = 0x1000;

  std::array<std::uint32_t, api_op_count> calls_{};
  std::array<fault, api_op_count> faults_{};
  std::uint32_t bad_releases_ = 0;
  std::uint32_t missing_function_calls_ = 0;
  std::uint32_t next_instance_ = 1;
};

}  // namespace vorlin::world

#include "platform/world/device_world.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vorlin::world {

namespace {

// Result codes in the platform's numbering, so that traces read the same as on a real machine.
constexpr std::uint32_t cr_success = 0x00;
constexpr std::uint32_t cr_no_such_devnode = 0x0D;
constexpr std::uint32_t cr_failure = 0x13;
constexpr std::uint32_t cr_buffer_small = 0x1A;
constexpr std::uint32_t cr_no_such_value = 0x25;
constexpr std::uint32_t cr_no_such_registry_key = 0x2E;
constexpr long error_file_not_found = 2;
constexpr long error_invalid_handle = 6;
constexpr long error_more_data = 234;
constexpr long error_key_deleted = 1018;
constexpr long error_gen_failure = 31;

constexpr const char* op_names[api_op_count] = {
    "get_class_devs",
    "enum_device_interfaces",
    "enum_device_info",
    "get_device_interface_detail",
    "get_device_registry_property",
    "open_dev_reg_key",
    "destroy_device_info_list",
    "query_value",
    "close_key",
    "get_parent",
    "get_child",
    "get_sibling",
    "load_cfgmgr_functions",
    "get_devnode_registry_property",
    "open_devnode_key",
    "hid_guid",
    "open_file",
    "close_handle",
    "hid_get_attributes",
    "hid_get_preparsed_data",
    "hid_get_caps",
    "hid_free_preparsed_data",
};

bool parse_hex(std::string_view text, std::uint32_t& out) {
  std::uint32_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  out = value;
  return !text.empty();
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

const char* api_op_name(api_op op) {
  return op_names[static_cast<std::size_t>(op)];
}

bool api_op_from_name(std::string_view name, api_op& out) {
  for (std::size_t i = 0; i < api_op_count; ++i) {
    if (name == op_names[i]) {
      out = static_cast<api_op>(i);
      return true;
    }
  }
  return false;
}

std::string reg_sz(std::string_view text) {
  std::string bytes(text);
  bytes.push_back('\0');
  return bytes;
}

std::string reg_multi_sz(const std::vector<std::string>& texts) {
  std::string bytes;
  for (const std::string& text : texts) bytes += reg_sz(text);
  bytes.push_back('\0');
  return bytes;
}

bool parse_guid_text(std::string_view text, guid& out) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
      text[23] != '-') {
    return false;
  }
  guid g{};
  std::uint32_t d1, d2, d3, b01, b2_4, b5_7;
  if (!parse_hex(text.substr(0, 8), d1) || !parse_hex(text.substr(9, 4), d2) ||
      !parse_hex(text.substr(14, 4), d3) || !parse_hex(text.substr(19, 4), b01) ||
      !parse_hex(text.substr(24, 6), b2_4) || !parse_hex(text.substr(30, 6), b5_7)) {
    return false;
  }
  g.data1 = d1;
  g.data2 = static_cast<std::uint16_t>(d2);
  g.data3 = static_cast<std::uint16_t>(d3);
  g.data4[0] = static_cast<std::uint8_t>(b01 >> 8);
  g.data4[1] = static_cast<std::uint8_t>(b01);
  g.data4[2] = static_cast<std::uint8_t>(b2_4 >> 16);
  g.data4[3] = static_cast<std::uint8_t>(b2_4 >> 8);
  g.data4[4] = static_cast<std::uint8_t>(b2_4);
  g.data4[5] = static_cast<std::uint8_t>(b5_7 >> 16);
  g.data4[6] = static_cast<std::uint8_t>(b5_7 >> 8);
  g.data4[7] = static_cast<std::uint8_t>(b5_7);
  out = g;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Building the world

device_world::device_world() {
  root_ = add_node(0, std::nullopt, std::nullopt);
  system_ = add_node(root_, std::string(class_text::system), 0u);
}

devinst_t device_world::add_node(devinst_t parent, std::optional<std::string> class_text,
                                 std::optional<std::uint32_t> address, devinst_t devinst) {
  if (devinst == 0) devinst = next_devinst_;
  next_devinst_ = std::max(next_devinst_, devinst + 1);
  node n;
  n.parent = parent;
  n.class_text = std::move(class_text);
  n.address = address;
  nodes_[devinst] = std::move(n);
  if (parent != 0) existing(parent).children.push_back(devinst);
  return devinst;
}

void device_world::remove_node(devinst_t devinst) {
  node* n = find(devinst);
  if (n == nullptr) return;
  // Children first; copy the list since each removal edits it.
  for (devinst_t child : std::vector<devinst_t>(n->children)) remove_node(child);
  n = find(devinst);
  if (node* parent = find(n->parent)) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), devinst), siblings.end());
  }
  interfaces_.erase(
      std::remove_if(interfaces_.begin(), interfaces_.end(),
                     [devinst](const interface_entry& e) { return e.owner == devinst; }),
      interfaces_.end());
  nodes_.erase(devinst);
}

bool device_world::has_node(devinst_t devinst) const {
  return find(devinst) != nullptr;
}

std::vector<devinst_t> device_world::children(devinst_t devinst) const {
  const node* n = find(devinst);
  return n ? n->children : std::vector<devinst_t>{};
}

void device_world::set_class_text(devinst_t devinst, std::optional<std::string> text) {
  existing(devinst).class_text = std::move(text);
}

void device_world::set_address(devinst_t devinst, std::optional<std::uint32_t> address) {
  existing(devinst).address = address;
}

void device_world::set_device_property(devinst_t devinst, std::uint32_t property,
                                       std::optional<std::string> bytes) {
  auto& properties = existing(devinst).device_properties;
  if (bytes) {
    properties[property] = std::move(*bytes);
  } else {
    properties.erase(property);
  }
}

void device_world::set_hardware_key(devinst_t devinst, bool exists) {
  auto& key = existing(devinst).hardware_key;
  if (!exists) {
    key.reset();
  } else if (!key) {
    key.emplace();
  }
}

void device_world::set_registry_value(devinst_t devinst, const std::string& name,
                                      std::optional<std::string> bytes) {
  auto& key = existing(devinst).hardware_key;
  if (!key) key.emplace();
  if (bytes) {
    (*key)[name] = std::move(*bytes);
  } else {
    key->erase(name);
  }
}

void device_world::add_interface(const guid& interface_class, const std::string& path,
                                 devinst_t owner) {
  interfaces_.push_back({interface_class, path, owner, std::nullopt});
}

void device_world::add_hid_interface(const std::string& path, devinst_t owner,
                                     const hid_device_info& info) {
  interfaces_.push_back({hid_interface_class, path, owner, info});
}

void device_world::remove_interface(const std::string& path) {
  interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(),
                                   [&](const interface_entry& e) { return e.path == path; }),
                    interfaces_.end());
}

void device_world::set_hid_device(const std::string& path, const hid_device_info& info) {
  for (interface_entry& e : interfaces_) {
    if (e.path == path) e.hid = info;
  }
}

devinst_t device_world::find_or_add_hub(devinst_t parent, std::uint32_t address) {
  for (devinst_t child : existing(parent).children) {
    const node& c = existing(child);
    if (c.address == address && c.class_text == std::string(class_text::usb)) return child;
  }
  return add_node(parent, std::string(class_text::usb), address);
}

board device_world::plug_board(const board_spec& spec) {
  board made;
  devinst_t parent = system_;
  const std::vector<std::uint32_t> port =
      spec.usb_port.empty() ? std::vector<std::uint32_t>{1} : spec.usb_port;
  for (std::size_t i = 0; i + 1 < port.size(); ++i) parent = find_or_add_hub(parent, port[i]);

  const std::uint32_t instance = next_instance_++;
  const bool composite = spec.com_port_interface >= 0 ||
                         std::any_of(spec.hid.begin(), spec.hid.end(),
                                     [](const hid_spec& h) { return h.interface_number >= 0; });
  const char* device_class = class_text::usb;
  if (!composite && spec.com_port) {
    device_class = class_text::ports;
  } else if (!composite && !spec.hid.empty()) {
    device_class = class_text::hid;
  }
  made.device = add_node(parent, std::string(device_class), port.back());

  char text[512];
  std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X&REV_%04X", spec.vid, spec.pid,
                spec.release);
  std::string first_id = text;
  std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X", spec.vid, spec.pid);
  set_device_property(made.device, spdrp_hardwareid, reg_multi_sz({first_id, text}));
  if (spec.location_information) {
    set_device_property(made.device, spdrp_location_information,
                        reg_sz(*spec.location_information));
  }

  std::string instance_text = spec.serial;
  if (instance_text.empty()) {
    std::snprintf(text, sizeof text, "6&%x&0&%u", instance, static_cast<unsigned>(port.back()));
    instance_text = text;
  }
  std::snprintf(text, sizeof text, "\\\\?\\usb#vid_%04x&pid_%04x#", spec.vid, spec.pid);
  made.interface_path = text + instance_text + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  add_interface(usb_device_interface_class, made.interface_path, made.device);

  if (spec.com_port) {
    made.port_node = composite ? add_node(made.device, std::string(class_text::ports), std::nullopt)
                               : made.device;
    set_registry_value(made.port_node, "PortName", reg_sz(*spec.com_port));
  }
  for (const hid_spec& h : spec.hid) {
    devinst_t function = made.device;
    if (h.interface_number >= 0) {
      function = add_node(made.device, std::string(class_text::hid), std::nullopt);
      std::snprintf(text, sizeof text,
                    "\\\\?\\hid#vid_%04x&pid_%04x&mi_%02x#7&%x&0&%04zu#{4d1e55b2-f16f-11cf-88cb-"
                    "001111000030}",
                    spec.vid, spec.pid, static_cast<unsigned>(h.interface_number), instance,
                    made.hid_paths.size());
    } else {
      std::snprintf(text, sizeof text,
                    "\\\\?\\hid#vid_%04x&pid_%04x#7&%x&0&%04zu#{4d1e55b2-f16f-11cf-88cb-"
                    "001111000030}",
                    spec.vid, spec.pid, instance, made.hid_paths.size());
    }
    devinst_t owner = add_node(function, std::string(class_text::hid), std::nullopt);
    hid_device_info info;
    info.vendor_id = h.reported_vid.value_or(spec.vid);
    info.product_id = h.reported_pid.value_or(spec.pid);
    info.version_number = spec.release;
    info.usage_page = h.usage_page;
    info.usage = h.usage;
    info.openable = h.openable;
    add_hid_interface(text, owner, info);
    made.hid_nodes.push_back(owner);
    made.hid_paths.push_back(text);
  }
  return made;
}

// ---------------------------------------------------------------------------------------------
// Faults and bookkeeping

void device_world::fail_always(api_op op) {
  faults_[static_cast<std::size_t>(op)] = {fault::mode::always, 0};
}

void device_world::fail_on_call(api_op op, std::uint32_t n) {
  faults_[static_cast<std::size_t>(op)] = {fault::mode::on_call, n == 0 ? 0 : n - 1};
}

void device_world::clear_fault(api_op op) {
  faults_[static_cast<std::size_t>(op)] = {};
}

void device_world::clear_faults() {
  faults_.fill({});
}

bool device_world::fails(api_op op) {
  const auto i = static_cast<std::size_t>(op);
  ++calls_[i];
  fault& f = faults_[i];
  switch (f.kind) {
    case fault::mode::none:
      return false;
    case fault::mode::always:
      return true;
    case fault::mode::on_call:
      if (f.remaining > 0) {
        --f.remaining;
        return false;
      }
      f = {};
      return true;
  }
  return false;
}

handle_counts device_world::open_handles() const {
  return {sets_.size(), keys_.size(), files_.size(), preparsed_.size()};
}

device_world::node* device_world::find(devinst_t devinst) {
  auto it = nodes_.find(devinst);
  return it == nodes_.end() ? nullptr : &it->second;
}

const device_world::node* device_world::find(devinst_t devinst) const {
  auto it = nodes_.find(devinst);
  return it == nodes_.end() ? nullptr : &it->second;
}

device_world::node& device_world::existing(devinst_t devinst) {
  return nodes_.at(devinst);
}

guid device_world::setup_class_of(devinst_t devinst) const {
  guid g{};
  const node* n = find(devinst);
  if (n && n->class_text && !parse_guid_text(*n->class_text, g)) g = guid{};
  return g;
}

const device_world::info_set* device_world::find_set(device_set set) const {
  auto it = sets_.find(set);
  return it == sets_.end() ? nullptr : &it->second;
}

bool device_world::set_holds_device(const info_set& s, devinst_t devinst) const {
  return std::find(s.devices.begin(), s.devices.end(), devinst) != s.devices.end();
}

std::uintptr_t device_world::new_handle() {
  const std::uintptr_t h = next_handle_;
  next_handle_ += 4;
  return h;
}

// ---------------------------------------------------------------------------------------------
// Device-information sets

device_set device_world::get_class_devs(const guid& class_guid, std::uint32_t flags) {
  if (fails(api_op::get_class_devs)) return invalid_device_set;
  info_set s;
  s.interface_class = class_guid;
  if (flags & digcf_deviceinterface) {
    for (const interface_entry& e : interfaces_) {
      if (e.interface_class != class_guid || !has_node(e.owner)) continue;
      s.interfaces.push_back({e.path, e.owner});
      if (!set_holds_device(s, e.owner)) s.devices.push_back(e.owner);
    }
  } else {
    for (const auto& entry : nodes_) {
      const node& n = entry.second;
      guid g{};
      if (n.class_text && parse_guid_text(*n.class_text, g) && g == class_guid) {
        s.devices.push_back(entry.first);
      }
    }
  }
  const device_set h = new_handle();
  sets_[h] = std::move(s);
  return h;
}

bool device_world::enum_device_interfaces(device_set set, const guid& interface_class,
                                          std::uint32_t index, device_interface_data& out) {
  if (fails(api_op::enum_device_interfaces)) return false;
  const info_set* s = find_set(set);
  if (s == nullptr || out.size_bytes != device_interface_data_size_field) return false;
  if (interface_class != s->interface_class || index >= s->interfaces.size()) return false;
  out.interface_class = interface_class;
  out.flags = 1;  // active
  out.reserved = index + 1;
  return true;
}

bool device_world::enum_device_info(device_set set, std::uint32_t index, device_info_data& out) {
  if (fails(api_op::enum_device_info)) return false;
  const info_set* s = find_set(set);
  if (s == nullptr || out.size_bytes != device_info_data_size_field) return false;
  if (index >= s->devices.size()) return false;
  out.dev_inst = s->devices[index];
  out.class_guid = setup_class_of(out.dev_inst);
  out.reserved = index + 1;
  return true;
}

bool device_world::get_device_interface_detail(device_set set, const device_interface_data& iface,
                                               void* detail, std::uint32_t detail_size_bytes,
                                               std::uint32_t* required_size_bytes,
                                               device_info_data* info) {
  if (fails(api_op::get_device_interface_detail)) return false;
  const info_set* s = find_set(set);
  if (s == nullptr || iface.reserved == 0 || iface.reserved > s->interfaces.size()) return false;
  const set_interface& member = s->interfaces[iface.reserved - 1];
  const auto required =
      static_cast<std::uint32_t>(interface_detail_path_offset + member.path.size() + 1);
  if (required_size_bytes) *required_size_bytes = required;
  if (detail == nullptr || detail_size_bytes < required) return false;
  auto* bytes = static_cast<unsigned char*>(detail);
  std::uint32_t size_field;
  std::memcpy(&size_field, bytes, sizeof size_field);
  if (size_field != interface_detail_size_field) return false;
  if (info && info->size_bytes != device_info_data_size_field) return false;
  std::memcpy(bytes + interface_detail_path_offset, member.path.c_str(), member.path.size() + 1);
  if (info) {
    info->dev_inst = member.owner;
    info->class_guid = setup_class_of(member.owner);
  }
  return true;
}

bool device_world::get_device_registry_property(device_set set, const device_info_data& info,
                                                std::uint32_t property, void* buffer,
                                                std::uint32_t buffer_size_bytes) {
  if (fails(api_op::get_device_registry_property)) return false;
  const info_set* s = find_set(set);
  if (s == nullptr || !set_holds_device(*s, info.dev_inst)) return false;
  const node* n = find(info.dev_inst);
  if (n == nullptr) return false;
  auto it = n->device_properties.find(property);
  if (it == n->device_properties.end() || it->second.size() > buffer_size_bytes) return false;
  std::memcpy(buffer, it->second.data(), it->second.size());
  return true;
}

registry_key device_world::open_dev_reg_key(device_set set, const device_info_data& info,
                                            std::uint32_t, std::uint32_t, std::uint32_t key_type,
                                            std::uint32_t) {
  if (fails(api_op::open_dev_reg_key)) return invalid_registry_key;
  const info_set* s = find_set(set);
  if (s == nullptr || !set_holds_device(*s, info.dev_inst) || key_type != direg_dev) {
    return invalid_registry_key;
  }
  const node* n = find(info.dev_inst);
  if (n == nullptr || !n->hardware_key) return invalid_registry_key;
  const registry_key h = new_handle();
  keys_[h] = info.dev_inst;
  return h;
}

void device_world::destroy_device_info_list(device_set set) {
  if (fails(api_op::destroy_device_info_list)) return;
  if (sets_.erase(set) == 0) ++bad_releases_;
}

// ---------------------------------------------------------------------------------------------
// Registry

long device_world::query_value(registry_key key, const char* name, void* buffer,
                               std::uint32_t* size_bytes) {
  if (fails(api_op::query_value)) return error_gen_failure;
  auto k = keys_.find(key);
  if (k == keys_.end()) return error_invalid_handle;
  const node* n = find(k->second);
  if (n == nullptr || !n->hardware_key) return error_key_deleted;
  auto v = n->hardware_key->find(name);
  if (v == n->hardware_key->end()) return error_file_not_found;
  const auto length = static_cast<std::uint32_t>(v->second.size());
  if (size_bytes == nullptr) return error_gen_failure;
  if (buffer == nullptr || *size_bytes < length) {
    *size_bytes = length;
    return buffer == nullptr ? 0 : error_more_data;
  }
  std::memcpy(buffer, v->second.data(), length);
  *size_bytes = length;
  return 0;
}

void device_world::close_key(registry_key key) {
  if (fails(api_op::close_key)) return;
  if (keys_.erase(key) == 0) ++bad_releases_;
}

// ---------------------------------------------------------------------------------------------
// Configuration manager

std::uint32_t device_world::get_parent(devinst_t& out, devinst_t devinst) {
  if (fails(api_op::get_parent)) return cr_failure;
  const node* n = find(devinst);
  if (n == nullptr || n->parent == 0) return cr_no_such_devnode;
  out = n->parent;
  return cr_success;
}

std::uint32_t device_world::get_child(devinst_t& out, devinst_t devinst) {
  if (fails(api_op::get_child)) return cr_failure;
  const node* n = find(devinst);
  if (n == nullptr || n->children.empty()) return cr_no_such_devnode;
  out = n->children.front();
  return cr_success;
}

std::uint32_t device_world::get_sibling(devinst_t& out, devinst_t devinst) {
  if (fails(api_op::get_sibling)) return cr_failure;
  const node* n = find(devinst);
  const node* parent = n ? find(n->parent) : nullptr;
  if (parent == nullptr) return cr_no_such_devnode;
  const auto& siblings = parent->children;
  auto it = std::find(siblings.begin(), siblings.end(), devinst);
  if (it == siblings.end() || ++it == siblings.end()) return cr_no_such_devnode;
  out = *it;
  return cr_success;
}

cfgmgr_functions device_world::load_cfgmgr_functions() {
  if (fails(api_op::load_cfgmgr_functions)) return {};
  return cfgmgr_;
}

std::uint32_t device_world::get_devnode_registry_property(devinst_t devinst, std::uint32_t property,
                                                          void* buffer, std::uint32_t* size_bytes) {
  if (!cfgmgr_.devnode_registry_property) ++missing_function_calls_;
  if (fails(api_op::get_devnode_registry_property)) return cr_failure;
  if (!cfgmgr_.devnode_registry_property) return cr_failure;
  const node* n = find(devinst);
  if (n == nullptr) return cr_no_such_devnode;
  if (size_bytes == nullptr) return cr_failure;
  std::string bytes;
  if (property == cm_drp_classguid && n->class_text) {
    // The service answers in UTF-16; the world's texts are 8-bit, so each byte becomes a unit.
    for (char c : *n->class_text) {
      const auto unit = static_cast<char16_t>(static_cast<unsigned char>(c));
      bytes.append(reinterpret_cast<const char*>(&unit), sizeof unit);
    }
    bytes.append(2, '\0');
  } else if (property == cm_drp_address && n->address) {
    const std::uint32_t address = *n->address;
    bytes.assign(reinterpret_cast<const char*>(&address), sizeof address);
  } else {
    return cr_no_such_value;
  }
  const auto length = static_cast<std::uint32_t>(bytes.size());
  if (buffer == nullptr || *size_bytes < length) {
    *size_bytes = length;
    return cr_buffer_small;
  }
  std::memcpy(buffer, bytes.data(), length);
  *size_bytes = length;
  return cr_success;
}

std::uint32_t device_world::open_devnode_key(devinst_t devinst, std::uint32_t, std::uint32_t,
                                             std::uint32_t, registry_key& out,
                                             std::uint32_t flags) {
  if (!cfgmgr_.open_devnode_key) ++missing_function_calls_;
  if (fails(api_op::open_devnode_key)) return cr_failure;
  if (!cfgmgr_.open_devnode_key) return cr_failure;
  const node* n = find(devinst);
  if (n == nullptr) return cr_no_such_devnode;
  if (flags != cm_registry_hardware || !n->hardware_key) return cr_no_such_registry_key;
  out = new_handle();
  keys_[out] = devinst;
  return cr_success;
}

// ---------------------------------------------------------------------------------------------
// HID

guid device_world::hid_guid() {
  if (fails(api_op::hid_guid)) return guid{};
  return hid_interface_class;
}

file_handle device_world::open_file(const char* path, std::uint32_t, std::uint32_t, std::uint32_t,
                                    std::uint32_t) {
  if (fails(api_op::open_file)) return invalid_file_handle;
  // Interface paths name the same device whatever their letter case, as on the platform.
  for (const interface_entry& e : interfaces_) {
    if (e.hid && equal_ignoring_case(e.path, path) && has_node(e.owner)) {
      if (!e.hid->openable) return invalid_file_handle;
      const file_handle h = new_handle();
      files_[h] = e.path;
      return h;
    }
  }
  return invalid_file_handle;
}

void device_world::close_handle(file_handle handle) {
  if (fails(api_op::close_handle)) return;
  if (files_.erase(handle) == 0) ++bad_releases_;
}

bool device_world::hid_get_attributes(file_handle handle, hid_attributes& out) {
  if (fails(api_op::hid_get_attributes)) return false;
  auto f = files_.find(handle);
  if (f == files_.end() || out.size_bytes != hid_attributes_size_field) return false;
  for (const interface_entry& e : interfaces_) {
    if (e.hid && e.path == f->second) {
      out.vendor_id = e.hid->vendor_id;
      out.product_id = e.hid->product_id;
      out.version_number = e.hid->version_number;
      return true;
    }
  }
  return false;  // unplugged while open
}

preparsed_data device_world::hid_get_preparsed_data(file_handle handle) {
  if (fails(api_op::hid_get_preparsed_data)) return invalid_preparsed_data;
  auto f = files_.find(handle);
  if (f == files_.end()) return invalid_preparsed_data;
  for (const interface_entry& e : interfaces_) {
    if (e.hid && e.path == f->second) {
      const preparsed_data h = new_handle();
      preparsed_[h] = hid_caps{e.hid->usage, e.hid->usage_page};
      return h;
    }
  }
  return invalid_preparsed_data;
}

bool device_world::hid_get_caps(preparsed_data data, hid_caps& out) {
  if (fails(api_op::hid_get_caps)) return false;
  auto p = preparsed_.find(data);
  if (p == preparsed_.end()) return false;
  out = p->second;
  return true;
}

void device_world::hid_free_preparsed_data(preparsed_data data) {
  if (fails(api_op::hid_free_preparsed_data)) return;
  if (preparsed_.erase(data) == 0) ++bad_releases_;
}

}  // namespace vorlin::world

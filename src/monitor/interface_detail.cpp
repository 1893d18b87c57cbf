#include "monitor/interface_detail.h"

#include <cstring>
#include <new>

namespace vorlin {

namespace {
constexpr std::uint32_t growth_bytes = 1024;
}

bool interface_detail_buffer::read_interface_detail(device_api& api, device_set set,
                                                    const device_interface_data& iface,
                                                    device_info_data& info) {
  // The size query fails by design (no buffer); only the size it reports counts.
  std::uint32_t required = 0;
  api.get_device_interface_detail(set, iface, nullptr, 0, &required, nullptr);
  // A record too small for its size field and a zero means the query gave no size at all.
  if (required < interface_detail_path_offset + 1 || required > UINT32_MAX - growth_bytes) {
    return false;
  }
  if (required > capacity_) {
    buffer_.reset();
    capacity_ = 0;
    try {
      buffer_ = std::make_unique<char[]>(static_cast<std::size_t>(required) + growth_bytes);
    } catch (const std::bad_alloc&) {
      return false;
    }
    capacity_ = required + growth_bytes;
  }
  std::memset(buffer_.get(), 0, required);
  const std::uint32_t size_field = interface_detail_size_field;
  std::memcpy(buffer_.get(), &size_field, sizeof size_field);
  if (!api.get_device_interface_detail(set, iface, buffer_.get(), required, nullptr, &info)) {
    return false;
  }
  return std::memchr(path(), '\0', required - interface_detail_path_offset) != nullptr;
}

}  // namespace vorlin

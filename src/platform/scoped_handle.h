// One move-only owner for every handle that a device_api hands out: device-information sets,
// registry keys, file handles and HID preparsed data. The traits name the invalid value and the
// operation that releases the handle.
#pragma once

#include <utility>

#include "platform/device_api.h"

namespace vorlin {

template <typename Traits>
class scoped_handle {
 public:
  using handle_type = typename Traits::handle_type;

  scoped_handle() = default;
  scoped_handle(device_api& api, handle_type handle) : api_(&api), handle_(handle) {}
  scoped_handle(const scoped_handle&) = delete;
  scoped_handle& operator=(const scoped_handle&) = delete;
  scoped_handle(scoped_handle&& other) noexcept
      : api_(other.api_), handle_(std::exchange(other.handle_, Traits::invalid)) {}
  scoped_handle& operator=(scoped_handle&& other) noexcept {
    if (this != &other) {
      reset();
      api_ = other.api_;
      handle_ = std::exchange(other.handle_, Traits::invalid);
    }
    return *this;
  }
  ~scoped_handle() { reset(); }

  bool valid() const { return handle_ != Traits::invalid; }
  explicit operator bool() const { return valid(); }
  handle_type get() const { return handle_; }

  void reset() {
    if (valid()) Traits::release(*api_, handle_);
    handle_ = Traits::invalid;
  }

 private:
  device_api* api_ = nullptr;
  handle_type handle_ = Traits::invalid;
};

struct device_set_traits {
  using handle_type = device_set;
  static constexpr handle_type invalid = invalid_device_set;
  static void release(device_api& api, handle_type h) { api.destroy_device_info_list(h); }
};
struct registry_key_traits {
  using handle_type = registry_key;
  static constexpr handle_type invalid = invalid_registry_key;
  static void release(device_api& api, handle_type h) { api.close_key(h); }
};
struct file_handle_traits {
  using handle_type = file_handle;
  static constexpr handle_type invalid = invalid_file_handle;
  static void release(device_api& api, handle_type h) { api.close_handle(h); }
};
struct preparsed_data_traits {
  using handle_type = preparsed_data;
  static constexpr handle_type invalid = invalid_preparsed_data;
  static void release(device_api& api, handle_type h) { api.hid_free_preparsed_data(h); }
};

using scoped_device_set = scoped_handle<device_set_traits>;
using scoped_registry_key = scoped_handle<registry_key_traits>;
using scoped_file = scoped_handle<file_handle_traits>;
using scoped_preparsed_data = scoped_handle<preparsed_data_traits>;

}  // namespace vorlin

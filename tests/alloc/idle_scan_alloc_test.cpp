// The idle scan runs 90 times a minute for as long as the host lives: when nothing changed it
// must not touch the heap. Every operator new of this program is counted; what the device world
// allocates while it answers a call (the operating system's own work on a real machine) is left
// out through a wrapper that marks those calls.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "../../bench/bench_worlds.h"
#include "monitor/usb_monitor.h"
#include "ports/port_sink.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
thread_local bool inside_platform = false;

}  // namespace

void* operator new(std::size_t size) {
  if (counting && !inside_platform) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace vorlin {
namespace {

// Forwards every call to the world, marking it as the platform's own work.
class platform_marker final : public device_api {
 public:
  explicit platform_marker(device_api& inner) : inner_(inner) {}

 private:
  struct mark {
    mark() { inside_platform = true; }
    ~mark() { inside_platform = false; }
  };
#define VORLIN_FORWARD(result, name, params, args) \
  result name params override {                    \
    mark m;                                        \
    return inner_.name args;                       \
  }
  VORLIN_FORWARD(device_set, get_class_devs, (const guid& c, std::uint32_t f), (c, f))
  VORLIN_FORWARD(bool, enum_device_interfaces,
                 (device_set s, const guid& c, std::uint32_t i, device_interface_data& o),
                 (s, c, i, o))
  VORLIN_FORWARD(bool, enum_device_info, (device_set s, std::uint32_t i, device_info_data& o),
                 (s, i, o))
  VORLIN_FORWARD(bool, get_device_interface_detail,
                 (device_set s, const device_interface_data& d, void* b, std::uint32_t n,
                  std::uint32_t* r, device_info_data* i),
                 (s, d, b, n, r, i))
  VORLIN_FORWARD(bool, get_device_registry_property,
                 (device_set s, const device_info_data& i, std::uint32_t p, void* b,
                  std::uint32_t n),
                 (s, i, p, b, n))
  VORLIN_FORWARD(registry_key, open_dev_reg_key,
                 (device_set s, const device_info_data& i, std::uint32_t a, std::uint32_t b,
                  std::uint32_t c, std::uint32_t d),
                 (s, i, a, b, c, d))
  VORLIN_FORWARD(void, destroy_device_info_list, (device_set s), (s))
  VORLIN_FORWARD(long, query_value, (registry_key k, const char* n, void* b, std::uint32_t* s),
                 (k, n, b, s))
  VORLIN_FORWARD(void, close_key, (registry_key k), (k))
  VORLIN_FORWARD(std::uint32_t, get_parent, (devinst_t & o, devinst_t n), (o, n))
  VORLIN_FORWARD(std::uint32_t, get_child, (devinst_t & o, devinst_t n), (o, n))
  VORLIN_FORWARD(std::uint32_t, get_sibling, (devinst_t & o, devinst_t n), (o, n))
  VORLIN_FORWARD(cfgmgr_functions, load_cfgmgr_functions, (), ())
  VORLIN_FORWARD(std::uint32_t, get_devnode_registry_property,
                 (devinst_t n, std::uint32_t p, void* b, std::uint32_t* s), (n, p, b, s))
  VORLIN_FORWARD(std::uint32_t, open_devnode_key,
                 (devinst_t n, std::uint32_t a, std::uint32_t h, std::uint32_t d, registry_key& o,
                  std::uint32_t f),
                 (n, a, h, d, o, f))
  VORLIN_FORWARD(guid, hid_guid, (), ())
  VORLIN_FORWARD(file_handle, open_file,
                 (const char* p, std::uint32_t a, std::uint32_t s, std::uint32_t d,
                  std::uint32_t f),
                 (p, a, s, d, f))
  VORLIN_FORWARD(void, close_handle, (file_handle h), (h))
  VORLIN_FORWARD(bool, hid_get_attributes, (file_handle h, hid_attributes& o), (h, o))
  VORLIN_FORWARD(preparsed_data, hid_get_preparsed_data, (file_handle h), (h))
  VORLIN_FORWARD(bool, hid_get_caps, (preparsed_data d, hid_caps& o), (d, o))
  VORLIN_FORWARD(void, hid_free_preparsed_data, (preparsed_data d), (d))
#undef VORLIN_FORWARD

  device_api& inner_;
};

class counting_sink final : public port_sink {
 public:
  void port_table_update(const usb_device&) override { ++calls; }
  void port_table_remove(const char*) override { ++calls; }
  int calls = 0;
};

TEST(IdleScan, MakesNoHeapAllocation) {
  world::device_world world;
  bench::populate(world, 8);
  platform_marker platform(world);
  counting_sink sink;
  usb_monitor monitor(platform, sink);
  monitor.load_cfgmgr_functions();
  monitor.scan_usb_devices();
  ASSERT_EQ(sink.calls, 8);

  // The first scans may grow the interface-detail buffer; from then on nothing is allocated.
  monitor.scan_usb_devices();
  allocations = 0;
  counting = true;
  for (int i = 0; i < 10; ++i) monitor.scan_usb_devices();
  counting = false;
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(sink.calls, 8);

  // The counter itself works: a scan that finds a new board records it on the heap.
  world.plug_board(bench::family_board(8));
  counting = true;
  monitor.scan_usb_devices();
  counting = false;
  EXPECT_GT(allocations.load(), 0);
}

}  // namespace
}  // namespace vorlin

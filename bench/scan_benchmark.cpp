// Scan cost over the in-memory device world: the idle scan (nothing changed), the first scan, a
// scan after one board changed, and a baseline that does only the work an idle scan cannot
// avoid. Prints each idle scan's ratio to its baseline and the device-management calls of each
// kind of scan.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "bench_worlds.h"
#include "monitor/device_tree.h"
#include "monitor/id_parse.h"
#include "monitor/interface_detail.h"
#include "monitor/usb_device.h"
#include "monitor/usb_monitor.h"
#include "platform/scoped_handle.h"
#include "ports/port_sink.h"

namespace vorlin::bench {
namespace {

class null_sink final : public port_sink {
 public:
  void port_table_update(const usb_device&) override {}
  void port_table_remove(const char*) override {}
};

// The part of a scan that no change detection can save: enumerate the USB interfaces, read each
// detail, and for every family device read its location information, build its location path
// and collect its node lists.
void baseline_scan(device_api& api, const cfgmgr_functions& cfgmgr, interface_detail_buffer& detail,
                   usb_device& scratch) {
  scoped_device_set set(
      api, api.get_class_devs(usb_device_interface_class, digcf_present | digcf_deviceinterface));
  if (!set) return;
  for (std::uint32_t index = 0;; ++index) {
    device_interface_data iface{};
    iface.size_bytes = device_interface_data_size_field;
    if (!api.enum_device_interfaces(set.get(), usb_device_interface_class, index, iface)) break;
    device_info_data info{};
    info.size_bytes = device_info_data_size_field;
    if (!detail.read_interface_detail(api, set.get(), iface, info)) continue;
    std::uint32_t vid = 0;
    if (!find_hex_field(detail.path(), "vid_", vid, 4) || (vid != 0x16C0 && vid != 0x1FC9)) {
      continue;
    }
    char location_information[200];
    api.get_device_registry_property(set.get(), info, spdrp_location_information,
                                     location_information, sizeof location_information);
    char location[location_size] = {};
    usb_location_path(api, cfgmgr, info.dev_inst, location);
    scratch.devinst_count = 0;
    collect_devinst_list(api, cfgmgr, scratch, info.dev_inst);
    benchmark::DoNotOptimize(location);
  }
}

struct scan_setup {
  explicit scan_setup(int boards) : monitor(world, sink) {
    populate(world, boards);
    monitor.load_cfgmgr_functions();
  }
  world::device_world world;
  null_sink sink;
  usb_monitor monitor;
};

void BM_IdleScan(benchmark::State& state) {
  scan_setup s(static_cast<int>(state.range(0)));
  s.monitor.scan_usb_devices();
  for (auto _ : state) s.monitor.scan_usb_devices();
}

void BM_Baseline(benchmark::State& state) {
  scan_setup s(static_cast<int>(state.range(0)));
  const cfgmgr_functions cfgmgr = s.world.load_cfgmgr_functions();
  interface_detail_buffer detail;
  auto scratch = std::make_unique<usb_device>();
  for (auto _ : state) baseline_scan(s.world, cfgmgr, detail, *scratch);
}

void BM_FirstScan(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto s = std::make_unique<scan_setup>(static_cast<int>(state.range(0)));
    state.ResumeTiming();
    s->monitor.scan_usb_devices();
    state.PauseTiming();
    s.reset();
    state.ResumeTiming();
  }
}

// One board re-plugged at the same port between two scans: a removal, a new record, the HID and
// Ports passes and a report.
void BM_ScanAfterOneChange(benchmark::State& state) {
  const int boards = static_cast<int>(state.range(0));
  scan_setup s(boards);
  world::board changing = s.world.plug_board(family_board(boards));
  s.monitor.scan_usb_devices();
  for (auto _ : state) {
    state.PauseTiming();
    s.world.unplug(changing);
    changing = s.world.plug_board(family_board(boards));
    state.ResumeTiming();
    s.monitor.scan_usb_devices();
  }
}

BENCHMARK(BM_IdleScan)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK(BM_Baseline)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK(BM_FirstScan)->Arg(1)->Arg(8)->Arg(64);
BENCHMARK(BM_ScanAfterOneChange)->Arg(1)->Arg(8)->Arg(64);

// Keeps every run's time per iteration, to print the idle/baseline ratios after the table.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void print_ratios() const {
    std::printf("\nidle scan / baseline (same run):\n");
    for (const char* n : {"1", "8", "64"}) {
      const auto idle = find(std::string("BM_IdleScan/") + n);
      const auto base = find(std::string("BM_Baseline/") + n);
      if (idle == times_.end() || base == times_.end() || base->second <= 0) continue;
      std::printf("  %2s boards: %.2f\n", n, idle->second / base->second);
    }
  }

 private:
  // With --benchmark_repetitions the median of the repetitions stands for the benchmark.
  std::map<std::string, double>::const_iterator find(const std::string& name) const {
    const auto median = times_.find(name + "_median");
    return median != times_.end() ? median : times_.find(name);
  }

  std::map<std::string, double> times_;
};

void print_call_counts() {
  std::printf("\ndevice-management calls per scan, 8 boards:\n");
  scan_setup s(8);
  auto count_scan = [&s](const char* what) {
    s.world.reset_calls();
    s.monitor.scan_usb_devices();
    std::printf("  %s:\n", what);
    for (std::size_t op = 0; op < world::api_op_count; ++op) {
      const auto calls = s.world.calls(static_cast<world::api_op>(op));
      if (calls != 0)
        std::printf("    %-30s %u\n", world::api_op_name(static_cast<world::api_op>(op)), calls);
    }
  };
  count_scan("first scan");
  count_scan("idle scan");
  world::board extra = s.world.plug_board(family_board(8));
  count_scan("scan after one board was plugged");
  s.world.unplug(extra);
  count_scan("scan after it was unplugged");
}

}  // namespace
}  // namespace vorlin::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vorlin::bench::ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  vorlin::bench::print_call_counts();
  benchmark::Shutdown();
  return 0;
}

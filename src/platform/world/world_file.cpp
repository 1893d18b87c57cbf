#include "platform/world/world_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace vorlin::world {
namespace {

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A "#" at the start of a line or after a blank starts a comment; one inside a word (as in the
// location information "Port_#0003.Hub_#0001") does not.
std::string without_comment(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

bool parse_hex_number(const std::string& text, std::uint32_t limit, std::uint32_t& out) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 8) return false;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  const unsigned long value = std::strtoul(digits.c_str(), nullptr, 16);
  if (value > limit) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

bool parse_id_pair(const std::string& text, std::uint16_t& first, std::uint16_t& second) {
  const auto colon = text.find(':');
  std::uint32_t a = 0, b = 0;
  if (colon == std::string::npos || !parse_hex_number(text.substr(0, colon), 0xFFFF, a) ||
      !parse_hex_number(text.substr(colon + 1), 0xFFFF, b)) {
    return false;
  }
  first = static_cast<std::uint16_t>(a);
  second = static_cast<std::uint16_t>(b);
  return true;
}

bool parse_seconds(const std::string& text, double& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(value >= 0) || value > 1e6) return false;
  out = value;
  return true;
}

bool same_hid(const hid_spec& a, const hid_spec& b) {
  return a.interface_number == b.interface_number && a.usage_page == b.usage_page &&
         a.usage == b.usage && a.openable == b.openable && a.reported_vid == b.reported_vid &&
         a.reported_pid == b.reported_pid;
}

bool same_board(const board_spec& a, const board_spec& b) {
  return a.vid == b.vid && a.pid == b.pid && a.release == b.release && a.serial == b.serial &&
         a.usb_port == b.usb_port && a.location_information == b.location_information &&
         a.com_port == b.com_port && a.com_port_interface == b.com_port_interface &&
         std::equal(a.hid.begin(), a.hid.end(), b.hid.begin(), b.hid.end(), same_hid);
}

class parser {
 public:
  explicit parser(world_description& out) : out_(out) {}

  // Returns an empty text on success, else what is wrong with the line.
  std::string line(const std::string& raw) {
    const std::string text = trim(without_comment(raw));
    const auto words = split_words(text);
    if (words.empty()) return "";
    if (board_ != nullptr) return board_statement(words, text);
    const std::string& keyword = words[0];
    if (keyword == "board") {
      if (words.size() != 2) return "expected: board NAME";
      if (out_.find(words[1]) != nullptr) return "board '" + words[1] + "' is described twice";
      out_.boards.push_back(world_board{});
      board_ = &out_.boards.back();
      board_->name = words[1];
      has_usb_ = false;
      return "";
    }
    if (keyword == "at") return step(words);
    if (keyword == "loop") {
      double seconds = 0;
      if (words.size() != 2 || !parse_seconds(words[1], seconds) || seconds <= 0) {
        return "expected: loop SECONDS (more than 0)";
      }
      out_.loop_seconds = seconds;
      return "";
    }
    if (keyword == "cfgmgr") {
      if (words.size() != 2) return "expected: cfgmgr missing|missing-property|missing-key";
      if (words[1] == "missing") {
        out_.cfgmgr = {false, false};
      } else if (words[1] == "missing-property") {
        out_.cfgmgr.devnode_registry_property = false;
      } else if (words[1] == "missing-key") {
        out_.cfgmgr.open_devnode_key = false;
      } else {
        return "unknown cfgmgr setting '" + words[1] + "'";
      }
      return "";
    }
    if (keyword == "fault") return fault(words);
    return "unknown statement '" + keyword + "'";
  }

  std::string finish() {
    if (board_ != nullptr) return "board '" + board_->name + "' has no 'end'";
    return "";
  }

 private:
  std::string board_statement(const std::vector<std::string>& words, const std::string& text) {
    board_spec& spec = board_->spec;
    const std::string& keyword = words[0];
    if (keyword == "end") {
      if (words.size() != 1) return "expected: end";
      if (!has_usb_) return "board '" + board_->name + "' has no 'usb' line";
      board_ = nullptr;
      return "";
    }
    if (keyword == "usb") {
      if (words.size() < 2 || !parse_id_pair(words[1], spec.vid, spec.pid)) {
        return "expected: usb VID:PID [rev RELEASE] [serial TEXT]";
      }
      for (std::size_t i = 2; i < words.size(); i += 2) {
        if (i + 1 >= words.size()) return "'" + words[i] + "' needs a value";
        std::uint32_t release = 0;
        if (words[i] == "rev" && parse_hex_number(words[i + 1], 0xFFFF, release)) {
          spec.release = static_cast<std::uint16_t>(release);
        } else if (words[i] == "serial") {
          spec.serial = words[i + 1];
        } else {
          return "unknown or bad usb setting '" + words[i] + " " + words[i + 1] + "'";
        }
      }
      has_usb_ = true;
      return "";
    }
    if (keyword == "port") {
      if (words.size() != 2) return "expected: port ADDRESS/ADDRESS/...";
      std::vector<std::uint32_t> chain;
      std::istringstream in(words[1]);
      for (std::string piece; std::getline(in, piece, '/');) {
        std::uint32_t address = 0;
        if (!parse_hex_number(piece, 0xFFFFFFFF, address)) return "bad address '" + piece + "'";
        chain.push_back(address);
      }
      if (chain.empty()) return "expected: port ADDRESS/ADDRESS/...";
      spec.usb_port = chain;
      return "";
    }
    if (keyword == "location-info") {
      const std::string value = trim(text.substr(keyword.size()));
      if (value.empty()) return "expected: location-info TEXT|none";
      spec.location_information =
          value == "none" ? std::nullopt : std::optional<std::string>(value);
      return "";
    }
    if (keyword == "com") {
      if (words.size() != 2 && !(words.size() == 4 && words[2] == "mi")) {
        return "expected: com NAME [mi INTERFACE]";
      }
      spec.com_port = words[1];
      if (words.size() == 4) {
        std::uint32_t mi = 0;
        if (!parse_hex_number(words[3], 0xFF, mi)) return "bad interface number '" + words[3] + "'";
        spec.com_port_interface = static_cast<int>(mi);
      }
      return "";
    }
    if (keyword == "hid") return hid(words);
    if (keyword == "absent") {
      if (words.size() != 1) return "expected: absent";
      board_->present_at_start = false;
      return "";
    }
    return "unknown board statement '" + keyword + "'";
  }

  std::string hid(const std::vector<std::string>& words) {
    const char* usage = "expected: hid INTERFACE|- PAGE:USAGE [reports VID:PID] [locked]";
    if (words.size() < 3) return usage;
    hid_spec h;
    if (words[1] != "-") {
      std::uint32_t mi = 0;
      if (!parse_hex_number(words[1], 0xFF, mi)) return "bad interface number '" + words[1] + "'";
      h.interface_number = static_cast<int>(mi);
    }
    if (!parse_id_pair(words[2], h.usage_page, h.usage)) return usage;
    for (std::size_t i = 3; i < words.size(); ++i) {
      if (words[i] == "locked") {
        h.openable = false;
      } else if (words[i] == "reports" && i + 1 < words.size()) {
        std::uint16_t vid = 0, pid = 0;
        if (!parse_id_pair(words[++i], vid, pid)) return usage;
        h.reported_vid = vid;
        h.reported_pid = pid;
      } else {
        return usage;
      }
    }
    board_->spec.hid.push_back(h);
    return "";
  }

  std::string step(const std::vector<std::string>& words) {
    const char* usage = "expected: at SECONDS plug|unplug NAME, or at SECONDS replace OLD NEW";
    world_step s;
    if (words.size() < 4 || !parse_seconds(words[1], s.at_seconds)) return usage;
    if (!out_.timeline.empty() && s.at_seconds < out_.timeline.back().at_seconds) {
      return "timeline steps must be in time order";
    }
    s.board = words[3];
    if (words[2] == "plug" && words.size() == 4) {
      s.action = world_step::kind::plug;
    } else if (words[2] == "unplug" && words.size() == 4) {
      s.action = world_step::kind::unplug;
    } else if (words[2] == "replace" && words.size() == 5) {
      s.action = world_step::kind::replace;
      s.new_board = words[4];
    } else {
      return usage;
    }
    for (const std::string* name : {&s.board, &s.new_board}) {
      if (!name->empty() && out_.find(*name) == nullptr) {
        return "unknown board '" + *name + "' (describe boards before the timeline)";
      }
    }
    out_.timeline.push_back(s);
    return "";
  }

  std::string fault(const std::vector<std::string>& words) {
    const char* usage = "expected: fault OPERATION always|once|call N";
    world_fault f;
    if (words.size() < 3) return usage;
    if (!api_op_from_name(words[1], f.op)) return "unknown operation '" + words[1] + "'";
    if (words[2] == "always" && words.size() == 3) {
      f.kind = world_fault::mode::always;
    } else if (words[2] == "once" && words.size() == 3) {
      f.kind = world_fault::mode::once;
    } else if (words[2] == "call" && words.size() == 4) {
      std::uint32_t n = 0;
      char* end = nullptr;
      const unsigned long value = std::strtoul(words[3].c_str(), &end, 10);
      if (*end != '\0' || value == 0 || value > 0xFFFFFFFFul) return usage;
      n = static_cast<std::uint32_t>(value);
      f.kind = world_fault::mode::on_call;
      f.call = n;
    } else {
      return usage;
    }
    out_.faults.push_back(f);
    return "";
  }

  world_description& out_;
  world_board* board_ = nullptr;
  bool has_usb_ = false;
};

}  // namespace

const world_board* world_description::find(const std::string& name) const {
  for (const auto& b : boards) {
    if (b.name == name) return &b;
  }
  return nullptr;
}

bool parse_world_file(const std::string& text, world_description& out, std::string& error) {
  world_description parsed;
  parser p(parsed);
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::string problem = p.line(line);
    if (!problem.empty()) {
      error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  const std::string problem = p.finish();
  if (!problem.empty()) {
    error = "line " + std::to_string(number) + ": " + problem;
    return false;
  }
  out = std::move(parsed);
  return true;
}

bool load_world_file(const std::string& path, world_description& out, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!parse_world_file(text.str(), out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

world_player::world_player(device_world& world, world_description description)
    : world_(world), description_(std::move(description)) {}

void world_player::start() {
  world_.set_cfgmgr_functions(description_.cfgmgr);
  for (const auto& f : description_.faults) {
    switch (f.kind) {
      case world_fault::mode::always:
        world_.fail_always(f.op);
        break;
      case world_fault::mode::once:
        world_.fail_once(f.op);
        break;
      case world_fault::mode::on_call:
        world_.fail_on_call(f.op, f.call);
        break;
    }
  }
  for (const auto& b : description_.boards) {
    if (b.present_at_start) plug(b.name);
  }
}

void world_player::apply(const world_step& step) {
  switch (step.action) {
    case world_step::kind::plug:
      plug(step.board);
      break;
    case world_step::kind::unplug:
      unplug(step.board);
      break;
    case world_step::kind::replace:
      unplug(step.board);
      plug(step.new_board);
      break;
  }
}

void world_player::reconcile(const world_description& next) {
  for (auto it = plugged_.begin(); it != plugged_.end();) {
    const world_board* now = next.find(it->first);
    const world_board* before = description_.find(it->first);
    if (now == nullptr || !now->present_at_start || !same_board(now->spec, before->spec)) {
      world_.unplug(it->second);
      it = plugged_.erase(it);
    } else {
      ++it;
    }
  }
  description_ = next;
  world_.set_cfgmgr_functions(description_.cfgmgr);
  world_.clear_faults();
  start();
}

void world_player::plug(const std::string& name) {
  const world_board* b = description_.find(name);
  if (b == nullptr || plugged_.count(name) != 0) return;
  plugged_.emplace(name, world_.plug_board(b->spec));
}

void world_player::unplug(const std::string& name) {
  const auto it = plugged_.find(name);
  if (it == plugged_.end()) return;
  world_.unplug(it->second);
  plugged_.erase(it);
}

}  // namespace vorlin::world

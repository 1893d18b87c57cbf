#include "host_view.h"

#include <cctype>
#include <stdexcept>

namespace vorlin::testing {
namespace {

class decoder {
 public:
  explicit decoder(const std::string& s) : s_(s) {}

  bool at_end() {
    skip_space();
    return pos_ >= s_.size();
  }
  std::size_t position() const { return pos_; }

  json_value value() {
    skip_space();
    if (pos_ >= s_.size()) fail("unexpected end");
    const char c = s_[pos_];
    if (c == '{') return object();
    if (c == '[') return array();
    if (c == '"') {
      json_value v;
      v.kind = json_value::string;
      v.text = string();
      return v;
    }
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return number();
    if (literal("true") || literal("false")) {
      json_value v;
      v.kind = json_value::boolean;
      return v;
    }
    if (literal("null")) return json_value{};
    fail("unexpected character");
  }

 private:
  [[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + " at byte " + std::to_string(pos_));
  }
  void skip_space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
      ++pos_;
    }
  }
  void expect(char c) {
    skip_space();
    if (pos_ >= s_.size() || s_[pos_] != c) fail("expected another character");
    ++pos_;
  }
  bool literal(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  json_value object() {
    json_value v;
    v.kind = json_value::object;
    expect('{');
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return v;
    }
    for (;;) {
      skip_space();
      if (pos_ >= s_.size() || s_[pos_] != '"') fail("expected a key");
      std::string key = string();
      expect(':');
      v.members.emplace_back(std::move(key), value());
      skip_space();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      expect('}');
      return v;
    }
  }
  json_value array() {
    json_value v;
    v.kind = json_value::array;
    expect('[');
    skip_space();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return v;
    }
    for (;;) {
      v.items.push_back(value());
      skip_space();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      expect(']');
      return v;
    }
  }
  json_value number() {
    const std::size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    while (pos_ < s_.size() &&
           (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.' ||
            s_[pos_] == 'e' || s_[pos_] == 'E' || s_[pos_] == '+' || s_[pos_] == '-')) {
      ++pos_;
    }
    json_value v;
    v.kind = json_value::number;
    v.text = s_.substr(start, pos_ - start);
    return v;
  }
  std::string string() {
    ++pos_;  // opening quote
    std::string out;
    for (;;) {
      if (pos_ >= s_.size()) fail("unterminated string");
      const auto c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') return out;
      if (c < 0x20) fail("control character in string");
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (pos_ >= s_.size()) fail("unterminated escape");
      const char e = s_[pos_++];
      switch (e) {
        case '"':
          out.push_back('"');
          break;
        case '\\':
          out.push_back('\\');
          break;
        case '/':
          out.push_back('/');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          if (pos_ + 4 > s_.size()) fail("short unicode escape");
          const unsigned long code = std::stoul(s_.substr(pos_, 4), nullptr, 16);
          pos_ += 4;
          if (code > 0xFF) fail("unexpected wide unicode escape");
          out.push_back(static_cast<char>(code));
          break;
        }
        default:
          fail("bad escape");
      }
    }
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

}  // namespace

const json_value& json_value::operator[](const std::string& key) const {
  static const json_value none;
  for (const auto& [name, value] : members) {
    if (name == key) return value;
  }
  return none;
}

std::string canonical_text(const json_value& value) {
  switch (value.kind) {
    case json_value::null_kind:
      return "null";
    case json_value::boolean:
    case json_value::number:
      return value.text.empty() ? "bool" : value.text;
    case json_value::string: {
      std::string out = "\"";
      for (const char c : value.text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
      }
      return out + "\"";
    }
    case json_value::array: {
      std::string out = "[";
      for (const auto& item : value.items) out += canonical_text(item) + ",";
      return out + "]";
    }
    case json_value::object: {
      std::string out = "{";
      for (const auto& [key, member] : value.members)
        out += key + ":" + canonical_text(member) + ",";
      return out + "}";
    }
  }
  return "";
}

std::vector<host_event> decode_event_stream(const std::string& stream, std::string* error) {
  std::vector<host_event> events;
  decoder d(stream);
  try {
    while (!d.at_end()) {
      json_value v = d.value();
      if (v.kind != json_value::object) throw std::runtime_error("event is not an object");
      host_event event;
      event.type = v["eventType"].text;
      event.body = std::move(v);
      events.push_back(std::move(event));
    }
    if (error != nullptr) error->clear();
  } catch (const std::exception& e) {
    if (error != nullptr) *error = e.what();
  }
  return events;
}

void host_view::apply(const host_event& event) {
  if (event.type == "add") {
    const json_value& port = event.body["port"];
    ports_[port["address"].text] = port;
  } else if (event.type == "remove") {
    ports_.erase(event.body["port"]["address"].text);
  } else if (event.type == "list") {
    ports_.clear();
    for (const auto& port : event.body["ports"].items) ports_[port["address"].text] = port;
  }
}

std::map<std::string, std::string> host_view::labels() const {
  std::map<std::string, std::string> result;
  for (const auto& [address, port] : ports_) result[address] = port["label"].text;
  return result;
}

}  // namespace vorlin::testing

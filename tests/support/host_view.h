// What a host sees on the service's standard output: a strict JSON stream decoder (the host
// treats any decode error as fatal) and the host's replay of "add" and "remove" events.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vorlin::testing {

struct json_value {
  enum kind_t { null_kind, boolean, number, string, array, object } kind = null_kind;
  std::string text;                                         // string value, or number text
  std::vector<json_value> items;                            // array items
  std::vector<std::pair<std::string, json_value>> members;  // object members, in order

  // The member `key` of an object; a null value when absent.
  const json_value& operator[](const std::string& key) const;
};

// The value written back as compact JSON text, members in their order: equal texts mean equal
// values.
std::string canonical_text(const json_value& value);

struct host_event {
  std::string type;  // "eventType"
  json_value body;
};

// Decodes a stream of JSON objects that follow one another directly. On a decode error the
// result holds the events before it and *error says where it failed.
std::vector<host_event> decode_event_stream(const std::string& stream, std::string* error);

// The host's view of the ports: address -> port object, from "add" and "remove" events (and a
// "list" event replaces the whole view).
class host_view {
 public:
  void apply(const host_event& event);
  const std::map<std::string, json_value>& ports() const { return ports_; }
  // address -> port name part of the label, for compact comparisons.
  std::map<std::string, std::string> labels() const;

 private:
  std::map<std::string, json_value> ports_;
};

}  // namespace vorlin::testing

#include "protocol/event_writer.h"

#include <cstdarg>
#include <cstring>

namespace vorlin {
namespace {

constexpr std::size_t label_length_chars = 21;
constexpr char hid_path_prefix[] = "\\\\?\\";

struct usb_type_row {
  std::uint32_t pid;
  const char* name;
  const char* name_0x211;  // null: the same name whatever the release
  const char* name_0x212;
};
constexpr usb_type_row usb_type_table[] = {
    {0x476, "Everything", nullptr, nullptr},
    {0x478, "Bootloader", nullptr, nullptr},
    {0x482, "Keyboard+Mouse+Joystick", nullptr, nullptr},
    {0x483, "Serial", nullptr, nullptr},
    {0x485, "MIDI", "MIDIx4", "MIDIx16"},
    {0x486, "RawHID", nullptr, nullptr},
    {0x487, "Serial+Keyboard+Mouse+Joystick", nullptr, nullptr},
    {0x488, "FlightSim", nullptr, nullptr},
    {0x489, "Serial+MIDI", "Serial+MIDIx4", "Serial+MIDIx16"},
    {0x48A, "Serial+MIDI+Audio", nullptr, "Serial+MIDIx16+Audio"},
    {0x48B, "Dual Serial", nullptr, nullptr},
    {0x48C, "Triple Serial", nullptr, nullptr},
    {0x4D0, "Keyboard", nullptr, nullptr},
    {0x4D1, "MTPDisk", nullptr, nullptr},
    {0x4D2, "Audio", nullptr, nullptr},
    {0x4D3, "Keyboard+TouchScreen", nullptr, nullptr},
    {0x4D4, "Keyboard+Mouse+TouchScreen", nullptr, nullptr},
    {0x4D5, "Serial+MTPDisk", nullptr, nullptr},
    {0x4D9, "FlightSim+Joystick", nullptr, nullptr},
};

constexpr std::uint32_t first_named_model = 25;
constexpr const char* model_names[] = {
    "Vorlin Mk1",       "Vorlin Mk1 Wide",   "Vorlin Mk2",         "Vorlin Mk2 Wide",
    "Vorlin Mk3",       "Vorlin Mk3 Rev B",  "Vorlin Mk3 Max",     "Vorlin Lite",
    "Vorlin Mk3 Rev C", "Vorlin Mk3 Ultra",  "Vorlin Mk4 Preview", "Vorlin Mk4",
    "Vorlin Mk4 Max",   "Vorlin Mk4 Module",
};

}  // namespace

const char* short_port_label(const char* port_name, char (&buffer)[64]) {
  const std::size_t prefix_length = sizeof hid_path_prefix - 1;
  if (std::strncmp(port_name, hid_path_prefix, prefix_length) == 0) port_name += prefix_length;
  if (std::strlen(port_name) <= label_length_chars) return port_name;
  std::memcpy(buffer, port_name, label_length_chars);
  buffer[label_length_chars] = '\0';
  return buffer;
}

const char* usb_type_name(std::uint32_t pid, std::uint32_t release) {
  for (const auto& row : usb_type_table) {
    if (row.pid != pid) continue;
    if (release == 0x211 && row.name_0x211 != nullptr) return row.name_0x211;
    if (release == 0x212 && row.name_0x212 != nullptr) return row.name_0x212;
    return row.name;
  }
  return "Unknown";
}

const char* model_name(std::uint32_t model_id) {
  const std::uint32_t count = sizeof model_names / sizeof model_names[0];
  if (model_id >= first_named_model && model_id - first_named_model < count) {
    return model_names[model_id - first_named_model];
  }
  return "Vorlin";
}

void event_writer::unlock_output() {
  output_lock_.unlock();
  std::fflush(out_);
}

void event_writer::write_raw(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
}

void event_writer::write_json_text(const char* text) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  const char* run = text;  // bytes that pass unchanged are written in runs
  for (const char* p = text;; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    const bool escape = byte == '"' || byte == '\\' || (byte < 0x20 && byte != 0);
    if (!escape && byte != 0) continue;
    std::fwrite(run, 1, static_cast<std::size_t>(p - run), out_);
    if (byte == 0) return;
    if (byte < 0x20) {
      const char unicode[] = {'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
      std::fwrite(unicode, 1, sizeof unicode, out_);
    } else {
      const char pair[] = {'\\', static_cast<char>(byte)};
      std::fwrite(pair, 1, sizeof pair, out_);
    }
    run = p + 1;
  }
}

void event_writer::write_event(const char* format, ...) {
  lock_output();
  va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
  unlock_output();
}

void event_writer::write_port_object(const port_entry& entry) {
  char label_buffer[64];
  write_raw("{\n\"address\": \"");
  write_json_text(entry.address);
  write_raw("\",\n\"label\": \"");
  write_json_text(short_port_label(entry.port_name, label_buffer));
  write_raw(" %s\",\n", usb_type_name(entry.pid, entry.bcd_device));
  write_raw("\"protocol\": \"vorlin\",\n\"protocolLabel\": \"Vorlin Ports\",\n\"properties\": {\n");
  if (entry.model_id != 0) write_raw("\"modelID\": \"0x%02X\",\n", entry.model_id);
  if (entry.serial_number != 0) write_raw("\"serialNumber\": \"%u\",\n", entry.serial_number);
  write_raw("\"name\": \"%s\"\n}\n}\n", model_name(entry.model_id));
}

void event_writer::write_add_event_locked(const port_entry& entry) {
  write_raw("{\n\"eventType\": \"add\",\n\"port\": ");
  write_port_object(entry);
  write_raw("}\n");
}

void event_writer::write_add_event(const port_entry& entry) {
  lock_output();
  write_add_event_locked(entry);
  unlock_output();
}

void event_writer::write_remove_event(const port_entry& entry) {
  lock_output();
  write_raw("{\n\"eventType\": \"remove\",\n\"port\": {\n\"address\": \"");
  write_json_text(entry.address);
  write_raw("\",\n\"protocol\": \"vorlin\"\n}\n}\n");
  unlock_output();
}

void event_writer::write_list_event(const port_snapshot& snapshot) {
  std::size_t remaining = 0;
  for (const auto& entry : snapshot) remaining += entry.present != 0 ? 1 : 0;
  lock_output();
  write_raw("{\n\"eventType\": \"list\",\n\"ports\": [\n");
  for (const auto& entry : snapshot) {
    if (entry.present == 0) continue;
    --remaining;
    write_port_object(entry);
    if (remaining > 0) write_raw(",\n");
  }
  write_raw("]\n}\n");
  unlock_output();
}

void event_writer::write_add_events(const port_snapshot& snapshot) {
  for (const auto& entry : snapshot) {
    if (entry.present != 0) write_add_event_locked(entry);
  }
}

}  // namespace vorlin

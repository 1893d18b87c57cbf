#include "protocol/event_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "service_fixture.h"

namespace vorlin {
namespace {

using testing::captured_output;

port_entry make_entry(const char* address, const char* port_name, std::uint32_t pid,
                      std::uint32_t bcd_device, std::uint32_t model_id, std::uint32_t serial,
                      int present = 1) {
  port_entry entry{};
  copy_bounded(entry.address, address, sizeof entry.address);
  copy_bounded(entry.port_name, port_name, sizeof entry.port_name);
  entry.vid = 0x16C0;
  entry.pid = pid;
  entry.bcd_device = bcd_device;
  entry.model_id = model_id;
  entry.serial_number = serial;
  entry.present = present;
  return entry;
}

std::string port_object(const std::string& address, const std::string& label,
                        const std::string& optional_lines, const std::string& name) {
  return "{\n\"address\": \"" + address + "\",\n\"label\": \"" + label +
         "\",\n\"protocol\": \"vorlin\",\n\"protocolLabel\": \"Vorlin Ports\",\n"
         "\"properties\": {\n" +
         optional_lines + "\"name\": \"" + name + "\"\n}\n}\n";
}

TEST(EventWriter, AddEventWithAndWithoutOptionalProperties) {
  struct {
    std::uint32_t model_id, serial;
    const char* optional_lines;
    const char* name;
  } const cases[] = {
      {36, 12345678, "\"modelID\": \"0x24\",\n\"serialNumber\": \"12345678\",\n", "Vorlin Mk4"},
      {0, 0, "", "Vorlin"},
      {5, 0, "\"modelID\": \"0x05\",\n", "Vorlin"},
      {38, 4294967295u, "\"modelID\": \"0x26\",\n\"serialNumber\": \"4294967295\",\n",
       "Vorlin Mk4 Module"},
      {0, 7, "\"serialNumber\": \"7\",\n", "Vorlin"},
  };
  for (const auto& c : cases) {
    captured_output out;
    event_writer writer(out.file());
    writer.write_add_event(make_entry("usb:0/14/1/3", "COM7", 0x483, 0x279, c.model_id, c.serial));
    EXPECT_EQ(out.text(), "{\n\"eventType\": \"add\",\n\"port\": " +
                              port_object("usb:0/14/1/3", "COM7 Serial", c.optional_lines, c.name) +
                              "}\n");
  }
}

TEST(EventWriter, RemoveEventCarriesOnlyAddressAndProtocol) {
  captured_output out;
  event_writer writer(out.file());
  writer.write_remove_event(make_entry("usb:0/3", "COM3", 0x483, 0, 29, 1));
  EXPECT_EQ(out.text(),
            "{\n\"eventType\": \"remove\",\n\"port\": {\n\"address\": \"usb:0/3\",\n"
            "\"protocol\": \"vorlin\"\n}\n}\n");
}

TEST(EventWriter, ListSeparatesPresentPortsAndPassesOverRemovedOnes) {
  port_snapshot snapshot = {make_entry("usb:0/1", "COM1", 0x483, 0, 0, 0),
                            make_entry("usb:0/2", "COM2", 0x483, 0, 0, 0, 0),
                            make_entry("usb:0/3", "COM3", 0x483, 0, 0, 0)};
  captured_output out;
  event_writer writer(out.file());
  writer.write_list_event(snapshot);
  EXPECT_EQ(out.text(), "{\n\"eventType\": \"list\",\n\"ports\": [\n" +
                            port_object("usb:0/1", "COM1 Serial", "", "Vorlin") + ",\n" +
                            port_object("usb:0/3", "COM3 Serial", "", "Vorlin") + "]\n}\n");
}

TEST(EventWriter, EmptyListAndBurstOfRemovedPorts) {
  captured_output out;
  event_writer writer(out.file());
  writer.write_list_event({});
  writer.write_list_event({make_entry("usb:0/2", "COM2", 0x483, 0, 0, 0, 0)});
  writer.lock_output();
  writer.write_add_events({make_entry("usb:0/2", "COM2", 0x483, 0, 0, 0, 0)});
  writer.unlock_output();
  const std::string empty_list = "{\n\"eventType\": \"list\",\n\"ports\": [\n]\n}\n";
  EXPECT_EQ(out.text(), empty_list + empty_list);
}

TEST(EventWriter, FixedReplies) {
  captured_output out;
  event_writer writer(out.file());
  for (const char* reply : {hello_reply, start_reply, stop_reply, start_sync_reply, quit_reply}) {
    writer.write_event("%s", reply);
  }
  EXPECT_EQ(out.text(),
            "{\n\"eventType\": \"hello\",\n\"protocolVersion\": 1,\n\"message\": \"OK\"\n}\n"
            "{\n\"eventType\": \"start\",\n\"message\": \"OK\"\n}\n"
            "{\n\"eventType\": \"stop\",\n\"message\": \"OK\"\n}\n"
            "{\n\"eventType\": \"start_sync\",\n\"message\": \"OK\"\n}\n"
            "{\n\"eventType\": \"quit\",\n\"message\": \"OK\"\n}\n");
}

TEST(EventWriter, ShortPortLabel) {
  const std::string twenty_one(21, 'a');
  struct {
    std::string port_name, label;
  } const cases[] = {
      {"COM12", "COM12"},
      {"[no_device]", "[no_device]"},
      {twenty_one, twenty_one},
      {twenty_one + "b", twenty_one},
      {"\\\\?\\" + twenty_one, twenty_one},
      {"\\\\?\\hid#vid_16c0&pid_0486&mi_01#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf}",
       "hid#vid_16c0&pid_0486"},
      {"\\\\?", "\\\\?"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char buffer[64];
    EXPECT_EQ(std::string(short_port_label(c.port_name.c_str(), buffer)), c.label) << c.port_name;
  }
}

TEST(EventWriter, UsbTypeAndModelNames) {
  struct {
    std::uint32_t pid, release;
    const char* name;
  } const types[] = {
      {0x485, 0x211, "MIDIx4"},
      {0x485, 0x212, "MIDIx16"},
      {0x485, 0x210, "MIDI"},
      {0x485, 0x213, "MIDI"},
      {0x489, 0x211, "Serial+MIDIx4"},
      {0x489, 0x212, "Serial+MIDIx16"},
      {0x489, 0x100, "Serial+MIDI"},
      {0x48A, 0x211, "Serial+MIDI+Audio"},
      {0x48A, 0x212, "Serial+MIDIx16+Audio"},
      {0x484, 0x100, "Unknown"},
      {0x135, 0x100, "Unknown"},
      {0x483, 0x211, "Serial"},
      {0x4D9, 0, "FlightSim+Joystick"},
      {0x476, 0, "Everything"},
      {0x478, 0, "Bootloader"},
  };
  for (const auto& t : types) EXPECT_STREQ(usb_type_name(t.pid, t.release), t.name);
  EXPECT_STREQ(model_name(0), "Vorlin");
  EXPECT_STREQ(model_name(24), "Vorlin");
  EXPECT_STREQ(model_name(25), "Vorlin Mk1");
  EXPECT_STREQ(model_name(32), "Vorlin Lite");
  EXPECT_STREQ(model_name(38), "Vorlin Mk4 Module");
  EXPECT_STREQ(model_name(39), "Vorlin");
  EXPECT_STREQ(model_name(0xFFFFFFFF), "Vorlin");
}

TEST(EventWriter, InsertedTextsAreEscapedSoTheStreamStaysValidJson) {
  // The label is cut to 21 characters before escaping, so a cut never splits an escape.
  const std::string tricky_name = "CO\"M\\9\t\x01\x1f\x7f\xc3\xa9" + std::string(20, 'x');
  captured_output out;
  event_writer writer(out.file());
  writer.write_add_event(make_entry("usb:\"0\"\\\n", tricky_name.c_str(), 0x483, 0, 0, 0));
  writer.write_remove_event(make_entry("loc\x02", "COM1", 0x483, 0, 0, 0));
  const std::string text = out.text();
  EXPECT_NE(text.find("\"address\": \"usb:\\\"0\\\"\\\\\\u000a\",\n"), std::string::npos) << text;
  EXPECT_NE(
      text.find("\"label\": \"CO\\\"M\\\\9\\u0009\\u0001\\u001f\x7f\xc3\xa9xxxxxxxxx Serial\""),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("\"address\": \"loc\\u0002\",\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace vorlin

#include "decode/usb_decoders.hpp"

#include <algorithm>
#include <vector>

#include "common/byte_reader.hpp"
#include "common/zarn_string.hpp"
#include "decode/struct_frame.hpp"

namespace {

namespace mt = in_type;
constexpr u8 ptr = pointer_sized;

// ---- URBs ----

constexpr u64 iso_packet_size = 12;
constexpr int hca_entries = 8;

// The transfer direction and the two flags that name the transfer flags.
constexpr u32 transfer_direction_in = 0x1;
constexpr u32 short_transfer_ok = 0x2;
constexpr u32 start_iso_transfer_asap = 0x4;

std::string transfer_flags_name(u64 flags) {
  std::string name = "TransferFlags [";
  name += (flags & transfer_direction_in) != 0 ? "USBD_TRANSFER_DIRECTION_IN"
                                                : "USBD_TRANSFER_DIRECTION_OUT";
  if ((flags & short_transfer_ok) != 0) name += "| USBD_SHORT_TRANSFER_OK";
  if ((flags & start_iso_transfer_asap) != 0) name += "| USBD_START_ISO_TRANSFER_ASAP";
  name += "]";
  return name;
}

std::string indexed(const char* stem, u64 i) { return stem + std::to_string(i) + "]"; }

// The header at the frame's position, decoded as a nested structure. False
// when it did not fit whole.
bool urb_header(struct_frame& f, bool pointer64, const std::string& prefix) {
  const u64 used = decode_urb_header(f.map(), f.rest(), f.key(), pointer64, prefix);
  f.advance(used);
  return used == 8 + 2 * f.pointer_size();
}

// The transfer part at the frame's position, decoded as a nested
// structure. False when it did not fit whole.
bool transfer_part(struct_frame& f, bool pointer64, const std::string& name) {
  const u64 used = decode_urb_transfer_common(f.map(), f.rest(), f.key(), pointer64, name);
  f.advance(used);
  return used == 16 + 5 * f.pointer_size();
}

// The host controller's area of eight pointer-sized entries. An entry that
// does not fit whole ends the structure: the bytes after it are not the
// members that would follow the area.
bool hca_area(struct_frame& f) {
  for (int i = 0; i < hca_entries; ++i) {
    if (!f.member(ptr, mt::pointer, indexed("hca[", i))) return false;
  }
  return true;
}

// A packet count is only trusted when the packets fit whole in the bytes left.
bool packets_fit(u64 count, u64 left) { return count >= 1 && count <= left / iso_packet_size; }

// ---- USB descriptors ----

constexpr struct_member device_descriptor[] = {
    {1, mt::uint8, "USB_DEVICE_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {2, mt::uint16, "bcdUSB"},
    {1, mt::uint8, "DeviceClass"},
    {1, mt::uint8, "DeviceSubClass"},
    {1, mt::uint8, "DeviceProtocol"},
    {1, mt::uint8, "MaxPacketSize0"},
    {2, mt::uint16, "idVendor"},
    {2, mt::uint16, "idProduct"},
    {2, mt::uint16, "bcdDevice"},
    {1, mt::uint8, "Manufacturer"},
    {1, mt::uint8, "Product"},
    {1, mt::uint8, "SerialNumber"},
    {1, mt::uint8, "NumConfigurations"},
};

constexpr struct_member configuration_descriptor[] = {
    {1, mt::uint8, "USB_CONFIGURATION_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {2, mt::uint16, "TotalLength"},
    {1, mt::uint8, "NumInterfaces"},
    {1, mt::uint8, "ConfigurationValue"},
    {1, mt::uint8, "Configuration"},
    {1, mt::uint8, "Attributes"},
    {1, mt::uint8, "MaxPower"},
};
constexpr u64 total_length_offset = 2;

constexpr struct_member interface_descriptor[] = {
    {1, mt::uint8, "USB_INTERFACE_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {1, mt::uint8, "InterfaceNumber"},
    {1, mt::uint8, "AlternateSetting"},
    {1, mt::uint8, "NumEndpoints"},
    {1, mt::uint8, "InterfaceClass"},
    {1, mt::uint8, "InterfaceSubClass"},
    {1, mt::uint8, "InterfaceProtocol"},
    {1, mt::uint8, "Interface"},
};

constexpr struct_member endpoint_descriptor[] = {
    {1, mt::uint8, "USB_ENDPOINT_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {1, mt::uint8, "EndpointAddress"},
    {1, mt::uint8, "Attributes"},
    {2, mt::uint16, "MaxPacketSize"},
    {1, mt::uint8, "Interval"},
};

constexpr struct_member ss_endpoint_companion[] = {
    {1, mt::uint8, "USB_SUPERSPEED_ENDPOINT_COMPANION_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {1, mt::uint8, "MaxBurst"},
    {1, mt::uint8, "Attributes"},
    {2, mt::uint16, "BytesPerInterval"},
};

constexpr struct_member ssp_isoch_companion[] = {
    {1, mt::uint8, "USB_SUPERSPEEDPLUS_ISOCH_ENDPOINT_COMPANION_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {2, mt::uint16, "Reserved"},
    {4, mt::uint32, "BytesPerInterval"},
};

// Decoded at its full fixed size of 71 bytes, whatever its length byte says.
constexpr struct_member hub_descriptor[] = {
    {1, mt::uint8, "USB_HUB_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
    {1, mt::uint8, "NumberOfPorts"},
    {2, mt::uint16, "HubCharacteristics"},
    {1, mt::uint8, "PowerOnToPowerGood"},
    {1, mt::uint8, "HubControlCurrent"},
    {64, mt::binary, "RemoveAndPowerMask"},
};

constexpr struct_member string_descriptor_head[] = {
    {1, mt::uint8, "USB_STRING_DESCRIPTOR [Length]"},
    {1, mt::uint8, "DescriptorType"},
};
constexpr u64 string_head_size = 2;

// Descriptor types a configuration holds, by the byte at offset 1.
enum descriptor_type : u8 {
  device_type = 1,
  configuration_type = 2,
  string_type = 3,
  interface_type = 4,
  endpoint_type = 5,
};

// The fixed members of a configuration descriptor at the frame's position;
// the end of its walk (the smaller of its total length and the bytes left,
// from the frame's start) when they all fit.
bool configuration_head(struct_frame& f, u64& end) {
  const u64 start = f.position();
  const std::span<const u8> bytes = f.rest();
  if (!f.members(configuration_descriptor)) return false;
  // held: the members around it fitted
  const u64 total = zarn::u16_at(bytes, total_length_offset);
  end = start + std::min<u64>(total, bytes.size());
  return true;
}

// ---- handles, hub ports and PCI locations ----

constexpr struct_member pci_location[] = {
    {ptr, mt::pointer, "DeviceObj"},
    {4, mt::uint32, "PCIBus"},
    {2, mt::uint16, "PCIDevice"},
    {2, mt::uint16, "PCIFunction"},
    {2, mt::uint16, "PCIVendor"},
    {2, mt::uint16, "PCIDeviceID"},
};

constexpr struct_member device_handle_head[] = {
    {ptr, mt::pointer, "DevHandle"},
    {2, mt::uint16, "IDVendor"},
    {2, mt::uint16, "IDProduct"},
    {4, mt::uint32, "PortPathDepth"},
};
constexpr int port_path_entries = 6;
constexpr struct_member device_handle_tail[] = {
    {4, mt::uint32, "DeviceSpeed"},
    {4, mt::uint32, "DeviceAddr"},
};

constexpr struct_member pipe_handles[] = {
    {ptr, mt::pointer, "Endpoint"},
    {ptr, mt::pointer, "PipeHandle"},
    {ptr, mt::pointer, "DeviceHandle"},
};

constexpr struct_member hub_port[] = {
    {1, mt::uint8, "PortIsConnectable"},
    {1, mt::uint8, "PortConnectorType"},
    {4, mt::uint32, "Reserved0"},
    {4, mt::uint32, "Reserved1"},
};

u32 decode_layout(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64,
                  std::span<const struct_member> layout) {
  struct_frame f(map, bytes, key, pointer64);
  (void)f.members(layout);
  return static_cast<u32>(f.position());
}

}  // namespace

// ---- URBs ----

u32 decode_urb_header(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64,
                      const std::string& prefix) {
  struct_frame f(map, bytes, key, pointer64);
  const std::string first = prefix.empty() ? "Length" : prefix + " [Length]";
  static constexpr struct_member rest[] = {
      {2, mt::uint16, "Function"},
      {4, mt::uint32, "Status"},
      {ptr, mt::pointer, "UsbDevHandle"},
      {ptr, mt::pointer, "Flags"},
  };
  if (f.member(2, mt::uint16, first)) (void)f.members(rest);
  return static_cast<u32>(f.position());
}

u32 decode_urb_header_alone(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64) {
  return decode_urb_header(map, bytes, key, pointer64, "");
}

u32 decode_urb_transfer_common(field_map& map, std::span<const u8> bytes, u64 key,
                               bool pointer64, const std::string& name) {
  struct_frame f(map, bytes, key, pointer64);
  u64 flags = 0;
  if (!urb_header(f, pointer64, name) || !f.member(ptr, mt::pointer, "PipeHandle") ||
      !f.peek(4, flags) || !f.member(4, mt::uint32, transfer_flags_name(flags))) {
    return static_cast<u32>(f.position());
  }
  static constexpr struct_member tail[] = {
      {4, mt::uint32, "TransferBufferLength"},
      {ptr, mt::pointer, "TransferBuffer"},
      {ptr, mt::pointer, "TransferBufferMDL"},
  };
  (void)f.members(tail);
  return static_cast<u32>(f.position());
}

u32 decode_urb_bulk_or_interrupt_transfer(field_map& map, std::span<const u8> bytes, u64 key,
                                          bool pointer64) {
  struct_frame f(map, bytes, key, pointer64);
  if (transfer_part(f, pointer64, "URB_BULK_OR_INTERRUPT_TRANSFER") &&
      f.member(ptr, mt::pointer, "UrbLinkPtr")) {
    (void)hca_area(f);
  }
  return static_cast<u32>(f.position());
}

u32 decode_urb_control_transfer(field_map& map, std::span<const u8> bytes, u64 key,
                                bool pointer64) {
  struct_frame f(map, bytes, key, pointer64);
  if (transfer_part(f, pointer64, "URB_CONTROL_TRANSFER") &&
      f.member(ptr, mt::pointer, "UrbLinkPtr") && hca_area(f)) {
    // 4 bytes of the 8-byte setup packet, as a number
    (void)f.member(4, mt::uint32, "SetupPacket");
  }
  return static_cast<u32>(f.position());
}

u32 decode_urb_control_transfer_ex(field_map& map, std::span<const u8> bytes, u64 key,
                                   bool pointer64) {
  struct_frame f(map, bytes, key, pointer64);
  if (transfer_part(f, pointer64, "URB_CONTROL_TRANSFER_EX") &&
      f.member(4, mt::uint32, "Timeout") && f.member(4, mt::uint32, "Pad") && hca_area(f)) {
    (void)f.member(4, mt::uint32, "SetupPacket");
  }
  return static_cast<u32>(f.position());
}

u32 decode_urb_isoch_transfer(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64) {
  struct_frame f(map, bytes, key, pointer64);
  if (!transfer_part(f, pointer64, "URB_ISOCH_TRANSFER") ||
      !f.member(ptr, mt::pointer, "UrbLinkPtr") || !hca_area(f) ||
      !f.member(4, mt::uint32, "StartFrame")) {
    return static_cast<u32>(f.position());
  }
  u64 packets = 0;
  if (!f.peek(4, packets) || !f.member(4, mt::uint32, "NumberOfPackets") ||
      !f.member(4, mt::uint32, "ErrorCount")) {
    return static_cast<u32>(f.position());
  }
  // the count is a number of the payload: used only when its packets fit
  if (!packets_fit(packets, f.left())) return static_cast<u32>(f.position());
  for (u64 i = 0; i < packets; ++i) {
    (void)f.member(4, mt::uint32, indexed("IsoPacket[", i) + " [Offset]");
    (void)f.member(4, mt::uint32, "Length");
    (void)f.member(4, mt::uint32, "Status");
  }
  return static_cast<u32>(f.position());
}

u32 decode_iso_packets(field_map& map, std::span<const u8> bytes, u64 key, u64 count) {
  if (!packets_fit(count, bytes.size())) return 0;
  struct_frame f(map, bytes, key, false);
  static constexpr struct_member packet[] = {
      {4, mt::uint32, "Offset"},
      {4, mt::uint32, "Length"},
      {4, mt::uint32, "Status"},
  };
  for (u64 i = 0; i < count; ++i) (void)f.members(packet);
  return static_cast<u32>(f.position());
}

// ---- USB descriptors ----

u32 decode_device_descriptor(field_map& map, std::span<const u8> bytes, u64 key) {
  return decode_layout(map, bytes, key, false, device_descriptor);
}

u32 decode_interface_descriptor(field_map& map, std::span<const u8> bytes, u64 key) {
  return decode_layout(map, bytes, key, false, interface_descriptor);
}

u32 decode_endpoint_descriptor(field_map& map, std::span<const u8> bytes, u64 key) {
  return decode_layout(map, bytes, key, false, endpoint_descriptor);
}

u32 decode_ss_endpoint_companion(field_map& map, std::span<const u8> bytes, u64 key) {
  return decode_layout(map, bytes, key, false, ss_endpoint_companion);
}

u32 decode_ssp_isoch_companion(field_map& map, std::span<const u8> bytes, u64 key) {
  return decode_layout(map, bytes, key, false, ssp_isoch_companion);
}

u32 decode_hub_descriptor(field_map& map, std::span<const u8> bytes, u64 key) {
  return decode_layout(map, bytes, key, false, hub_descriptor);
}

u32 decode_string_descriptor(field_map& map, std::span<const u8> bytes, u64 key) {
  struct_frame f(map, bytes, key, false);
  if (!f.members(string_descriptor_head)) return static_cast<u32>(f.position());
  const u64 length = bytes[0];
  // a length that leaves no room for its own two bytes, or that runs past
  // the bytes left, gives no text: the two bytes read are consumed
  if (length < string_head_size || length > bytes.size()) return static_cast<u32>(f.position());
  const u64 text_size = length - string_head_size;
  std::string text;
  (void)utf16le_to_utf8(f.rest().first(text_size), text, static_cast<i32>(text_size), false);
  mark_line_endings(text);
  field_rec s;
  s.set_text(text.empty() ? "-" : text, static_cast<u32>(text_size), in_type::utf16_text,
             "String", 1);
  s.placeholder_flag = text.empty() ? 1 : 0;
  f.store(s);
  return static_cast<u32>(length);
}

// The walk over the descriptors behind a configuration descriptor, each
// found by its type byte and decoded by the decoder of its kind, up to the
// configuration's total length. A configuration inside a configuration is
// walked to its own total length and then the outer walk goes on; the
// levels are kept in a list, not on the call stack, so that a payload of
// nested configurations cannot exhaust the stack.
u32 decode_configuration_descriptor(field_map& map, std::span<const u8> bytes, u64 key) {
  struct_frame f(map, bytes, key, false);
  std::vector<u64> ends;  // where each open configuration's walk ends
  u64 end = 0;
  if (!configuration_head(f, end)) return static_cast<u32>(f.position());
  ends.push_back(end);
  while (!ends.empty()) {
    end = ends.back();
    if (f.position() >= end) {
      ends.pop_back();
      continue;
    }
    const u64 remaining = end - f.position();
    const std::span<const u8> next = f.rest().first(remaining);
    // one byte before the end holds no type byte: it is kept as data
    const u8 kind = remaining >= 2 ? next[1] : 0;
    u64 used = 0;
    switch (kind) {
      case device_type: used = decode_device_descriptor(map, next, f.key()); break;
      case string_type: used = decode_string_descriptor(map, next, f.key()); break;
      case interface_type: used = decode_interface_descriptor(map, next, f.key()); break;
      case endpoint_type: used = decode_endpoint_descriptor(map, next, f.key()); break;
      case configuration_type: {
        struct_frame inner(map, next, f.key(), false);
        u64 inner_end = 0;
        if (configuration_head(inner, inner_end)) ends.push_back(f.position() + inner_end);
        used = inner.position();
        break;
      }
      default: {
        // class-specific and unknown descriptors: their bytes to the end
        field_rec raw;
        raw.set_raw(next, in_type::binary, "Paylod", 1, true);
        f.store(raw);
        used = remaining;
        break;
      }
    }
    // a descriptor that consumed nothing would hold the walk in place
    if (used == 0) {
      ends.pop_back();
      continue;
    }
    f.advance(used);
  }
  return static_cast<u32>(f.position());
}

// ---- handles, hub ports and PCI locations ----

u32 decode_pci_location(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64) {
  return decode_layout(map, bytes, key, pointer64, pci_location);
}

u32 decode_device_handle(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64) {
  struct_frame f(map, bytes, key, pointer64);
  if (!f.members(device_handle_head)) return static_cast<u32>(f.position());
  // six entries, whatever the depth says
  for (int i = 0; i < port_path_entries; ++i) {
    if (!f.member(4, mt::uint32, indexed("PortPath[", i))) return static_cast<u32>(f.position());
  }
  (void)f.members(device_handle_tail);
  return static_cast<u32>(f.position());
}

u32 decode_pipe_handles(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64) {
  return decode_layout(map, bytes, key, pointer64, pipe_handles);
}

u32 decode_hub_port(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64) {
  return decode_layout(map, bytes, key, pointer64, hub_port);
}

const usb_decoder_row* find_usb_decoder(u16 word_class) {
  for (const usb_decoder_row& row : usb_decoders) {
    if (row.word_class == word_class) return &row;
  }
  return nullptr;
}

#include "decode/usb_decoders.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "decode/special_field.hpp"
#include "decode/template_map.hpp"
#include "support/log_builder.hpp"

using namespace logbuild;

namespace {

constexpr u64 base = 0x3000;

using decoder = std::function<u32(field_map&, std::span<const u8>, u64)>;

decoder urb(usb_decoder d, bool pointer64) {
  return [d, pointer64](field_map& m, std::span<const u8> b, u64 k) { return d(m, b, k, pointer64); };
}
decoder descriptor(u32 (*d)(field_map&, std::span<const u8>, u64)) { return d; }

// Bytes 1, 2, 3, ... so that every member's value shows where it was read.
byte_array counting(std::size_t n) {
  byte_array b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<u8>(i + 1);
  return b;
}
byte_array patched(byte_array b, u64 at, u32 value) {
  set_u32(b, at, value);
  return b;
}

// "<offset>:<size> <name>" of each field; the value is checked against the
// bytes at that offset.
std::vector<std::string> layout_of(const field_map& map, std::span<const u8> bytes) {
  std::vector<std::string> out;
  for (const auto& [key, f] : map) {
    const u64 at = key.offset - base;
    out.push_back(std::to_string(at) + ":" + std::to_string(f.size) + " " + f.name);
    EXPECT_EQ(f.element_flag, 1) << f.name;
    if (f.in_type == 1) continue;  // a string descriptor's text
    const std::span<const u8> raw = bytes.subspan(at, f.size);
    if (f.size == 1 || f.size == 2 || f.size == 4 || f.size == 8) {
      u64 v = 0;
      for (std::size_t i = raw.size(); i-- > 0;) v = v << 8 | raw[i];
      EXPECT_EQ(f.number, v) << f.name;
    } else {
      EXPECT_EQ(f.bytes, byte_array(raw.begin(), raw.end())) << f.name;
    }
  }
  return out;
}

// The host controller's area from `at`, P bytes an entry.
std::vector<std::string> hca(u64 at, u64 p) {
  std::vector<std::string> out;
  for (u64 i = 0; i < 8; ++i) {
    out.push_back(std::to_string(at + i * p) + ":" + std::to_string(p) + " hca[" + std::to_string(i) + "]");
  }
  return out;
}
std::vector<std::string> cat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The transfer part of a URB with counting bytes: transfer flags 0x18171615
// with 4-byte pointers (direction in, ISO as soon as possible), 0x24232221
// with 8 (direction in).
std::vector<std::string> transfer(const std::string& name, u64 p) {
  const std::string flags =
      p == 4 ? "TransferFlags [USBD_TRANSFER_DIRECTION_IN| USBD_START_ISO_TRANSFER_ASAP]"
             : "TransferFlags [USBD_TRANSFER_DIRECTION_IN]";
  const u64 h = 8 + 2 * p;
  return {"0:2 " + name + " [Length]", "2:2 Function", "4:4 Status",
          "8:" + std::to_string(p) + " UsbDevHandle", std::to_string(8 + p) + ":" + std::to_string(p) + " Flags",
          std::to_string(h) + ":" + std::to_string(p) + " PipeHandle",
          std::to_string(h + p) + ":4 " + flags,
          std::to_string(h + p + 4) + ":4 TransferBufferLength",
          std::to_string(h + p + 8) + ":" + std::to_string(p) + " TransferBuffer",
          std::to_string(h + 2 * p + 8) + ":" + std::to_string(p) + " TransferBufferMDL"};
}

struct row {
  const char* name;
  decoder decode;
  byte_array bytes;
  std::vector<std::string> layout;
  u32 used;
};

std::vector<row> rows() {
  // a configuration of 25 bytes: itself, an interface and an endpoint
  const byte_array configuration = {
      9, 2, 25, 0, 1, 1, 0, 0x80, 50,  // configuration: total length 25
      9, 4, 0, 0, 1, 8, 6, 0x50, 0,    // interface: mass storage, bulk-only
      7, 5, 0x81, 2, 0, 2, 0};         // endpoint 1 in, bulk, 512 bytes
  const std::vector<std::string> configuration_head = {
      "0:1 USB_CONFIGURATION_DESCRIPTOR [Length]", "1:1 DescriptorType", "2:2 TotalLength",
      "4:1 NumInterfaces", "5:1 ConfigurationValue", "6:1 Configuration", "7:1 Attributes",
      "8:1 MaxPower"};
  std::vector<std::string> nested_head;
  for (const std::string& s : configuration_head) {
    const std::size_t colon = s.find(':');
    nested_head.push_back(std::to_string(9 + std::stoul(s.substr(0, colon))) + s.substr(colon));
  }
  const std::vector<std::string> endpoint_at_18 = {
      "18:1 USB_ENDPOINT_DESCRIPTOR [Length]", "19:1 DescriptorType", "20:1 EndpointAddress",
      "21:1 Attributes", "22:2 MaxPacketSize", "24:1 Interval"};
  return {
      {"DeviceDescriptor", descriptor(decode_device_descriptor),
       {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x81, 0x07, 0x81, 0x55, 0x00, 0x01, 1, 2, 3, 1},
       {"0:1 USB_DEVICE_DESCRIPTOR [Length]", "1:1 DescriptorType", "2:2 bcdUSB",
        "4:1 DeviceClass", "5:1 DeviceSubClass", "6:1 DeviceProtocol", "7:1 MaxPacketSize0",
        "8:2 idVendor", "10:2 idProduct", "12:2 bcdDevice", "14:1 Manufacturer", "15:1 Product",
        "16:1 SerialNumber", "17:1 NumConfigurations"},
       18},
      {"ConfigurationWalk", descriptor(decode_configuration_descriptor), configuration,
       cat({configuration_head,
            {"9:1 USB_INTERFACE_DESCRIPTOR [Length]", "10:1 DescriptorType",
             "11:1 InterfaceNumber", "12:1 AlternateSetting", "13:1 NumEndpoints",
             "14:1 InterfaceClass", "15:1 InterfaceSubClass", "16:1 InterfaceProtocol",
             "17:1 Interface"},
            endpoint_at_18}),
       25},
      // a class-specific descriptor (type 0x21): its bytes to the end, even
      // with a known descriptor after it
      {"ClassSpecificToTheEnd", descriptor(decode_configuration_descriptor),
       join({byte_array{9, 2, 25, 0, 1, 1, 0, 0x80, 50}, byte_array{9, 0x21, 1, 1, 0, 1, 0x22, 0, 0},
             byte_array{7, 5, 0x81, 3, 8, 0, 10}}),
       cat({configuration_head, {"9:16 Paylod"}}), 25},
      // a configuration inside the configuration is walked to its own total
      // length (16), then the outer walk goes on
      {"NestedConfiguration", descriptor(decode_configuration_descriptor),
       join({byte_array{9, 2, 32, 0, 1, 1, 0, 0x80, 50}, byte_array{9, 2, 16, 0, 1, 1, 0, 0x80, 50},
             byte_array{7, 5, 0x81, 2, 0, 2, 0}, byte_array{7, 5, 0x02, 2, 0, 2, 0}}),
       cat({configuration_head, nested_head,
            {"18:1 USB_ENDPOINT_DESCRIPTOR [Length]", "19:1 DescriptorType",
             "20:1 EndpointAddress", "21:1 Attributes", "22:2 MaxPacketSize", "24:1 Interval",
             "25:1 USB_ENDPOINT_DESCRIPTOR [Length]", "26:1 DescriptorType",
             "27:1 EndpointAddress", "28:1 Attributes", "29:2 MaxPacketSize", "31:1 Interval"}}),
       32},
      // one byte before the end holds no type byte: it is kept as data
      {"OneByteBeforeTheEnd", descriptor(decode_configuration_descriptor),
       byte_array{9, 2, 10, 0, 1, 1, 0, 0x80, 50, 7}, cat({configuration_head, {"9:1 Paylod"}}),
       10},
      {"TotalLengthBelowNine", descriptor(decode_configuration_descriptor),
       byte_array{9, 2, 4, 0, 1, 1, 0, 0x80, 50, 9, 4}, configuration_head, 9},
      {"InterfaceDescriptor", descriptor(decode_interface_descriptor),
       byte_array(configuration.begin() + 9, configuration.begin() + 18),
       {"0:1 USB_INTERFACE_DESCRIPTOR [Length]", "1:1 DescriptorType", "2:1 InterfaceNumber",
        "3:1 AlternateSetting", "4:1 NumEndpoints", "5:1 InterfaceClass", "6:1 InterfaceSubClass",
        "7:1 InterfaceProtocol", "8:1 Interface"},
       9},
      {"SsEndpointCompanion", descriptor(decode_ss_endpoint_companion),
       byte_array{6, 0x30, 15, 0, 0, 4},
       {"0:1 USB_SUPERSPEED_ENDPOINT_COMPANION_DESCRIPTOR [Length]", "1:1 DescriptorType",
        "2:1 MaxBurst", "3:1 Attributes", "4:2 BytesPerInterval"},
       6},
      {"SspIsochCompanion", descriptor(decode_ssp_isoch_companion),
       byte_array{8, 0x31, 0, 0, 0, 0x10, 0, 0},
       {"0:1 USB_SUPERSPEEDPLUS_ISOCH_ENDPOINT_COMPANION_DESCRIPTOR [Length]",
        "1:1 DescriptorType", "2:2 Reserved", "4:4 BytesPerInterval"},
       8},
      // 71 bytes, whatever the length byte says
      {"HubDescriptor", descriptor(decode_hub_descriptor), patched(counting(72), 0, 9),
       {"0:1 USB_HUB_DESCRIPTOR [Length]", "1:1 DescriptorType", "2:1 NumberOfPorts",
        "3:2 HubCharacteristics", "5:1 PowerOnToPowerGood", "6:1 HubControlCurrent",
        "7:64 RemoveAndPowerMask"},
       71},
      {"StringDescriptor", descriptor(decode_string_descriptor),
       join({byte_array{10, 3}, writer().put_utf16(u"USB").take(), byte_array{0x41}}),
       {"0:1 USB_STRING_DESCRIPTOR [Length]", "1:1 DescriptorType", "2:8 String"}, 10},
      // a length past the bytes: no text, the two bytes read consumed
      {"StringLongerThanTheBytes", descriptor(decode_string_descriptor),
       byte_array{40, 3, 'U', 0}, {"0:1 USB_STRING_DESCRIPTOR [Length]", "1:1 DescriptorType"}, 2},
      {"StringLengthOne", descriptor(decode_string_descriptor), byte_array{1, 3, 'U', 0},
       {"0:1 USB_STRING_DESCRIPTOR [Length]", "1:1 DescriptorType"}, 2},
      {"UrbHeader4", urb(decode_urb_header_alone, false), counting(17),
       {"0:2 Length", "2:2 Function", "4:4 Status", "8:4 UsbDevHandle", "12:4 Flags"}, 16},
      {"UrbHeader8", urb(decode_urb_header_alone, true), counting(25),
       {"0:2 Length", "2:2 Function", "4:4 Status", "8:8 UsbDevHandle", "16:8 Flags"}, 24},
      {"BulkOrInterrupt4", urb(decode_urb_bulk_or_interrupt_transfer, false), counting(80),
       cat({transfer("URB_BULK_OR_INTERRUPT_TRANSFER", 4), {"36:4 UrbLinkPtr"}, hca(40, 4)}), 72},
      {"BulkOrInterrupt8", urb(decode_urb_bulk_or_interrupt_transfer, true), counting(130),
       cat({transfer("URB_BULK_OR_INTERRUPT_TRANSFER", 8), {"56:8 UrbLinkPtr"}, hca(64, 8)}), 128},
      {"Control4", urb(decode_urb_control_transfer, false), counting(76),
       cat({transfer("URB_CONTROL_TRANSFER", 4), {"36:4 UrbLinkPtr"}, hca(40, 4),
            {"72:4 SetupPacket"}}),
       76},
      {"Control8", urb(decode_urb_control_transfer, true), counting(132),
       cat({transfer("URB_CONTROL_TRANSFER", 8), {"56:8 UrbLinkPtr"}, hca(64, 8),
            {"128:4 SetupPacket"}}),
       132},
      {"ControlEx4", urb(decode_urb_control_transfer_ex, false), counting(80),
       cat({transfer("URB_CONTROL_TRANSFER_EX", 4), {"36:4 Timeout", "40:4 Pad"}, hca(44, 4),
            {"76:4 SetupPacket"}}),
       80},
      {"ControlEx8", urb(decode_urb_control_transfer_ex, true), counting(140),
       cat({transfer("URB_CONTROL_TRANSFER_EX", 8), {"56:4 Timeout", "60:4 Pad"}, hca(64, 8),
            {"128:4 SetupPacket"}}),
       132},
      // two packets; NumberOfPackets is patched to 2
      {"Isoch4", urb(decode_urb_isoch_transfer, false), patched(counting(110), 76, 2),
       cat({transfer("URB_ISOCH_TRANSFER", 4), {"36:4 UrbLinkPtr"}, hca(40, 4),
            {"72:4 StartFrame", "76:4 NumberOfPackets", "80:4 ErrorCount",
             "84:4 IsoPacket[0] [Offset]", "88:4 Length", "92:4 Status",
             "96:4 IsoPacket[1] [Offset]", "100:4 Length", "104:4 Status"}}),
       108},
      {"Isoch8", urb(decode_urb_isoch_transfer, true), patched(counting(152), 132, 1),
       cat({transfer("URB_ISOCH_TRANSFER", 8), {"56:8 UrbLinkPtr"}, hca(64, 8),
            {"128:4 StartFrame", "132:4 NumberOfPackets", "136:4 ErrorCount",
             "140:4 IsoPacket[0] [Offset]", "144:4 Length", "148:4 Status"}}),
       152},
      // a count of 0xFFFFFFFF, or more packets than the bytes hold: none
      {"IsochCountPastTheBytes", urb(decode_urb_isoch_transfer, false),
       patched(counting(100), 76, 0xFFFFFFFF),
       cat({transfer("URB_ISOCH_TRANSFER", 4), {"36:4 UrbLinkPtr"}, hca(40, 4),
            {"72:4 StartFrame", "76:4 NumberOfPackets", "80:4 ErrorCount"}}),
       84},
      // a control transfer cut inside the host controller's area: the
      // entries that fit, and nothing read as SetupPacket after them
      {"ControlCutInTheArea", urb(decode_urb_control_transfer, false), counting(50),
       cat({transfer("URB_CONTROL_TRANSFER", 4), {"36:4 UrbLinkPtr"},
            {"40:4 hca[0]", "44:4 hca[1]"}}),
       48},
      {"PciLocation4", urb(decode_pci_location, false), counting(16),
       {"0:4 DeviceObj", "4:4 PCIBus", "8:2 PCIDevice", "10:2 PCIFunction", "12:2 PCIVendor",
        "14:2 PCIDeviceID"},
       16},
      {"DeviceHandle8", urb(decode_device_handle, true), counting(48),
       {"0:8 DevHandle", "8:2 IDVendor", "10:2 IDProduct", "12:4 PortPathDepth",
        "16:4 PortPath[0]", "20:4 PortPath[1]", "24:4 PortPath[2]", "28:4 PortPath[3]",
        "32:4 PortPath[4]", "36:4 PortPath[5]", "40:4 DeviceSpeed", "44:4 DeviceAddr"},
       48},
      // 32-bit pointers and 20 bytes: the path entries that fit
      {"DeviceHandleShort", urb(decode_device_handle, false), counting(20),
       {"0:4 DevHandle", "4:2 IDVendor", "6:2 IDProduct", "8:4 PortPathDepth", "12:4 PortPath[0]",
        "16:4 PortPath[1]"},
       20},
      {"PipeHandles4", urb(decode_pipe_handles, false), counting(12),
       {"0:4 Endpoint", "4:4 PipeHandle", "8:4 DeviceHandle"}, 12},
      {"PipeHandles8", urb(decode_pipe_handles, true), counting(24),
       {"0:8 Endpoint", "8:8 PipeHandle", "16:8 DeviceHandle"}, 24},
      {"HubPort", urb(decode_hub_port, true), counting(10),
       {"0:1 PortIsConnectable", "1:1 PortConnectorType", "2:4 Reserved0", "6:4 Reserved1"}, 10},
  };
}

TEST(UsbDecoders, ExactLayouts) {
  for (const row& r : rows()) {
    SCOPED_TRACE(r.name);
    field_map map;
    EXPECT_EQ(r.decode(map, r.bytes, base), r.used);
    EXPECT_EQ(layout_of(map, r.bytes), r.layout);
    // every cut, in a buffer of exactly that size: the fields are those of
    // the whole structure that lie within it, and nothing is read past it
    for (u64 n = 0; n < r.bytes.size(); ++n) {
      const byte_array cut = cut_short(r.bytes, n);
      field_map m;
      EXPECT_LE(r.decode(m, cut, base), n) << n;
      for (const auto& [key, f] : m) {
        EXPECT_LE(key.offset - base + f.size, n) << n;
        EXPECT_EQ(map.count(key), 1u) << n << " " << f.name;
      }
    }
  }
}

TEST(UsbDecoders, StringTextsAndPackets) {
  struct text_row {
    byte_array bytes;
    std::string text;
  };
  const text_row texts[] = {
      {join({byte_array{10, 3}, writer().put_utf16(u"USB").take()}), "USB"},
      {join({byte_array{10, 3}, writer().put_utf16(u"a\r\nb", false).take()}), "a[CRLF]b"},
      {byte_array{2, 3}, "-"},
  };
  for (const text_row& t : texts) {
    field_map map;
    (void)decode_string_descriptor(map, t.bytes, base);
    ASSERT_EQ(map.count(base + 2), 1u) << t.text;
    EXPECT_EQ(map.at(base + 2).value, t.text);
    EXPECT_EQ(map.at(base + 2).placeholder_flag, t.text == "-" ? 1 : 0);
  }
  // packets of the isochronous word: all of them fit or none is made
  const byte_array packets = counting(36);
  for (const auto& [count, left, used] :
       std::vector<std::tuple<u64, u64, u32>>{{3, 36, 36}, {3, 35, 0}, {0, 36, 0}, {1ull << 62, 36, 0}}) {
    field_map map;
    EXPECT_EQ(decode_iso_packets(map, cut_short(packets, left), base, count), used) << count;
    EXPECT_EQ(map.size(), used / 4);
  }
}

// Every structure word on random bytes of random lengths, through the
// template's word decoder: nothing is read or claimed past the bytes.
TEST(UsbDecoders, RandomBytes) {
  std::mt19937 random(20261209);
  for (u16 word = 0x8003; word <= 0x8017; ++word) {
    if (word == 0x8004 || word == 0x8005) continue;
    event_template t;
    t.types = {static_cast<u16>(word | 0x0100)};
    t.finalize();
    for (int i = 0; i < 200; ++i) {
      byte_array bytes(random() % 300);
      for (u8& b : bytes) b = static_cast<u8>(random());
      field_map map;
      map[base - 8].number = random() % 40;  // a count for the isochronous packets
      const i32 used = decode_special_field(t, map, bytes, 0, base, (i & 1) != 0);
      EXPECT_GE(used, 0);
      EXPECT_LE(static_cast<u64>(used), bytes.size());
      for (const auto& [key, f] : map) {
        if (key.offset < base) continue;  // the count placed before the bytes
        EXPECT_LE(key.offset - base + f.size, bytes.size()) << word;
      }
    }
  }
}

}  // namespace

#pragma once
// Payload decoders for the data structures of the Windows USB and PCI driver
// stacks that some event payloads carry: USB request blocks (URBs), USB
// descriptors, USB handles and hub ports, and a PCI device location.
//
// Every decoder reads the structure at the start of `bytes` (the payload
// from the structure's first byte to its end), makes one field per member
// (element flag 1, the in-type of its width, numbers for 1, 2, 4 and 8
// bytes, raw bytes otherwise) under `key` + the member's offset, never
// replacing a field held there, and returns the bytes consumed: the offset
// past the last member decoded. A member that does not lie wholly within
// `bytes` ends the decoder there.
#include <array>
#include <span>
#include <string>

#include "common/zarn_types.hpp"
#include "decode/field_map.hpp"

// ---- URBs ----
// `pointer64`: pointer-sized members are 8 bytes, else 4.

// The URB header; its first member is named prefix + " [Length]", or
// "Length" without a prefix.
u32 decode_urb_header(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64,
                      const std::string& prefix);
// The header, then the transfer members every URB transfer shares.
u32 decode_urb_transfer_common(field_map& map, std::span<const u8> bytes, u64 key,
                               bool pointer64, const std::string& name);
u32 decode_urb_bulk_or_interrupt_transfer(field_map& map, std::span<const u8> bytes, u64 key,
                                          bool pointer64);
u32 decode_urb_control_transfer(field_map& map, std::span<const u8> bytes, u64 key,
                                bool pointer64);
u32 decode_urb_control_transfer_ex(field_map& map, std::span<const u8> bytes, u64 key,
                                   bool pointer64);
u32 decode_urb_isoch_transfer(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64);
// `count` isochronous packet descriptors of 12 bytes; nothing (0) unless all
// of them fit.
u32 decode_iso_packets(field_map& map, std::span<const u8> bytes, u64 key, u64 count);

// ---- USB descriptors ----

u32 decode_device_descriptor(field_map& map, std::span<const u8> bytes, u64 key);
// The configuration descriptor and the descriptors that follow it up to its
// total length.
u32 decode_configuration_descriptor(field_map& map, std::span<const u8> bytes, u64 key);
u32 decode_interface_descriptor(field_map& map, std::span<const u8> bytes, u64 key);
u32 decode_endpoint_descriptor(field_map& map, std::span<const u8> bytes, u64 key);
u32 decode_ss_endpoint_companion(field_map& map, std::span<const u8> bytes, u64 key);
u32 decode_ssp_isoch_companion(field_map& map, std::span<const u8> bytes, u64 key);
u32 decode_hub_descriptor(field_map& map, std::span<const u8> bytes, u64 key);
u32 decode_string_descriptor(field_map& map, std::span<const u8> bytes, u64 key);

// ---- handles, hub ports and PCI locations ----

u32 decode_pci_location(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64);
u32 decode_device_handle(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64);
u32 decode_pipe_handles(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64);
u32 decode_hub_port(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64);

// ---- dispatch from the template's extension words ----

// The decoder of a word class from 0x8006 to 0x8017, except 0x800a (the
// isochronous packets, whose count comes from an earlier field).
using usb_decoder = u32 (*)(field_map&, std::span<const u8>, u64, bool);
struct usb_decoder_row {
  u16 word_class;
  usb_decoder decode;
};
// 0x800b decodes a URB header without a name prefix.
u32 decode_urb_header_alone(field_map& map, std::span<const u8> bytes, u64 key, bool pointer64);
// The descriptors take no pointer size.
template <u32 (*decode)(field_map&, std::span<const u8>, u64)>
u32 without_pointer_size(field_map& map, std::span<const u8> bytes, u64 key, bool) {
  return decode(map, bytes, key);
}

inline constexpr u16 iso_packets_word = 0x800a;
inline constexpr std::array<usb_decoder_row, 17> usb_decoders = {{
    {0x8006, decode_pci_location},
    {0x8007, decode_device_handle},
    {0x8008, decode_pipe_handles},
    {0x8009, decode_hub_port},
    {0x800b, decode_urb_header_alone},
    {0x800c, decode_urb_bulk_or_interrupt_transfer},
    {0x800d, decode_urb_isoch_transfer},
    {0x800e, decode_urb_control_transfer},
    {0x800f, decode_urb_control_transfer_ex},
    {0x8010, without_pointer_size<decode_endpoint_descriptor>},
    {0x8011, without_pointer_size<decode_ss_endpoint_companion>},
    {0x8012, without_pointer_size<decode_ssp_isoch_companion>},
    {0x8013, without_pointer_size<decode_device_descriptor>},
    {0x8014, without_pointer_size<decode_hub_descriptor>},
    {0x8015, without_pointer_size<decode_configuration_descriptor>},
    {0x8016, without_pointer_size<decode_interface_descriptor>},
    {0x8017, without_pointer_size<decode_string_descriptor>},
}};

// The row of a word class; null for a class without a decoder here.
const usb_decoder_row* find_usb_decoder(u16 word_class);

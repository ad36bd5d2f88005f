#pragma once
// The built-in table of kernel trace providers. Kernel records that carry
// only a hook id find their provider through the hook's group: the hook id
// with its low byte cleared.
#include <array>

#include "common/guid.hpp"
#include "common/zarn_types.hpp"

struct kernel_provider_row {
  u16 hook_group;         // a multiple of 0x100
  const char* guid_text;  // lower-case dashed form
  const char* name;
};

inline constexpr std::array<kernel_provider_row, 31> kernel_providers = {{
    {0x0000, "68fdd900-4a3e-11d1-84f4-0000f80464e3", "Kernel-Event-Trace"},
    {0x0100, "3d6fa8d4-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-DiskIo-Trace"},
    {0x0200, "3d6fa8d3-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-PageFault-Trace"},
    {0x0300, "3d6fa8d0-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-Process-Trace"},
    {0x0400, "90cbdc39-4a3e-11d1-84f4-0000f80464e3", "Kernel-FileIo-Trace"},
    {0x0500, "3d6fa8d1-fe05-11d0-9dda-00c04fd7ba7c", "Kernel-Thread-Trace"},
    {0x0600, "9a280ac0-c8e0-11d1-84e2-00c04fb998a2", "Kernel-TcpIp-Trace"},
    {0x0700, "3282fc76-feed-498e-8aa7-e70f459d430e", "Kernel-Job-Trace"},
    {0x0800, "bf3a50c5-a9c9-4988-a005-2df0b7c80f80", "Kernel-UdpIp-Trace"},
    {0x0900, "ae53722e-c863-11d2-8659-00c04fa321a1", "Kernel-Registry-Trace"},
    {0x0A00, "13976d09-a327-438c-950b-7f03192815c7", "Kernel-DbgPrint-Trace"},
    {0x0B00, "01853a65-418f-4f36-aefc-dc0f1d2fd235", "Kernel-EventConfig-Trace"},
    {0x0C00, "99134383-5248-43fc-834b-529454e75df3", "Kernel-EventSpare1-Trace"},
    {0x0D00, "42695762-ea50-497a-9068-5cbbb35e0b95", "Kernel-Wnf-Trace"},
    {0x0E00, "0268a8b6-74fd-4302-9dd0-6e8f1795c0cf", "Kernel-Pool-Trace"},
    {0x0F00, "ce1dbfb4-137e-4da6-87b0-3f59aa102cbc", "Kernel-PerfInfo-Trace"},
    {0x1000, "222962ab-6180-4b88-a825-346b75f2a24a", "Kernel-Heap-Trace"},
    {0x1100, "89497f50-effe-4440-8cf2-ce6b1cdcaca7", "Kernel-Object-Trace"},
    {0x1200, "e43445e0-0903-48c3-b878-ff0fccebdd04", "Kernel-Power-Trace"},
    {0x1300, "a9152f00-3f58-4bee-92a1-70c7d079d5dd", "Kernel-Module-Trace"},
    {0x1400, "2cb15d1d-5fc1-11d2-abe1-00a0c911f518", "Kernel-ImageLoad-Trace"},
    {0x1500, "b2d14872-7c5b-463d-8419-ee9bf7d23e04", "Kernel-Dpc-Trace"},
    {0x1600, "7687a439-f752-45b8-b741-321aec0f8df9", "Kernel-CacheCntl-Trace"},
    {0x1700, "3ac66736-cc59-4cff-8115-8df50e39816b", "Kernel-CriticalSec-Trace"},
    {0x1800, "def2fe46-7bd6-4b80-bd94-f57fe20d0ce3", "Kernel-StackWalk-Trace"},
    {0x1900, "9aec974b-5b8e-4118-9b92-3186d8002ce5", "Kernel-UmsEvent-Trace"},
    {0x1A00, "45d8cccd-539f-4b72-a8b7-5c683142609a", "Kernel-ALPC-Trace"},
    {0x1B00, "d837ca92-12b9-44a5-ad6a-3a65b3578aa8", "Kernel-SplitIo-Trace"},
    {0x1C00, "c861d0e2-a2c1-4d36-9f9c-970bab943a12", "Kernel-ThreadPool-Trace"},
    {0x1D00, "7f2a405c-69b5-4bf9-a1f5-30e8f1afab5e", "Kernel-Hypervisor-Trace"},
    {0x1E00, "2ce9a149-effe-42f0-a635-a1d39e26c8f2", "Kernel-HypervisorX-Trace"},
}};

// A hook id whose provider is not its group's.
struct kernel_hook_exception {
  u16 hook_id;
  u16 hook_group;  // the group whose provider the hook id names
};

// Windows logs an image load in the process hook group: hook id 0x030A
// (group 0x0300, event type 10) carries the image-load class's payload, and
// Windows' own readers show it as that provider. Looked up by its group
// alone, the record would be named Kernel-Process-Trace and no template
// would name its fields. The only such hook id; tools/manifest_templates.py
// reads it from here and keys the image-load class's type-10 templates by it.
inline constexpr kernel_hook_exception image_load_in_process_group = {0x030A, 0x1400};

// The row's GUID in stored layout; false for a malformed text.
[[nodiscard]] bool kernel_provider_guid(const kernel_provider_row& row, guid& out);

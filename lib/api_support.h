#pragma once

#include "common/device_id.h"
#include "common/failure.h"
#include "fwbforge2/fwbforge2.h"
#include "lib/tool_lines.h"

#include <string_view>

// Between the public types and the libraries' own.

inline ::DeviceId internal_id(fwbforge2::DeviceId device) {
    return {device.did, device.vid, device.svid, device.ssid};
}

inline fwbforge2::DeviceId public_id(::DeviceId device) {
    return {device.vid, device.did, device.svid, device.ssid};
}

inline constexpr std::string_view kForgeProgram = "fwbforge2";
inline constexpr std::string_view kInspectProgram = "fwbinspect";

inline fwbforge2::Error error_of(int status, const ToolLines& lines, std::string_view program) {
    return {status, message_lines(lines, program)};
}

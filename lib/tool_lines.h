#pragma once

#include "common/device_id.h"
#include "common/failure.h"
#include "image/provision_file.h"
#include "platform/platform.h"

#include <string>
#include <string_view>
#include <vector>

// The lines the tools print for what failed, made once for the tools, which
// print them, and for the library, which returns them.

// A failure's lines: on standard output (line feeds included) and the one on
// standard error, without the program's name (empty when there is none).
struct ToolLines {
    std::string printed;
    std::string diagnostic;
};

// fwbforge2's lines for a failed board-data stage: the lookup's or the blob's
// own line, "get_xml_data() returns" when the lookup failed, "readBdp() returns".
std::string board_data_failure_text(bool entryFound, const Failure& failure);

// fwbforge2's lines for a failed provisioning stage; outputPath as given.
ToolLines provision_failure_lines(const Failure& failure, std::string_view outputPath);

// fwbinspect's lines for an image it cannot read (clear error: no regular file).
ToolLines unreadable_image_lines(std::string_view path, const platform::Error& error);

// A base image that ended before the length it had when it was opened.
ToolLines shortened_image_lines(std::string_view path);

// What both tools say on standard error when the update data has no entry for
// the device: that, and the first line naming it in a form the lookup does not
// read, with what differs. Without the program's name.
std::vector<std::string> missing_entry_diagnostics(std::string_view updateData, DeviceId id);

// Both tools' lines for update data that cannot be read.
ToolLines unreadable_update_data_lines(std::string_view path, const platform::Error& error);

// Why fwbforge2 would write no image, in fwbinspect's words quoting fwbforge2's;
// empty for a failure that is no refusal.
std::string refusal_text(const Failure& failure);

// The lines in print order, as a caller gets them back: each line of printed,
// then the diagnostic behind program's name.
std::vector<std::string> message_lines(const ToolLines& lines, std::string_view program);

// The files a run reads or writes besides its base and output whose identity is
// known before it writes: the update data, and standard output unless it is
// the null device, which keeps nothing.
std::vector<RunFile> files_in_use(std::string_view updateDataPath);

// A text as C would write it, so a line feed or a NUL in a name can be seen.
std::string c_quoted(std::string_view text);

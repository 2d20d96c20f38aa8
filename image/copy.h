#pragma once

#include "common/failure.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <span>

// The block copier and the writes around it. Each writes at an offset, or, for an
// output that streams (a pipe, a device), at the output's position, in order.
// A failure names no file (the caller knows which it was): base_unread when the
// input ended before the count (reason clear) or a read failed, output_unwritten
// when a write failed; status 67.

// Copies count bytes of in, from inOffset, to out, inside the kernel where the
// pair of files allows it (sharing extents where the filesystem can), else in blocks.
Result<> copy(const platform::File& in, std::uint64_t inOffset, const platform::File& out,
              std::optional<std::uint64_t> outOffset, std::uint64_t count);

Result<> write_bytes(const platform::File& out, std::optional<std::uint64_t> offset,
                     std::span<const std::uint8_t> bytes);

Result<> write_zeros(const platform::File& out, std::optional<std::uint64_t> offset,
                     std::uint64_t count);

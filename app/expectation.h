#pragma once

#include "app/output.h"
#include "app/reports.h"
#include "common/failure.h"
#include "image/expected_image.h"
#include "image/image_reading.h"
#include "lib/image_checks.h"
#include "provisioning_data/board_data_stage.h"

#include <string>

// An image held against the one fwbforge2 would write, as lib/image_checks.h
// holds it, for the batch gate: a file's lines go to out as they are found.
// Each gives 0, 67 or 69 (in report); refusal_text is lib/tool_lines.h's.

// The image fwbforge2 would write from board over the base at basePath; a
// missing base the entry names (not one given) is fwbforge2's refusal.
int expected_from(const BoardData& board, const std::string& basePath, bool baseGiven,
                  ExpectReport& report, ExpectedImage& expected, Transcript& out);

// Puts in report the parts where image differs from expected.
int compare_with_expected(const OpenedImage& image, const ExpectedImage& expected,
                          ExpectReport& report, Transcript& out);

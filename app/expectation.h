#pragma once

#include "app/output.h"
#include "app/reports.h"
#include "common/failure.h"
#include "image/expected_image.h"
#include "image/image_reading.h"
#include "provisioning_data/board_data_stage.h"

#include <string>

// An image held against the one fwbforge2 would write: what --expect and the
// batch gate share. Each gives 0, 67 (a file unreadable, its line to out) or
// 69 (in report).

// Why fwbforge2 would write no image, in fwbinspect's words, quoting fwbforge2's.
std::string refusal_text(const Failure& failure);

// The image fwbforge2 would write from board over the base at basePath; a
// missing base the entry names (not one given) is fwbforge2's refusal.
int expected_from(const BoardData& board, const std::string& basePath, bool baseGiven,
                  ExpectReport& report, ExpectedImage& expected, Transcript& out);

// Puts in report the parts where image differs from expected.
int compare_with_expected(const OpenedImage& image, const ExpectedImage& expected,
                          ExpectReport& report, Transcript& out);

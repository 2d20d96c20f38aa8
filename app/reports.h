#pragma once

#include "image/image_inspection.h"
#include "provisioning_data/update_data_check.h"

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// fwbinspect's two reports, each as text for a person and as JSON for a program.
std::string image_report_text(std::string_view path, const ImageInspection& inspection, bool blobs);
nlohmann::json image_report_json(std::string_view path, const ImageInspection& inspection,
                                 bool blobs);

std::string update_data_report_text(const UpdateDataCheck& check);
nlohmann::json update_data_report_json(std::string_view path, const UpdateDataCheck& check);

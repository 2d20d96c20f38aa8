#include "app/gate_report.h"

#include "app/json_document.h"
#include "app/output.h"
#include "common/status.h"

#include <array>

namespace {

struct VerdictNames {
    std::string_view text;
    std::string_view json;
};

constexpr std::array<VerdictNames, 10> kVerdicts = {{
    {"ok", "ok"},
    {"FAILED in the batch", "failed"},
    {"MISSING", "missing"},
    {"UNREADABLE", "unreadable"},
    {"DIFFERENT", "different"},
    {"NOT AS EXPECTED", "not_as_expected"},
    {"NOT IN THE MANIFEST", "not_in_manifest"},
    {"NOT IN THE UPDATE DATA", "not_in_update_data"},
    {"NOT SELECTED", "not_selected"},
    {"STALE", "stale"},
}};

const VerdictNames& names_of(Verdict verdict) {
    return kVerdicts[static_cast<std::size_t>(verdict)];
}

// A value as nlohmann prints it nested depth levels down in an indented document.
std::string nested(const Json& value, std::size_t depth) {
    const std::string text = json_indented(value);
    const std::string indent(depth * 2, ' ');
    std::string out = indent;
    for (const char c : text) {
        out += c;
        if (c == '\n') {
            out += indent;
        }
    }
    return out;
}

} // namespace

GateReport::GateReport(std::string_view manifest, bool json) : manifest_(manifest), json_(json) {
    if (!json_) {
        out_.text() += field("manifest", c_quoted(manifest_));
        return;
    }
    Json head = document_head("manifest_check");
    head["manifest"] = {{"path", manifest_}};
    out_.text() += json_opening(head, "findings");
}

void GateReport::update_data(std::string_view path, std::string_view problem) {
    updateDataPath_ = path;
    updateDataProblem_ = problem;
    differs_ = differs_ || !problem.empty();
}

void GateReport::add(const GateFinding& finding) {
    const VerdictNames& names = names_of(finding.verdict);
    if (finding.verdict != Verdict::stale && finding.verdict != Verdict::not_in_manifest) {
        ++devices_;
    }
    ok_ += finding.verdict == Verdict::ok ? 1 : 0;
    stale_ += finding.verdict == Verdict::stale ? 1 : 0;
    unreadable_ = unreadable_ || finding.verdict == Verdict::unreadable;
    differs_ = differs_ || finding.verdict != Verdict::ok;
    if (!json_) {
        std::string value(names.text);
        for (std::size_t i = 0; i < finding.problems.size(); ++i) {
            value += (i == 0 ? ": " : "; ") + finding.problems[i];
        }
        out_.text() += field(finding.name, value);
        out_.maybe_flush();
        return;
    }
    Json object = {{"name", finding.name},
                   {"verdict", names.json},
                   {"problems", finding.problems},
                   {"differences", differences_json(finding.differences)}};
    out_.text() += (findings_++ == 0 ? "\n" : ",\n") + nested(object, 2);
    out_.maybe_flush();
}

int GateReport::finish(int fileStatus) {
    const int status = unreadable_ || fileStatus == PROVKIT_ERR_FILE ? PROVKIT_ERR_FILE
                       : differs_                                    ? PROVKIT_ERR_DATA
                                                                     : PROVKIT_OK;
    const std::string summary = count_of(devices_, "device") + ", " + std::to_string(ok_) +
                                " as expected, " + count_of(stale_, "stale image");
    if (!json_) {
        out_.text() +=
            field("update data", c_quoted(updateDataPath_) + ", " +
                                     (updateDataProblem_.empty() ? "as the manifest lists it"
                                                                 : updateDataProblem_));
        out_.text() += field("summary", summary);
        out_.text() += field("verdict", status == PROVKIT_OK ? "as expected" : "NOT AS EXPECTED");
        out_.flush();
        return status;
    }
    Json tail;
    tail["update_data"] = {
        {"path", updateDataPath_},
        {"as_listed", updateDataProblem_.empty()},
        {"problem", updateDataProblem_.empty() ? Json(nullptr) : Json(updateDataProblem_)}};
    tail["summary"] = summary;
    tail["status"] = status;
    tail["as_expected"] = status == PROVKIT_OK;
    out_.text() += (findings_ == 0 ? "]" : "\n  ]") + json_closing(tail);
    out_.flush();
    return status;
}

int GateReport::fail(std::string_view manifest, bool json, int status, std::string_view printed) {
    if (!json) {
        print_text(printed);
        return status;
    }
    Json document = failure_document("manifest_check", status, printed);
    document["manifest"] = {{"path", manifest}};
    print_json(document);
    return status;
}

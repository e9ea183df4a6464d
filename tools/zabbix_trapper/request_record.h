#pragma once
/// One line of the stand-in's record file per request: a JSON object with the bytes received
/// as hex ("raw") and the decoded request ("request", null when the body is not JSON), so that
/// a test can compare exact bytes and still read the values easily.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace trapper {

/// The line for `raw`, newline included.
std::string record_line(std::string_view raw, const nlohmann::ordered_json& request);

}  // namespace trapper

// The setup-information document: what the page shows before a job starts,
// and the body of check.json. Built afresh on every call, both detections
// included. Used by the setupInfo binding and the check mode.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace vellumo {

// {"components", "folder", "found", "installed", "kind", "mode", "name",
//  "tagline", "version"}.
nlohmann::json build_setup_info();

// The setupInfo binding: the document as compact JSON. The request is not
// looked at.
std::string on_setup_info(const std::string& request);

}  // namespace vellumo

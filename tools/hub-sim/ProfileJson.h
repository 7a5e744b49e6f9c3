// The hub-sim profile format: JSON in, HubSim::Profile out, and back. The
// schema is documented in the README ("hub-sim"); unknown keys are errors so
// that a misspelt option never goes unnoticed.
#pragma once

#include <HubSim/HubProfile.h>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

namespace HubSimTool {

struct ProfileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Fields the JSON leaves out keep the values of an empty Profile: every
// protocol but the IDS hook extension present, no PCDs, HOBs or registers.
HubSim::Profile ProfileFromJson(const nlohmann::json &Json);
HubSim::Profile LoadProfile(const std::string &Path);
nlohmann::json  ProfileToJson(const HubSim::Profile &Profile);

}  // namespace HubSimTool

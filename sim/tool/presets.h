// Ready-made simulated hosts of tarniksim: one host description per preset
// name, in the host file format the simulated library reads.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tarniksim {

struct PresetInfo {
    const char *name;
    const char *summary;
};

// Every preset, in the order the usage text lists them.
const std::vector<PresetInfo> &Presets();

// True when name is a preset.
bool IsPreset(const std::string &name);

// The host description of a preset (without region files); false for an
// unknown name.
bool BuildPreset(const std::string &name, nlohmann::json &host);

// The presets of the adapters with two flash sets and the Tesk FC card
// (presets_dualbank.cpp).
const std::vector<PresetInfo> &DualBankPresets();
bool BuildDualBankPreset(const std::string &name, nlohmann::json &host);

// The presets of the converged adapters (presets_converged.cpp).
const std::vector<PresetInfo> &ConvergedPresets();
bool BuildConvergedPreset(const std::string &name, nlohmann::json &host);

} // namespace tarniksim

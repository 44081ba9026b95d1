#include "app/cli/config_file.h"

#include <nlohmann/json.hpp>

#include "app/cli/private_file.h"

namespace ah {

namespace {

using json = nlohmann::json;
using Type = HarvestSetting::Type;

constexpr size_t kLargestConfigFile = 1 << 20;

// The value as the flag would take it, or none when its JSON type is not
// the setting's.
std::optional<std::string> FlagText(const json& value, Type type) {
  const bool text = value.is_string() && (type == Type::kText || type == Type::kTextOrNumber);
  if (text) return value.get<std::string>();
  const bool whole = value.is_number_integer() && type != Type::kText;
  const bool number = value.is_number() && (type == Type::kNumber || type == Type::kTextOrNumber);
  if (whole || number) return value.dump();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DefaultConfigFile(std::string_view config_home, std::string_view home) {
  const std::string_view tail = "/album-harvester/config.json";
  if (config_home.starts_with("/")) return std::string(config_home) + std::string(tail);
  if (!home.empty()) return std::string(home) + "/.config" + std::string(tail);
  return std::nullopt;
}

std::string ReadConfigFile(const std::string& path, bool required, HarvestCommandLine& into) {
  std::string error;
  bool missing = false;
  std::optional<FileText> file = ReadFileText(path, kLargestConfigFile, error, &missing);
  if (!file) return missing && !required ? "" : error;
  json settings;
  try {
    settings = json::parse(file->bytes);
  } catch (const json::parse_error& e) {
    return path + ": not JSON (at byte " + std::to_string(e.byte) +
           "); expected one JSON object of settings";
  }
  if (!settings.is_object()) return path + ": expected one JSON object of settings";
  if (settings.contains("password") && file->open_to_others) return OpenToOthersError(path);
  for (const auto& [key, value] : settings.items()) {
    const HarvestSetting* setting = FindHarvestSetting(key);
    if (!setting)
      return path + ": unknown key \"" + key + "\"; the keys are " + HarvestSettingNames();
    std::optional<std::string> text = FlagText(value, setting->type);
    if (text && setting->read(into, *text)) continue;
    // A password is never shown, not even a mistyped one.
    const std::string shown = key == "password" ? "" : ", not " + value.dump();
    return path + ": \"" + key + "\" takes " + setting->expected + shown;
  }
  return "";
}

}  // namespace ah

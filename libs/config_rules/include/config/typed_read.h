// Typed reads of single settings from a parsed PluginConfig.json, with the
// JSON library's rules for value(key, default) and its error messages, but
// without its undefined conversions of numbers that do not fit the field.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace Quillmoor::detail {

// Each reads `key` of `section` into `field`. An absent key leaves `field`
// as it is. A `section` that is not an object throws the library's
// type_error 306 ("cannot use value() with null"), a value of another type
// its type_error 302 ("type must be number, but is string"); `field` is then
// unchanged.
//
// Integers take any number, a fraction cut toward zero, and true/false as
// 1/0; floats take any number, rounded to the nearest float, and true/false
// as 1/0. A number beyond the field's range becomes the nearer end of it.
void ReadSetting(const nlohmann::json& section, std::string_view key, bool& field);
void ReadSetting(const nlohmann::json& section, std::string_view key, std::int32_t& field);
void ReadSetting(const nlohmann::json& section, std::string_view key, float& field);
void ReadSetting(const nlohmann::json& section, std::string_view key, std::string& field);

}  // namespace Quillmoor::detail

#include "config_check/key_home.h"

#include <algorithm>

#include "config/settings.h"

namespace config_tool {

std::vector<std::string_view> HomesOf(std::string_view key) {
  std::vector<std::string_view> homes;
  Quillmoor::ForEachSetting([&](const auto& s) {
    if (s.key == key && std::find(homes.begin(), homes.end(), s.section) == homes.end()) {
      homes.push_back(s.section);
    }
  });
  return homes;
}

std::string HomeText(const std::vector<std::string_view>& homes) {
  const auto name = [](std::string_view home) {
    return home.empty() ? std::string("the top level") : std::string(home);
  };
  if (homes.size() == 1) {
    return name(homes.front());
  }
  std::string text = "one of ";
  for (std::size_t i = 0; i < homes.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == homes.size() ? " or " : ", ") + name(homes[i]);
  }
  return text;
}

std::string PathOf(std::string_view section, std::string_view key) {
  return section.empty() ? std::string(key) : std::string(section) + "." + std::string(key);
}

const nlohmann::json* MemberOf(const nlohmann::json& doc, std::string_view section,
                               std::string_view key) {
  const nlohmann::json* parent = &doc;
  if (!section.empty()) {
    const auto it = doc.find(std::string(section));
    if (it == doc.end() || !it->is_object()) {
      return nullptr;
    }
    parent = &*it;
  }
  const auto it = parent->find(std::string(key));
  return it == parent->end() ? nullptr : &*it;
}

}  // namespace config_tool

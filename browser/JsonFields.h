#pragma once
// Fields of DevTools messages read without throwing: a missing or mistyped field reads as empty.
#include <string>

#include <nlohmann/json.hpp>

namespace korvane {

inline std::string Str(const nlohmann::json& j, const char* key) {
    if (!j.is_object()) return {};
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

inline const nlohmann::json& Obj(const nlohmann::json& j, const char* key) {
    static const nlohmann::json empty = nlohmann::json::object();
    if (!j.is_object()) return empty;
    auto it = j.find(key);
    return it != j.end() && it->is_object() ? *it : empty;
}

} // namespace korvane

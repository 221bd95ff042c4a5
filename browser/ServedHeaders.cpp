#include "browser/ServedHeaders.h"

#include "platform/Text.h"

namespace korvane {

nlohmann::json HeadersForServedBody(const nlohmann::json& headers, std::string_view policy) {
    nlohmann::json kept = nlohmann::json::array();
    if (headers.is_array()) {
        for (const auto& header : headers) {
            if (!header.is_object()) continue;
            const auto name = header.find("name"), value = header.find("value");
            if (name == header.end() || value == header.end() || !name->is_string() || !value->is_string())
                continue;
            const std::string& n = name->get_ref<const std::string&>();
            if (EqualsIgnoringAsciiCase(n, "Content-Encoding") ||
                EqualsIgnoringAsciiCase(n, "Content-Length") ||
                EqualsIgnoringAsciiCase(n, "Transfer-Encoding"))
                continue;
            kept.push_back({{"name", n}, {"value", *value}});
        }
    }
    kept.push_back({{"name", "Content-Security-Policy"}, {"value", std::string(policy)}});
    return kept;
}

} // namespace korvane

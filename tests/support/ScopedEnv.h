#pragma once
#include <cstdlib>
#include <optional>
#include <string>

namespace korvane::testing {

// Sets an environment variable (nullptr: unsets it) for the scope, then puts back what was there.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : FName(name) {
        if (const char* old = std::getenv(name)) FOld = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~TScopedEnv() { FOld ? ::setenv(FName, FOld->c_str(), 1) : ::unsetenv(FName); }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* FName;
    std::optional<std::string> FOld;
};

} // namespace korvane::testing

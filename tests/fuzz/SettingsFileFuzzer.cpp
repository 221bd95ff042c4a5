// A settings file of any bytes: read as the window reads it, written back, and read again to the same
// values.
#include "platform/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const TMemIniFile ini =
        TMemIniFile::FromText(std::string_view(reinterpret_cast<const char*>(data), size));
    const TMemIniFile again = TMemIniFile::FromText(ini.Text());
    for (const std::string& section : ini.SectionNames())
        for (const char* key : {"left", "top", "outputpath", "delay", "image", "format"}) {
            if (ini.ReadString(section, key, "-") != again.ReadString(section, key, "-")) std::abort();
            if (ini.ReadInteger(section, key, 7) != again.ReadInteger(section, key, 7)) std::abort();
            (void)ini.ReadBool(section, key, true);
        }
    if (ini.SectionNames() != again.SectionNames()) std::abort();
    return 0;
}

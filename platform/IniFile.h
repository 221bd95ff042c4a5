#pragma once
// An INI file held in memory: read whole when opened, written whole by UpdateFile.
//
// Reading trims every line of blanks and control characters, drops empty lines, comment lines (";") and
// lines before the first section, and splits "key = value" at the first "=". Sections and keys are matched
// without regard to case; of duplicates the last one is read and replaced. Lines without "=" and sections the
// caller never touches stay where they were. Writing puts each section as "[name]", its entries as
// "key=value", and one empty line, all with CR LF.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

class TMemIniFile {
public:
    // Reads the file when it exists; throws EFOpenError when it exists but cannot be read.
    explicit TMemIniFile(std::string fileName);

    // Parses text as if it had been read from a file (no file is bound).
    static TMemIniFile FromText(std::string_view text);

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> SectionNames() const;

    std::string Text() const;
    // Writes the text to the file, replacing it only when complete; throws EFCreateError.
    void UpdateFile() const;

    const std::string& FileName() const { return FFileName; }

private:
    struct Entry {
        std::string key;   // empty for a line without "="
        std::string value; // the whole line when it has no "="
        bool hasKey = false;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    TMemIniFile() = default;
    void Parse(std::string_view text);
    const Section* FindSection(std::string_view name) const;
    Section* FindSection(std::string_view name);
    static const Entry* FindEntry(const Section& section, std::string_view key);

    std::string FFileName;
    std::vector<Section> FSections;
};

} // namespace korvane

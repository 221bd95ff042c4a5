#include "IniFile.h"

#include "Errors.h"
#include "Files.h"
#include "IntegerText.h"
#include "Text.h"

namespace korvane {

TMemIniFile::TMemIniFile(std::string fileName) : FFileName(std::move(fileName)) {
    if (FileExists(FFileName)) Parse(ReadWholeFile(FFileName));
}

TMemIniFile TMemIniFile::FromText(std::string_view text) {
    TMemIniFile ini;
    ini.Parse(text);
    return ini;
}

void TMemIniFile::Parse(std::string_view text) {
    Section* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = TrimText(text.substr(pos, end - pos));
        // CR, LF and CR LF each end a line.
        pos = end;
        if (pos < text.size())
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;

        if (line.empty() || line.front() == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            FSections.push_back(Section{std::string(TrimText(line.substr(1, line.size() - 2))), {}});
            current = &FSections.back();
            continue;
        }
        if (!current) continue;
        Entry entry;
        if (auto eq = line.find('='); eq != std::string_view::npos) {
            entry.key = std::string(TrimText(line.substr(0, eq)));
            entry.value = std::string(TrimText(line.substr(eq + 1)));
            entry.hasKey = true;
        } else {
            entry.value = std::string(line);
        }
        current->entries.push_back(std::move(entry));
    }
}

const TMemIniFile::Section* TMemIniFile::FindSection(std::string_view name) const {
    for (auto it = FSections.rbegin(); it != FSections.rend(); ++it)
        if (EqualsIgnoringAsciiCase(it->name, name)) return &*it;
    return nullptr;
}

TMemIniFile::Section* TMemIniFile::FindSection(std::string_view name) {
    return const_cast<Section*>(static_cast<const TMemIniFile*>(this)->FindSection(name));
}

const TMemIniFile::Entry* TMemIniFile::FindEntry(const Section& section, std::string_view key) {
    for (auto it = section.entries.rbegin(); it != section.entries.rend(); ++it)
        if (it->hasKey && EqualsIgnoringAsciiCase(it->key, key)) return &*it;
    return nullptr;
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view def) const {
    if (const Section* s = FindSection(section))
        if (const Entry* e = FindEntry(*s, key)) return e->value;
    return std::string(def);
}

std::int32_t TMemIniFile::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t def) const {
    if (const Section* s = FindSection(section))
        if (const Entry* e = FindEntry(*s, key)) return StrToIntDef(e->value, def);
    return def;
}

bool TMemIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TMemIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Section* s = FindSection(section);
    if (!s) {
        FSections.push_back(Section{std::string(section), {}});
        s = &FSections.back();
    }
    if (auto* e = const_cast<Entry*>(FindEntry(*s, key))) {
        e->key = std::string(key);
        e->value = std::string(value);
        return;
    }
    s->entries.push_back(Entry{std::string(key), std::string(value), true});
}

void TMemIniFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
    WriteString(section, key, IntToStr(value));
}

void TMemIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TMemIniFile::SectionExists(std::string_view section) const {
    return FindSection(section) != nullptr;
}

bool TMemIniFile::ValueExists(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    return s && FindEntry(*s, key) != nullptr;
}

std::vector<std::string> TMemIniFile::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& s : FSections)
        names.push_back(s.name);
    return names;
}

std::string TMemIniFile::Text() const {
    std::string text;
    for (const auto& s : FSections) {
        text += '[';
        text += s.name;
        text += "]\r\n";
        for (const auto& e : s.entries) {
            if (e.hasKey) {
                text += e.key;
                text += '=';
            }
            text += e.value;
            text += "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

void TMemIniFile::UpdateFile() const {
    try {
        WriteFileAtomically(FFileName, Text());
    } catch (const EWriteError& e) {
        throw EFCreateError(FFileName, e.Cause());
    }
}

} // namespace korvane

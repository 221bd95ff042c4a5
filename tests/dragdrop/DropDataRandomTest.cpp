// Dragged data comes from any program: the readers must survive every block. This feeds them blocks made to
// look like what they read (file lists, descriptors, texts, shortcut files) and then damaged at random.
#include "DropDataExercise.h"
#include "platform/DataObject.h"

#include <gtest/gtest.h>

#include <random>

namespace korvane {
namespace {

class BlockMaker {
public:
    explicit BlockMaker(std::uint64_t seed) : FRng(seed) {}

    std::string Next() {
        std::string b;
        switch (Pick(5)) {
        case 0:
            b = FileList();
            break;
        case 1:
            b = Descriptor();
            break;
        case 2:
            b = Text();
            break;
        case 3:
            b = ShortcutFile();
            break;
        default:
            b = Bytes(Pick(600));
            break;
        }
        Damage(b);
        return b;
    }

private:
    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRng); }
    char Byte() { return static_cast<char>(Pick(256)); }
    std::string Bytes(std::size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = Byte();
        return s;
    }
    std::string Name() {
        static const char* const parts[] = {
            "/home/u/", "Link", ".url", ".URL", ".desktop", "日本", "\xF0\x9F\x98",
            "x",        "/",    ".",    "\xC3", " ",        "é"};
        std::string s;
        for (std::size_t i = Pick(6); i > 0; --i)
            s += parts[Pick(std::size(parts))];
        return s;
    }
    static std::string ToString(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

    std::string FileList() {
        std::vector<std::string> names(Pick(4));
        for (std::string& n : names)
            n = Name();
        std::string b = ToString(MakeDropFilesBlock(names, Pick(2) == 0));
        if (Pick(3) == 0) { // an offset anywhere, also far outside
            const std::uint32_t offset =
                Pick(2) ? static_cast<std::uint32_t>(Pick(b.size() + 8)) : static_cast<std::uint32_t>(FRng());
            for (int i = 0; i < 4; ++i)
                b[static_cast<std::size_t>(i)] = static_cast<char>(offset >> (8 * i));
        }
        if (Pick(4) == 0) b[16] = Byte(); // the wide flag
        return b;
    }
    std::string Descriptor() {
        std::vector<std::string> names(Pick(3));
        for (std::string& n : names)
            n = Pick(4) ? Name() : Bytes(Pick(300));
        std::string b = ToString(MakeFileGroupDescriptorBlock(names));
        if (b.size() > 76 && Pick(2))
            std::fill(b.begin() + 76, b.begin() + std::min<std::size_t>(b.size(), 336), 'n');
        if (Pick(3) == 0) b.resize(Pick(b.size() + 1)); // shorter than a descriptor
        return b;
    }
    std::string Text() {
        std::string s = Pick(2) ? "[InternetShortcut]\nURL=" : "";
        s += Pick(2) ? "http://example.test/" + Name() : Bytes(Pick(400));
        if (Pick(2)) s.push_back('\0');
        return s;
    }
    std::string ShortcutFile() {
        static const char* const lines[] = {"[InternetShortcut]",
                                            "[internetshortcut]",
                                            "URL=http://a/",
                                            "url=",
                                            "[Desktop Entry]",
                                            "Type=Link",
                                            "Type = Link",
                                            "URL[$e]=x",
                                            "[Other]",
                                            "",
                                            "IconIndex=0",
                                            "URL"};
        static const char* const breaks[] = {"\r\n", "\n", "\r", ""};
        std::string s;
        for (std::size_t i = Pick(8); i > 0; --i) {
            s += Pick(6) ? lines[Pick(std::size(lines))] : Bytes(Pick(20));
            s += breaks[Pick(std::size(breaks))];
        }
        return s;
    }
    void Damage(std::string& b) {
        switch (Pick(4)) {
        case 0:
            break; // intact
        case 1:
            if (!b.empty()) b.resize(Pick(b.size()));
            break; // cut short
        case 2:    // a few bytes changed
            for (std::size_t i = Pick(4); i > 0 && !b.empty(); --i)
                b[Pick(b.size())] = Byte();
            break;
        default:
            b += Bytes(Pick(16));
            break; // trailing bytes
        }
    }

    std::mt19937_64 FRng;
};

TEST(DropDataRandom, HundredThousandBlocksBreakNoReader) {
    constexpr std::uint64_t seed = 0x6b6f7276616e65; // fixed: a failure is repeatable
    constexpr int blocks = 100'000;
    BlockMaker maker(seed);
    int failures = 0;
    for (int i = 0; i < blocks && failures < 5; ++i) {
        const std::string block = maker.Next();
        const std::string why = test::ExerciseReaders(block);
        if (!why.empty()) {
            ++failures;
            ADD_FAILURE() << "block " << i << " (" << block.size() << " bytes): " << why;
        }
    }
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace korvane

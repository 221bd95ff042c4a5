#include "DropDataExercise.h"

#include "DragDropFakes.h"
#include "dragdrop/DropDataReaders.h"
#include "dragdrop/DropURLTarget.h"
#include "dragdrop/ShortcutFile.h"

namespace korvane::test {

namespace {

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<std::uint8_t>(s[i]);
        std::size_t n = b < 0x80             ? 1
                        : (b & 0xE0) == 0xC0 ? 2
                        : (b & 0xF0) == 0xE0 ? 3
                        : (b & 0xF8) == 0xF0 ? 4
                                             : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<std::uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

} // namespace

std::string ExerciseReaders(std::string_view block) {
    const bool wideFlag = block.size() >= 20 && (block[16] | block[17] | block[18] | block[19]) != 0;
    const std::vector<std::string> names = ReadDropFiles(block);
    std::size_t total = 0;
    for (const std::string& n : names) {
        if (n.empty()) return "an empty name in a file list";
        if (n.find('\0') != std::string::npos) return "a zero inside a file name";
        if (wideFlag && !ValidUtf8(n)) return "a converted wide name is not UTF-8";
        total += wideFlag ? 0 : n.size() + 1;
    }
    if (total > block.size()) return "file names longer than their block";

    if (const auto name = ReadFirstDescriptorName(block)) {
        if (name->size() > 260) return "a descriptor name over 260 bytes";
        if (name->find('\0') != std::string::npos) return "a zero inside a descriptor name";
        if (block.size() < 336) return "a name from a descriptor shorter than 336 bytes";
    }
    if (const auto text = ReadZeroTerminatedText(block)) {
        if (text->size() >= block.size()) return "text as long as its block";
        const std::string url = FileContentsUrl(*text);
        if (url.size() > 250) return "a contents URL over 250 bytes";
        if (ValidUtf8(*text) && !ValidUtf8(url)) return "a contents URL cut inside a character";
    }
    const auto shortcut = ReadInternetShortcut(block);
    if (shortcut && shortcut->size() > block.size()) return "a shortcut URL longer than the file";
    const auto link = ReadDesktopLink(block);
    if (link && link->size() > block.size()) return "a link URL longer than the file";
    const std::string cut = RemoveLastChars(block, 4);
    if (cut.size() > block.size() || block.substr(0, cut.size()) != cut)
        return "removing characters changed the text";

    // The whole drop target, with the block under every format it reads.
    static TDropURLTarget target;
    const TDragDropFormats& f = DragDropFormats();
    auto data = MakeCom<ScriptedDataObject>();
    const CLIPFORMAT order[] = {f.URL, CF_TEXT, f.FileContents, CF_HDROP, f.FileGroupDescriptor};
    // The block's first byte chooses which formats are offered, so that each reader runs first sometimes.
    const unsigned offered = block.empty() ? 0x1F : static_cast<std::uint8_t>(block[0]);
    for (unsigned i = 0; i < 5; ++i)
        if (offered & (1u << i)) data->Add(order[i], block, i == 2 ? 0 : -1);
    std::uint32_t effect = DROPEFFECT_LINK | DROPEFFECT_COPY;
    target.DragEnter(data.Get(), 0, {0, 0}, effect);
    if (target.DroppedUrl().size() > block.size() && !(offered & 8)) return "a URL longer than its data";
    target.DragLeave();
    if (!data->AllReleased()) return "a medium not released or a block left locked";
    return {};
}

} // namespace korvane::test

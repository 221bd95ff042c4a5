#include "dragdrop/DropDataReaders.h"
#include "dragdrop/ShortcutFile.h"
#include "platform/DataObject.h"
#include "platform/DragImage.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

std::string_view View(const std::vector<std::uint8_t>& b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

TEST(DropFilesReader, ReadsNarrowAndWideListsInOrder) {
    const std::vector<std::string> names{"/home/u/a.url", "/tmp/b c.txt", "/x/Ünï☃😀.url"};
    EXPECT_EQ(ReadDropFiles(View(MakeDropFilesBlock(names, false))), names);
    EXPECT_EQ(ReadDropFiles(View(MakeDropFilesBlock(names, true))), names);
    EXPECT_TRUE(ReadDropFiles(View(MakeDropFilesBlock({}, true))).empty());
}

TEST(DropFilesReader, EveryOffsetAndLengthIsCheckedAgainstTheBlock) {
    const std::vector<std::uint8_t> wide = MakeDropFilesBlock({"/a.url", "/b"}, true);
    const std::vector<std::uint8_t> narrow = MakeDropFilesBlock({"/a.url", "/b"}, false);
    // Any cut of the block, down to the header, loses the list's end: nothing is delivered.
    for (std::size_t n = 0; n < wide.size(); ++n)
        EXPECT_TRUE(ReadDropFiles(View(wide).substr(0, n)).empty()) << n;
    for (std::size_t n = 0; n < narrow.size(); ++n)
        EXPECT_TRUE(ReadDropFiles(View(narrow).substr(0, n)).empty()) << n;

    std::vector<std::uint8_t> b = narrow;
    b[0] = 0xFF, b[1] = 0xFF, b[2] = 0xFF, b[3] = 0xFF; // offset far outside
    EXPECT_TRUE(ReadDropFiles(View(b)).empty());
    b = narrow;
    b[0] = static_cast<std::uint8_t>(narrow.size()); // offset at the very end: no end of list
    EXPECT_TRUE(ReadDropFiles(View(b)).empty());

    // A wide list with an odd byte count: the last character is not whole.
    b = wide;
    b.pop_back();
    EXPECT_TRUE(ReadDropFiles(View(b)).empty());
    // The end of a wide list is tested on whole 16-bit characters: "A\0" then a zero byte is no end.
    b = {20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 'A', 0, 0, 0, 0};
    EXPECT_TRUE(ReadDropFiles(View(b)).empty());
    b.push_back(0);
    EXPECT_EQ(ReadDropFiles(View(b)), std::vector<std::string>{"A"});
}

TEST(DropFilesReader, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::uint8_t units[] = {0x3D, 0xD8, 'x', 0, 0x00, 0xDC};
    EXPECT_EQ(Utf16LEToUtf8(units, 3), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(DescriptorReader, FirstNameUpToZeroOrAtMost260Bytes) {
    EXPECT_EQ(ReadFirstDescriptorName(View(MakeFileGroupDescriptorBlock({"Page.url", "Other.url"}))),
              "Page.url");
    std::vector<std::uint8_t> b = MakeFileGroupDescriptorBlock({"x"});
    ASSERT_EQ(b.size(), FILEGROUPDESCRIPTOR_MIN_SIZE);
    std::fill(b.begin() + FILEGROUPDESCRIPTOR_FIRST_NAME, b.end(), 'n'); // no zero in the field
    EXPECT_EQ(ReadFirstDescriptorName(View(b)), std::string(260, 'n'));
    // A multi-byte character across the 260th byte is cut off whole.
    b[FILEGROUPDESCRIPTOR_FIRST_NAME + 259] = static_cast<std::uint8_t>(0xC3);
    EXPECT_EQ(ReadFirstDescriptorName(View(b)), std::string(259, 'n'));

    b.pop_back();
    EXPECT_EQ(ReadFirstDescriptorName(View(b)), std::nullopt); // shorter than one descriptor
    EXPECT_EQ(ReadFirstDescriptorName(""), std::nullopt);
    b = MakeFileGroupDescriptorBlock({"x"});
    b[0] = 0; // counts no item
    EXPECT_EQ(ReadFirstDescriptorName(View(b)), std::nullopt);
}

TEST(TextReaders, ZeroTerminationAndTheContentsSubstring) {
    EXPECT_EQ(ReadZeroTerminatedText(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(ReadZeroTerminatedText(std::string_view("\0", 1)), "");
    EXPECT_EQ(ReadZeroTerminatedText("abc"), std::nullopt);
    EXPECT_EQ(ReadZeroTerminatedText(""), std::nullopt);

    const std::string head = "[InternetShortcut]\nURL=";
    ASSERT_EQ(head.size(), 23u);
    EXPECT_EQ(FileContentsUrl(head + "http://x/"), "http://x/");
    EXPECT_EQ(FileContentsUrl(head), "");
    EXPECT_EQ(FileContentsUrl("abc"), "");
    EXPECT_EQ(FileContentsUrl(head + std::string(249, 'a') + "é"), std::string(249, 'a')); // cut whole
}

TEST(TextReaders, RemovingCharactersAndCuttingCountWholeCharacters) {
    EXPECT_EQ(RemoveLastChars("Title.url", 4), "Title");
    EXPECT_EQ(RemoveLastChars("abcd", 4), "");
    EXPECT_EQ(RemoveLastChars("abc", 4), "abc");
    EXPECT_EQ(RemoveLastChars("日本語.url", 4), "日本語");
    EXPECT_EQ(RemoveLastChars("x日本語ab", 4), "x日");
    EXPECT_EQ(CutUtf8("aé", 2), "a");
    EXPECT_EQ(CutUtf8("aé", 3), "aé");
}

TEST(ShortcutText, LinesEndAtCrLfOrCrLf) {
    EXPECT_EQ(SplitTextLines("a\rb\nc\r\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\n\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitTextLines("").empty());
    EXPECT_EQ(SplitTextLines("\r\n"), std::vector<std::string>{""});
}

TEST(ShortcutText, InternetShortcutSection) {
    EXPECT_EQ(ReadInternetShortcut("[InternetShortcut]\rURL=http://a/ b \r"), "http://a/ b ");
    EXPECT_EQ(ReadInternetShortcut("x\n[INTERNETSHORTCUT]\nIconIndex=1\nUrL=ftp://f/\n"), "ftp://f/");
    EXPECT_EQ(ReadInternetShortcut("[InternetShortcut]\nURL=\n"), "");
    EXPECT_EQ(ReadInternetShortcut("[InternetShortcut]\nURL"), std::nullopt);
    EXPECT_EQ(ReadInternetShortcut("[InternetShortcut]\n[A]\n[InternetShortcut]\nURL=http://x/\n"),
              std::nullopt);
    EXPECT_EQ(ReadInternetShortcut("[InternetShortcut] \nURL=http://x/\n"), std::nullopt);
}

TEST(ShortcutText, DesktopLinkEntry) {
    EXPECT_EQ(ReadDesktopLink("[Desktop Entry]\nType = Link\nURL = https://x/\n"), "https://x/");
    EXPECT_EQ(ReadDesktopLink("[Desktop Entry]\nURL=https://x/\nType=Link"), "https://x/");
    EXPECT_EQ(ReadDesktopLink("[Desktop Entry]\nType=Application\nURL=https://x/\n"), std::nullopt);
    EXPECT_EQ(ReadDesktopLink("[Desktop Entry]\nType=Link\n"), std::nullopt);
    EXPECT_EQ(ReadDesktopLink("[Desktop Entry]\nType=Link\n[Other]\nURL=https://x/\n"), std::nullopt);
    EXPECT_EQ(ShortcutKindOf("/a/b.DeskTop"), TShortcutKind::DesktopLink);
    EXPECT_EQ(ShortcutKindOf("/a.url/b"), TShortcutKind::None);
    EXPECT_EQ(ShortcutKindOf("/a/b.URL"), TShortcutKind::InternetShortcut);
    EXPECT_EQ(ShortcutTitle("/a/My.Site.url"), "My.Site");
    EXPECT_EQ(ShortcutTitle("/a/Docs.desktop"), "Docs");
}

TEST(DataObjectLayer, RegisteredFormatsAreStableByNameIgnoringCase) {
    const CLIPFORMAT a = RegisterClipboardFormatA("Korvane Test Format");
    EXPECT_GE(a, 0xC000);
    EXPECT_EQ(RegisterClipboardFormatA("KORVANE test format"), a);
    EXPECT_NE(RegisterClipboardFormatA("Korvane Other Format"), a);
    EXPECT_EQ(RegisterClipboardFormatA(""), 0);
    EXPECT_EQ(GetClipboardFormatName(a), "Korvane Test Format");
    EXPECT_EQ(GetClipboardFormatName(CF_TEXT), "");
}

TEST(DataObjectLayer, MemoryDataObjectHandsOutFreshBlocksAndEnumeratesForReading) {
    auto data = MakeCom<MemoryDataObject>();
    data->SetData(CF_TEXT, std::string_view("abc\0", 4));
    data->SetData(CF_HDROP, std::string_view("first"), 0);

    STGMEDIUM m;
    ASSERT_EQ(data->GetData({CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, m), S_OK);
    ASSERT_EQ(m.tymed, TYMED_HGLOBAL);
    {
        GlobalLockGuard lock(m.hGlobal);
        EXPECT_EQ(m.hGlobal->LockCount(), 1);
        EXPECT_EQ(lock.Bytes(), std::string_view("abc\0", 4));
        const_cast<std::uint8_t*>(lock.Data())[0] = 'X'; // a reader's block is its own
    }
    EXPECT_EQ(m.hGlobal->LockCount(), 0);
    EXPECT_FALSE(m.hGlobal->Unlock());
    std::weak_ptr<GlobalMemory> block = m.hGlobal;
    ReleaseStgMedium(m);
    EXPECT_TRUE(block.expired());
    EXPECT_EQ(m.tymed, TYMED_NULL);
    ASSERT_EQ(data->GetData({CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, m), S_OK);
    EXPECT_EQ(GlobalLockGuard(m.hGlobal).Bytes()[0], 'a');

    EXPECT_EQ(data->GetData({CF_TEXT, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, m), DV_E_DVASPECT);
    EXPECT_EQ(data->GetData({CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM}, m), DV_E_TYMED);
    EXPECT_EQ(data->GetData({CF_HDROP, nullptr, DVASPECT_CONTENT, 1, TYMED_HGLOBAL}, m), DV_E_LINDEX);
    EXPECT_EQ(data->GetData({CF_HDROP, nullptr, DVASPECT_CONTENT, 0, TYMED_HGLOBAL}, m), S_OK);
    EXPECT_EQ(data->QueryGetData({13, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}), DV_E_FORMATETC);

    IEnumFORMATETC* raw = nullptr;
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_SET, &raw), E_NOTIMPL);
    ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, &raw), S_OK);
    ComPtr<IEnumFORMATETC> e = ComPtr<IEnumFORMATETC>::Adopt(raw);
    FORMATETC r[3];
    std::uint32_t fetched = 0;
    EXPECT_EQ(e->Next(3, r, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(r[0].cfFormat, CF_TEXT);
    EXPECT_EQ(r[1].lindex, 0);
    EXPECT_EQ(e->Next(1, r, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    ComPtr<IEnumFORMATETC> clone;
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(1), S_OK);
    ASSERT_EQ(e->Clone(clone.Put()), S_OK);
    EXPECT_EQ(clone->Next(1, r, nullptr), S_OK);
    EXPECT_EQ(r[0].cfFormat, CF_HDROP);
    EXPECT_EQ(e->Skip(5), S_FALSE);
}

TEST(DataObjectLayer, DragImagesDoNothingUnlessRecorded) {
    POINT hot{9, 9};
    EXPECT_EQ(ImageList_GetDragImage(nullptr, &hot), nullptr);
    EXPECT_TRUE(ImageList_DragMove(1, 2));
    TDragImageRecorder recorder;
    EXPECT_THROW(TDragImageRecorder(), std::logic_error);
    EXPECT_EQ(ImageList_GetDragImage(nullptr, &hot), nullptr);
    recorder.OfferDragImage({4, 5});
    EXPECT_EQ(ImageList_GetDragImage(nullptr, &hot), recorder.OfferedImage());
    EXPECT_EQ(hot, (POINT{4, 5}));
    ImageList_DragMove(1, 2);
    EXPECT_EQ(recorder.Count(DragImageCall::GetDragImage), 2u);
    EXPECT_EQ(recorder.Count(DragImageCall::DragMove), 1u);
}

} // namespace
} // namespace korvane

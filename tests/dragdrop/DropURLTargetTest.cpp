#include "dragdrop/DropURLTarget.h"
#include "tests/support/TempFolder.h"

#include "DragDropFakes.h"
#include "dragdrop/ShortcutFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

using test::FakeControl;
using test::ScriptedDataObject;
namespace fs = std::filesystem;

std::string Z(std::string_view s) {
    return std::string(s) + '\0';
}

std::vector<std::uint8_t> Descriptor(const std::string& name) {
    return MakeFileGroupDescriptorBlock({name});
}

struct URLTarget : ::testing::Test {
    std::shared_ptr<FakeControl::Log> log = std::make_shared<FakeControl::Log>();
    TDropURLTarget target;
    ComPtr<ScriptedDataObject> data = MakeCom<ScriptedDataObject>();
    const TDragDropFormats& f = DragDropFormats();
    korvane::testing::TempFolder folder{"korvane-dragdrop"};
    const fs::path& dir = folder.Dir();

    void SetUp() override { target.AttachTo(std::make_unique<FakeControl>(log)); }
    std::string WriteFile(const std::string& name, std::string_view content) {
        return folder.Put(name, std::string(content));
    }
    // Enters with the data (which reads it) and returns the effect; the result stays readable until a drop.
    std::uint32_t Enter(std::uint32_t allowed = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK) {
        std::uint32_t effect = allowed;
        EXPECT_EQ(target.DragEnter(data.Get(), 0, {110, 210}, effect), S_OK);
        return effect;
    }
    // A whole drag; returns the URL and title that OnDrop saw, and the effect.
    struct Dropped {
        bool fired = false;
        std::string url, title;
        std::uint32_t effect = 0;
    };
    Dropped DragAndDrop(std::uint32_t allowed = DROPEFFECT_COPY | DROPEFFECT_LINK) {
        Dropped d;
        target.OnDrop = [&](TDropTarget*, TShiftState, TPoint, std::uint32_t& effect) {
            d.fired = true;
            d.url = target.DroppedUrl();
            d.title = target.DroppedTitle();
            EXPECT_EQ(effect, DROPEFFECT_LINK);
        };
        Enter(allowed);
        std::uint32_t effect = allowed;
        target.DragOver(0, {111, 211}, effect);
        effect = allowed;
        target.Drop(data.Get(), 0, {112, 212}, effect);
        d.effect = effect;
        EXPECT_TRUE(data->AllReleased());
        return d;
    }
};

TEST_F(URLTarget, ConstructedForLinksReadAtEntry) {
    EXPECT_EQ(target.Dragtypes(), TDragTypes{dtLink});
    EXPECT_TRUE(target.GetDataOnEnter());
    EXPECT_TRUE(target.ShowImage());
    EXPECT_NE(f.URL, f.FileContents);
    EXPECT_EQ(f.URL, RegisterClipboardFormatA("UniformResourceLocator"));
    EXPECT_EQ(GetClipboardFormatName(f.FileGroupDescriptor), "FileGroupDescriptor");
}

TEST_F(URLTarget, BrowserLinkWithDescriptorGivesUrlAndTitle) {
    data->Add(f.URL, Z("https://example.org/a?b=1"))
        .Add(f.FileGroupDescriptor, Descriptor("Example Page.url"));
    const Dropped d = DragAndDrop();
    EXPECT_TRUE(d.fired);
    EXPECT_EQ(d.effect, DROPEFFECT_LINK);
    EXPECT_EQ(d.url, "https://example.org/a?b=1");
    EXPECT_EQ(d.title, "Example Page");
    // After the drop the URL is gone and the title stays.
    EXPECT_EQ(target.DroppedUrl(), "");
    EXPECT_EQ(target.DroppedTitle(), "Example Page");
}

TEST_F(URLTarget, BrowserLinkWithoutDescriptorTitleIsTheUrl) {
    data->Add(f.URL, Z("http://a.example/"));
    const Dropped d = DragAndDrop();
    EXPECT_EQ(d.url, "http://a.example/");
    EXPECT_EQ(d.title, "http://a.example/");
}

TEST_F(URLTarget, DescriptorTitleLosesItsLastFourCharactersWhateverTheyAre) {
    data->Add(f.URL, Z("http://a/")).Add(f.FileGroupDescriptor, Descriptor("Straße—ab"));
    EXPECT_EQ(DragAndDrop().title, "Straß"); // the last four characters are "e—ab"
    data = MakeCom<ScriptedDataObject>();
    data->Add(f.URL, Z("http://a/")).Add(f.FileGroupDescriptor, Descriptor("abc"));
    EXPECT_EQ(DragAndDrop().title, "abc"); // fewer than four characters stays whole
}

TEST_F(URLTarget, UrlFormatWinsOverText) {
    data->Add(CF_TEXT, Z("http://from-text/")).Add(f.URL, Z("http://from-url/"));
    EXPECT_EQ(DragAndDrop().url, "http://from-url/");
}

TEST_F(URLTarget, TextIsTakenWholeAndUnchanged) {
    data->Add(CF_TEXT, Z("  http://a/\r\nsecond line "));
    const Dropped d = DragAndDrop();
    EXPECT_TRUE(d.fired);
    EXPECT_EQ(d.url, "  http://a/\r\nsecond line ");
}

TEST_F(URLTarget, FileContentsGivesTheAddressAndWhatFollowsUpTo250Characters) {
    data->Add(f.FileContents, Z("[InternetShortcut]\nURL=http://b.example/x\r\nIconIndex=0\r\n"), 0);
    const Dropped d = DragAndDrop();
    EXPECT_EQ(d.url, "http://b.example/x\r\nIconIndex=0\r\n");
    EXPECT_EQ(data->requests.back().cfFormat, f.FileGroupDescriptor);
    bool askedFirstFile = false;
    for (const FORMATETC& r : data->requests)
        askedFirstFile |= r.cfFormat == f.FileContents && r.lindex == 0;
    EXPECT_TRUE(askedFirstFile);

    data = MakeCom<ScriptedDataObject>();
    data->Add(f.FileContents, Z("[InternetShortcut]\nURL=" + std::string(400, 'u')), 0);
    EXPECT_EQ(DragAndDrop().url, std::string(250, 'u'));

    data = MakeCom<ScriptedDataObject>();
    data->Add(f.FileContents, Z("short"), 0);
    const Dropped empty = DragAndDrop();
    EXPECT_TRUE(empty.fired); // a read of the contents counts whatever the text holds
    EXPECT_EQ(empty.url, "");
}

TEST_F(URLTarget, ShortcutFileWithUpperCaseExtensionAndLowerCaseKey) {
    const std::string path =
        WriteFile("My Site.URL",
                  "[InternetShortcut]\r\nIconFile=x\r\nurl=https://shortcut.example/p\r\nURL=second\r\n");
    data->Add(CF_HDROP, MakeDropFilesBlock({path, "/tmp/ignored.txt"}, false));
    const Dropped d = DragAndDrop();
    EXPECT_EQ(d.effect, DROPEFFECT_LINK);
    EXPECT_EQ(d.url, "https://shortcut.example/p");
    EXPECT_EQ(d.title, "My Site");
}

TEST_F(URLTarget, ShortcutWithWideNamesFromTheFileList) {
    const std::string path = WriteFile("Ünïcode ☃.url", "[internetshortcut]\nURL=http://snow.example/\n");
    data->Add(CF_HDROP, MakeDropFilesBlock({path}, true));
    const Dropped d = DragAndDrop();
    EXPECT_EQ(d.url, "http://snow.example/");
    EXPECT_EQ(d.title, "Ünïcode ☃");
}

TEST_F(URLTarget, DesktopLinkFilesAreReadLikeShortcuts) {
    const std::string link =
        WriteFile("Docs.desktop", "[Desktop Entry]\nName=Docs\nType=Link\nURL[$e]=https://docs.example/\n");
    data->Add(CF_HDROP, MakeDropFilesBlock({link}, true));
    const Dropped d = DragAndDrop();
    EXPECT_EQ(d.url, "https://docs.example/");
    EXPECT_EQ(d.title, "Docs");

    const std::string app = WriteFile("App.desktop", "[Desktop Entry]\nType=Application\nURL=http://no/\n");
    data = MakeCom<ScriptedDataObject>();
    data->Add(CF_HDROP, MakeDropFilesBlock({app}, true));
    EXPECT_EQ(DragAndDrop().url, "");
}

TEST_F(URLTarget, ShortcutsWithoutAUrlYieldNone) {
    const std::string cases[] = {
        "[InternetShortcut]",                              // the header is the last line
        "[InternetShortcut]\n",                            // a line break adds no line
        "[InternetShortcut]\n[Other]\nURL=http://late/\n", // the next section ends the search
        "[Other]\nURL=http://wrong/\n",                    // no section
        " [InternetShortcut]\nURL=http://trimmed/\n",      // the header is compared whole
        "",
    };
    int i = 0;
    for (const std::string& content : cases) {
        const std::string path = WriteFile("c" + std::to_string(i++) + ".url", content);
        data = MakeCom<ScriptedDataObject>();
        data->Add(CF_HDROP, MakeDropFilesBlock({path}, false));
        EXPECT_EQ(Enter(DROPEFFECT_LINK), DROPEFFECT_LINK) << content; // still accepted
        EXPECT_EQ(target.DroppedUrl(), "") << content;
        EXPECT_FALSE(target.ReadDropData()) << content;
        target.DragLeave();
    }
}

TEST_F(URLTarget, UnreadableShortcutsYieldNoUrlAndNoFailure) {
    fs::create_directories(dir / "folder.url");
    const std::string fifo = (dir / "pipe.url").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string locked = WriteFile("locked.url", "[InternetShortcut]\nURL=http://locked/\n");
    ::chmod(locked.c_str(), 0);
    const std::string big =
        WriteFile("big.url", "[InternetShortcut]\nURL=http://big/\n" + std::string(MaxShortcutFileSize, 'x'));
    for (const std::string& path : {(dir / "missing.url").string(), (dir / "folder.url").string(), fifo, big,
                                    ::geteuid() == 0 ? big : locked}) {
        data = MakeCom<ScriptedDataObject>();
        data->Add(CF_HDROP, MakeDropFilesBlock({path}, false));
        const Dropped d = DragAndDrop();
        EXPECT_TRUE(d.fired) << path;
        EXPECT_EQ(d.url, "") << path;
    }
}

TEST_F(URLTarget, OtherFilesYieldNoUrl) {
    const std::string path = WriteFile("notes.txt", "[InternetShortcut]\nURL=http://not-a-shortcut/\n");
    data->Add(CF_HDROP, MakeDropFilesBlock({path}, false));
    EXPECT_EQ(Enter(), DROPEFFECT_LINK);
    EXPECT_FALSE(target.ReadDropData());
    EXPECT_EQ(target.DroppedUrl(), "");
    EXPECT_EQ(target.DroppedTitle(), ""); // no descriptor and no URL
}

TEST_F(URLTarget, CopyOnlyTextIsRefused) {
    data->Add(CF_TEXT, Z("http://copy-only/"));
    const Dropped d = DragAndDrop(DROPEFFECT_COPY);
    EXPECT_EQ(d.effect, DROPEFFECT_NONE);
    EXPECT_FALSE(d.fired);
}

TEST_F(URLTarget, DescriptorOnlyOrUnreadableFormatsAreRefused) {
    data->Add(f.FileGroupDescriptor, Descriptor("x.url"));
    EXPECT_EQ(Enter(), DROPEFFECT_NONE);
    EXPECT_EQ(target.DataObject(), nullptr);

    // Acceptable formats only with no target device, the content aspect and global memory.
    data = MakeCom<ScriptedDataObject>();
    data->Add(CF_UNICODETEXT, Z("x"));
    data->entries.push_back({{CF_TEXT, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, {}, TYMED_HGLOBAL});
    data->entries.push_back({{f.URL, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM}, {}, TYMED_ISTREAM});
    EXPECT_EQ(Enter(), DROPEFFECT_NONE);
    data->entries.push_back(
        {{f.FileContents, nullptr, DVASPECT_CONTENT, 0, TYMED_ISTREAM | TYMED_HGLOBAL}, {}, TYMED_HGLOBAL});
    EXPECT_EQ(Enter(), DROPEFFECT_LINK);
    target.DragLeave();
}

TEST_F(URLTarget, AFailingEnumeratorRefuses) {
    data->Add(f.URL, Z("http://a/"));
    data->enumFails = true;
    EXPECT_EQ(Enter(), DROPEFFECT_NONE);
    data->enumFails = false;
    data->resetFails = true;
    EXPECT_EQ(Enter(), DROPEFFECT_NONE);
}

TEST_F(URLTarget, AnotherMediumTypeEndsTheRead) {
    data->Add(f.URL, Z("x"), -1, TYMED_ISTREAM).Add(CF_TEXT, Z("http://text/"));
    data->Add(f.FileGroupDescriptor, Descriptor("T.url"));
    EXPECT_EQ(Enter(), DROPEFFECT_LINK);
    EXPECT_EQ(target.DroppedUrl(), "");
    EXPECT_EQ(target.DroppedTitle(), ""); // no title step either
    EXPECT_FALSE(target.ReadDropData());
    EXPECT_EQ(data->RequestsFor(CF_TEXT), 0u);
    EXPECT_EQ(data->RequestsFor(f.FileGroupDescriptor), 0u);
    target.DragLeave();
    EXPECT_TRUE(data->AllReleased());

    // In the title step another medium type keeps the result reached so far.
    data = MakeCom<ScriptedDataObject>();
    data->Add(CF_TEXT, Z("http://text/")).Add(f.FileGroupDescriptor, "xx", -1, TYMED_ISTREAM);
    Enter();
    EXPECT_TRUE(target.ReadDropData());
    EXPECT_EQ(target.DroppedUrl(), "http://text/");
    EXPECT_EQ(target.DroppedTitle(), "");
    target.DragLeave();
    EXPECT_TRUE(data->AllReleased());
}

TEST_F(URLTarget, OutOfBoundsDataDeliversNothing) {
    // Text without a terminating zero: the next format is read instead.
    data->Add(f.URL, "http://unterminated/").Add(CF_TEXT, Z("http://terminated/"));
    // A descriptor shorter than one record gives no title: the title is the URL.
    std::vector<std::uint8_t> shortDescriptor = Descriptor("Title.url");
    shortDescriptor.resize(FILEGROUPDESCRIPTOR_MIN_SIZE - 1);
    data->Add(f.FileGroupDescriptor, shortDescriptor);
    Enter();
    EXPECT_EQ(target.DroppedUrl(), "http://terminated/");
    EXPECT_EQ(target.DroppedTitle(), "http://terminated/");
    target.DragLeave();
    EXPECT_TRUE(data->AllReleased());

    // A file list whose name offset points past the block.
    const std::string path = WriteFile("ok.url", "[InternetShortcut]\nURL=http://ok/\n");
    std::vector<std::uint8_t> list = MakeDropFilesBlock({path}, false);
    list[0] = static_cast<std::uint8_t>(list.size() + 1);
    data = MakeCom<ScriptedDataObject>();
    data->Add(CF_HDROP, list);
    Enter();
    EXPECT_EQ(target.DroppedUrl(), "");
    // The same list intact works.
    data = MakeCom<ScriptedDataObject>();
    data->Add(CF_HDROP, MakeDropFilesBlock({path}, false));
    Enter();
    EXPECT_EQ(target.DroppedUrl(), "http://ok/");
    target.DragLeave();
}

TEST_F(URLTarget, ClearDropDataEmptiesOnlyTheUrl) {
    data->Add(f.URL, Z("http://a/")).Add(f.FileGroupDescriptor, Descriptor("Name.url"));
    Enter();
    EXPECT_EQ(target.DroppedUrl(), "http://a/");
    target.ClearDropData();
    EXPECT_EQ(target.DroppedUrl(), "");
    EXPECT_EQ(target.DroppedTitle(), "Name");
    target.DragLeave();
    EXPECT_EQ(target.DroppedTitle(), "Name");
}

} // namespace
} // namespace korvane

// The run's report: thumbnails read from every format the program writes, and the report page itself,
// loaded in Chromium by korvane-capture and looked at through its DOM.
#include "cli/Thumbnail.h"
#include "imaging/Bitmap.h"
#include "imaging/BmpWriter.h"
#include "imaging/JpegImage.h"
#include "imaging/PngGraphic.h"
#include "imaging/WebpImage.h"
#include "tests/cli/ToolProcess.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

using namespace korvane;
using namespace korvane::testing;

namespace {

// A page 480 wide: red down to row 300, then blue; a thumbnail shows its top 640 rows at half the size.
TBitmap Stripes(int height) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(480, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < 480; ++x) {
            row[x * 3] = y < 300 ? 0 : 255;     // blue
            row[x * 3 + 1] = 0;                 // green
            row[x * 3 + 2] = y < 300 ? 255 : 0; // red
        }
    }
    return bitmap;
}

bool Near(std::uint32_t pixel, std::uint32_t expected) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((pixel >> shift) & 255) - int((expected >> shift) & 255)) > 24) return false;
    return true;
}

} // namespace

TEST(Thumbnails, AreTheTopOfThePageFromPngJpegBmpAndWebp) {
    TempFolder folder("korvane-thumbnails");
    const std::string png = folder.Path("page.png"), jpg = folder.Path("page.jpg"),
                      bmp = folder.Path("page.bmp"), webp = folder.Path("page.webp"),
                      lossy = folder.Path("lossy.webp");
    {
        TPngGraphic picture;
        picture.TakeBitmap(Stripes(3000));
        picture.WriteToFile(png);
    }
    {
        TJPEGImage picture;
        picture.SetCompressionQuality(95);
        picture.TakeBitmap(Stripes(3000));
        picture.SaveToFile(jpg);
    }
    WriteBmpFile(Stripes(3000), bmp);
    SaveWebpFile(Stripes(3000), webp, {});
    SaveWebpFile(Stripes(3000), lossy, {60, 4, false});
    for (const auto& image : {png, jpg, bmp, webp, lossy}) {
        const std::string thumbnail = image + ".thumb.jpg";
        const TThumbnailSize size = WriteThumbnail(image, thumbnail);
        const TDecodedImage decoded = DecodeImageFile(thumbnail);
        ASSERT_TRUE(decoded.Ok()) << image << ": " << decoded.Error;
        EXPECT_EQ(decoded.Width, 240) << image;
        EXPECT_EQ(decoded.Height, 320) << image;
        EXPECT_EQ(size.Width, decoded.Width);
        EXPECT_EQ(size.Height, decoded.Height);
        // The top of the page, in place: red above row 150 of the thumbnail, blue below.
        EXPECT_TRUE(Near(decoded.Pixel(120, 10), 0xff0000)) << image << std::hex << decoded.Pixel(120, 10);
        EXPECT_TRUE(Near(decoded.Pixel(120, 140), 0xff0000)) << image;
        EXPECT_TRUE(Near(decoded.Pixel(120, 160), 0x0000ff)) << image << std::hex << decoded.Pixel(120, 160);
        EXPECT_TRUE(Near(decoded.Pixel(239, 319), 0x0000ff)) << image;
    }
    // A page lower than a thumbnail keeps its proportions; one narrower keeps its width.
    WriteBmpFile(Stripes(100), bmp);
    const TThumbnailSize low = WriteThumbnail(bmp, folder.Path("low.jpg"));
    EXPECT_EQ(low.Width, 240);
    EXPECT_EQ(low.Height, 50);
    // What is no image is an error naming the file.
    std::ofstream(folder.Path("page.txt")) << "not a picture";
    try {
        WriteThumbnail(folder.Path("page.txt"), folder.Path("txt.jpg"));
        ADD_FAILURE() << "a text file made a thumbnail";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("page.txt"), std::string::npos) << e.what();
    }
}

namespace {

std::string Le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}
std::string PngChunk(const std::string& type, const std::string& data) {
    const auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    const std::string body = type + data;
    return be32(static_cast<std::uint32_t>(data.size())) + body +
           be32(static_cast<std::uint32_t>(
               crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}
// The start of a PNG of width x height RGB pixels: its header and the first rows, as a file cut short.
std::string PngStart(std::uint32_t width, std::uint32_t height) {
    std::string ihdr;
    for (std::uint32_t v : {width, height})
        ihdr += {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                 static_cast<char>(v)};
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    std::string rows(std::size_t{width} * 3 + 1, '\0');
    rows = rows + rows;
    std::string packed(compressBound(static_cast<uLong>(rows.size())), '\0');
    uLongf size = static_cast<uLongf>(packed.size());
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(rows.data()),
              static_cast<uLong>(rows.size()), 1);
    packed.resize(size - 4); // the stream goes on
    return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", ihdr) + PngChunk("IDAT", packed);
}
// The peak of this process's resident memory, in kB.
long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace

TEST(Thumbnails, FilesOfAnyKindFailTheirThumbnailAloneAndWithinBoundedMemory) {
    TempFolder folder("korvane-thumbnails");
    const auto refused = [&](const std::string& path) {
        try {
            WriteThumbnail(path, path + ".jpg");
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("made a thumbnail");
    };
    // A bitmap's header claiming 2^31-1 columns.
    const std::string wide =
        folder.Put("wide.bmp", "BM" + Le32(54) + Le32(0) + Le32(54) + Le32(40) + Le32(0x7FFFFFFF) + Le32(1) +
                                   std::string("\x01\x00\x18\x00", 4) + std::string(24, '\0'));
    EXPECT_NE(refused(wide).find("2147483647 x 1 pixels is larger than 16384 x 131072"), std::string::npos)
        << refused(wide);
    // A JPEG whose header claims 65500 x 65500.
    {
        TBitmap small;
        small.SetPixelFormat(TPixelFormat::pf24bit);
        small.SetSize(16, 16);
        TJPEGImage picture;
        picture.TakeBitmap(std::move(small));
        picture.SaveToFile(folder.Path("large.jpg"));
        std::fstream file(folder.Path("large.jpg"), std::ios::in | std::ios::out | std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const auto sof = all.find("\xFF\xC0");
        ASSERT_NE(sof, std::string::npos);
        file.seekp(static_cast<std::streamoff>(sof + 5));
        file.write("\xFF\xDC\xFF\xDC", 4);
    }
    EXPECT_NE(refused(folder.Path("large.jpg")).find("65500 x 65500 pixels is larger"), std::string::npos)
        << refused(folder.Path("large.jpg"));
    // A PNG as large as a capture may be, cut short: read a row at a time, it fails where it ends.
    const std::string cut = folder.Put("cut.png", PngStart(16384, 24414));
    const pid_t child = ::fork();
    if (child == 0) {
        const long before = PeakResidentKb();
        const bool failed = refused(cut).find("cut.png") != std::string::npos;
        ::_exit(failed ? (PeakResidentKb() - before < 64 * 1024 ? 0 : 2) : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "1: the cut PNG made a thumbnail; 2: it took 64 MB or more: " << status;
    // A named pipe (as a manifest may name) is not waited on.
    const std::string fifo = folder.Path("page.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_NE(refused(fifo).find("not a regular file"), std::string::npos) << refused(fifo);
}

namespace {

class Report : public ::testing::Test, public TToolProcess {
protected:
    using TToolProcess::Run; // not the test's own
    TTestHttpServer server;
    TempFolder folder{"korvane-report"};

    void SetUp() override {
        for (int i = 1; i <= 3; ++i)
            server.Route("/p" + std::to_string(i),
                         MakeResponse(200, "text/html",
                                      "<!DOCTYPE html><body style='margin:0;background:#" +
                                          std::string(i == 1   ? "c00"
                                                      : i == 2 ? "0a0"
                                                               : "00c") +
                                          "'><div style='height:" + std::to_string(300 * i) +
                                          "px'></div></body>"));
    }
};

// Run in the report page: throws (and so fails the capture) unless the page is as the test expects.
constexpr const char* kCheck = R"(
(async function () {
  const items = [...document.querySelectorAll('#pages > li')];
  if (items.length !== 5) throw new Error('entries: ' + items.length);
  const outcomes = items.map(li => li.dataset.outcome).join(',');
  if (outcomes !== 'failed,captured,captured,captured,captured') throw new Error('order: ' + outcomes);
  if (!/ERR_/.test(items[0].querySelector('.error').textContent)) throw new Error('no error shown');
  if (document.querySelector('img[src="x"]')) throw new Error('a URL became markup');
  const load = src => new Promise(done => {
    const img = new Image();
    img.onload = () => done(img.naturalWidth > 0 ? '' : src);
    img.onerror = () => done(src);
    img.src = src;
  });
  const links = [...document.querySelectorAll('a.thumb')].map(a => a.href);
  const thumbs = [...document.querySelectorAll('a.thumb img')].map(img => img.src);
  if (links.length !== 4 || thumbs.length !== 4) throw new Error('links: ' + links.length + ', ' + thumbs.length);
  const broken = (await Promise.all(links.concat(thumbs).map(load))).filter(Boolean);
  if (broken.length) throw new Error('do not resolve: ' + broken.join(' '));
  const filter = document.getElementById('filter');
  filter.value = '/p3';
  filter.dispatchEvent(new Event('input'));
  const shown = items.filter(li => !li.hidden).length;
  if (shown !== 1 || document.getElementById('shown').textContent !== '1') throw new Error('filtered: ' + shown);
  const sort = document.getElementById('sort');
  filter.value = '';
  sort.value = 'height';
  sort.dispatchEvent(new Event('change'));
  const first = document.querySelector('#pages > li');
  if (!/\/p3$/.test(first.dataset.url)) throw new Error('tallest first: ' + first.dataset.url);
})()
)";

} // namespace

TEST_F(Report, ThePageOfTheRunListsEveryPageFailedFirstAndItsLinksResolve) {
    const std::string images = folder.Path("images"), manifest = folder.Path("run.jsonl");
    const std::string report = folder.Path("report.html");
    std::filesystem::create_directories(images);
    const std::string markup = server.Url("/p2") + "?q=\"><img src=x>";
    const std::vector<std::string> pages{server.Url("/p1"), "http://127.0.0.1:1/refused", markup};
    std::vector<std::string> args{"-q",         "--delay", "0",        "--output", images,
                                  "--manifest", manifest,  "--report", report};
    args.insert(args.end(), pages.begin(), pages.end());
    const Outcome first = Run(args);
    EXPECT_EQ(first.status, 1) << first.err; // one page failed
    // A second run resumes with one more page: the report is of the whole manifest.
    args.push_back("--resume");
    args.push_back(server.Url("/p3"));
    args.push_back(server.Url("/p2"));
    const Outcome second = Run(args);
    EXPECT_EQ(second.status, 1) << second.err; // the refused page fails again
    const std::string html = Slurp(report);
    ASSERT_FALSE(html.empty());
    EXPECT_EQ(html.find("<img src=x>"), std::string::npos);
    EXPECT_EQ(html.find("http://"), html.find("http://127.0.0.1:1/refused")) << "failed first";

    const std::string check = folder.Path("check.js");
    std::ofstream(check) << kCheck;
    const Outcome looked = Run(
        {"-q", "--delay", "0", "--script-file", check, "-o", folder.Path("report.png"), "file://" + report});
    EXPECT_EQ(looked.status, 0) << looked.err;
    EXPECT_TRUE(DecodeImageFile(folder.Path("report.png")).Ok());
}

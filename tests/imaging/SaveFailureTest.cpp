// A save that fails half-way (the file-size limit is reached) leaves the previous file untouched and no
// partial or temporary file behind, for every format.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ImagingTestSupport.h"
#include "imaging/BmpWriter.h"
#include "imaging/JpegImage.h"
#include "imaging/PngGraphic.h"
#include "imaging/WebpImage.h"
#include "platform/Errors.h"

namespace korvane {
namespace {

using namespace korvane::test;

TBitmap Noisy(int width, int height) {
    return MakeRgbBitmap(width, height, [](int x, int y) {
        const std::uint32_t n = Noise(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 11);
        return Rgb{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                   static_cast<std::uint8_t>(n >> 16)};
    });
}

// Runs save in a child process whose files may not grow beyond limit bytes. Exit codes: 0 the save threw
// EWriteError with its text, 1 the save succeeded, 2 another error.
int SaveUnderFileSizeLimit(rlim_t limit, const std::function<void()>& save) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // write() then fails with EFBIG instead of killing the process
        const rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        int code = 1;
        try {
            save();
        } catch (const EWriteError& e) {
            code = std::string(e.what()) == "Error writing to the stream" ? 0 : 2;
        } catch (...) {
            code = 2;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

void ExpectOldFileKept(const std::string& format, const std::function<void(const std::string&)>& save) {
    SCOPED_TRACE(format);
    TempFolder folder;
    const std::string path = folder.Path("page." + format);
    const Bytes previous(1000, 0x5A);
    WriteBytes(path, previous);
    EXPECT_EQ(SaveUnderFileSizeLimit(200000, [&] { save(path); }), 0);
    EXPECT_EQ(ReadBytes(path), previous);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"page." + format}));

    // Without an old file nothing at all is left behind.
    const std::string fresh = folder.Path("new." + format);
    EXPECT_EQ(SaveUnderFileSizeLimit(200000, [&] { save(fresh); }), 0);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"page." + format}));

    // The same save with room enough succeeds and replaces the file.
    EXPECT_EQ(SaveUnderFileSizeLimit(RLIM_INFINITY, [&] { save(path); }), 1);
    EXPECT_NE(ReadBytes(path), previous);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"page." + format}));
}

TEST(SaveFailure, WriteFailureMidFileKeepsTheOldTargetForEveryFormat) {
    // 600,000 bytes of pixels, noise: no format gets below the limit; and more than two bands of the PNG
    // encoder's parallel compression, which then fails on a worker's watch.
    const TBitmap bitmap = Noisy(400, 500);
    ExpectOldFileKept("bmp", [&](const std::string& path) { bitmap.SaveToFile(path); });
    ExpectOldFileKept("png", [&](const std::string& path) {
        TPngGraphic png;
        png.CopyFrom(bitmap);
        png.WriteToFile(path);
    });
    ExpectOldFileKept("jpg", [&](const std::string& path) {
        TJPEGImage jpeg;
        jpeg.SetCompressionQuality(100);
        jpeg.Assign(bitmap);
        jpeg.SaveToFile(path);
    });
    ExpectOldFileKept("webp", [&](const std::string& path) { SaveWebpFile(bitmap, path, {}); });
}

} // namespace
} // namespace korvane

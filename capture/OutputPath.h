#pragma once
// Where a capture is written: a file-name stem made from the address, the output folder, the extension.
#include <string>
#include <string_view>

namespace korvane {

// The window offers the first three (their numbers are stored in its settings file).
enum class TSaveFormat { Bmp = 0, Jpg = 1, Png = 2, Webp = 3 };

// The address with each of / \ " * ? < > : | and each control character replaced by "_"; nothing else
// changes.
std::string UrlToFileName(std::string_view address);

// A stem longer than 100 bytes is cut at the last character boundary at or below 100 bytes and gets "~".
std::string LimitStem(std::string stem);

// The output folder with a trailing "/" when it names an existing folder, otherwise the fallback folder.
std::string OutputFolder(const std::string& chosen, const std::string& fallback);

const char* ExtensionOf(TSaveFormat format);

// folder + limited stem of the address + extension. A `number` of 2 or more gives the name of that number for
// an address whose name is already taken by another: the stem ends in "~<number>", cut first so that it stays
// within the 100-byte limit. A `tag` (one of several captures of the address, "-w375") ends the stem the same
// way, before the number.
std::string CapturePath(std::string_view address, const std::string& chosenFolder,
                        const std::string& fallback, TSaveFormat format, int number = 1,
                        std::string_view tag = {});

} // namespace korvane

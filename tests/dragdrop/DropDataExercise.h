#pragma once
// Runs every reader of dragged data over one block of bytes and checks what a reader may give back for any
// block: shared by the seeded random test and the libFuzzer target.
#include <string>
#include <string_view>

namespace korvane::test {

// Empty when every check held; otherwise what failed.
std::string ExerciseReaders(std::string_view block);

} // namespace korvane::test

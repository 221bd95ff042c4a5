// libFuzzer entry: every reader of dragged data over the fuzzer's input.
#include "../DropDataExercise.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string why = korvane::test::ExerciseReaders({reinterpret_cast<const char*>(data), size});
    if (!why.empty()) {
        std::fprintf(stderr, "reader check failed: %s\n", why.c_str());
        std::abort();
    }
    return 0;
}

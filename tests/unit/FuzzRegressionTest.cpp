#include <gtest/gtest.h>

#include <filesystem>

#include "../support/ChildProcess.h"
#include "../support/Files.h"
#include "../support/ScopedEnvironment.h"
#include "../support/TempHome.h"

// The fuzz targets of fuzz/targets.txt, compiled as plain functions here.
#define KELVANE_FUZZ_TARGET_ENTRY(name) int fuzz##name(const std::uint8_t*, std::size_t);
#include "FuzzTargets.inc"
#undef KELVANE_FUZZ_TARGET_ENTRY

namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

// Every seed and every kept finding of a target, run in a child so that a crash is a test
// failure naming the input, and process-wide state stays out of the runner.
void replay(const std::string& name, Target target) {
    std::size_t inputs = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        std::string folder = std::string(KELVANE_SOURCE_DIR) + "/fuzz/" + kind + "/" + name;
        if (!std::filesystem::is_directory(folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename() == ".keep") continue;
            std::string bytes = readFile(entry.path().string());
            int status = runInChild([&] {
                return target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            });
            EXPECT_EQ(status, 0) << entry.path();
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0u) << "no kept inputs for " << name;
}

}  // namespace

TEST(FuzzRegressions, KeptInputsOfEveryParserStillPass) {
    TempHome home;
    // The targets keep their scratch folders in the temporary directory; each child leaves its
    // own, so they go inside this test's home, which is removed afterwards.
    ScopedEnvironment environment{{"TMPDIR", home.path()}};
#define KELVANE_FUZZ_TARGET_ENTRY(name) replay(#name, fuzz##name);
#include "FuzzTargets.inc"
#undef KELVANE_FUZZ_TARGET_ENTRY
}

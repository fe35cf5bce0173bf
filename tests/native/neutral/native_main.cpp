// The native test programs' main: each test starts with a fresh platform layer
// in an empty temporary directory of its own (where the log file lives). No
// game address range here: these programs run only the layout-free sources.
#include "platform_control.h"
#include "scratch_directory.h"

#include <gtest/gtest.h>

namespace {

class ResetEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        testhost::ResetPlatform();
        testhost::EnterScratchDirectory();
    }
    void OnTestEnd(const testing::TestInfo&) override { testhost::LeaveScratchDirectory(); }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetEachTest);
    return RUN_ALL_TESTS();
}

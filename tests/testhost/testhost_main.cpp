// The test programs' main: every test starts with a clean game address range,
// a fresh platform layer and extender, in an empty temporary directory of its
// own as the current directory (where the log file lives).
#include "address_space.h"
#include "msvc_side.h"
#include "platform_control.h"
#include "scratch_directory.h"
#include "vm_side.h"

#include <gtest/gtest.h>

namespace {

class ResetEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        testhost::ResetHostRange();
        testhost::ResetPlatform();
        ExtenderReset();
        VmReset();
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

#include "dll_loader.h"
#include "dll_path.h"
#include "msvc_side.h"
#include "thread_block.h"
#include "windows_shims.h"

#include <gtest/gtest.h>

namespace {

TEST(Smoke, LoadsAndQueries) {
    std::string error;
    e2e::LoadedDll* dll =
        e2e::LoadDll(e2e::ShippedDllPath(), e2e::Placement::PreferredBase, &error);
    ASSERT_NE(dll, nullptr) << error;
    auto query = reinterpret_cast<ExtenderQueryFn>(
        const_cast<void*>(e2e::FindExport(*dll, "SKSEPlugin_Query")));
    ASSERT_NE(query, nullptr);
    ExtenderPluginInfo info{};
    EXPECT_TRUE(ExtenderCallQuery(query, 0x09200000, 0, &info));
    EXPECT_STREQ(info.pluginName, "quorvane");
    e2e::UnloadDll(dll);
}

} // namespace

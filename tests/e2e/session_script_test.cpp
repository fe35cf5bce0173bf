#include "session_script.h"

#include <gtest/gtest.h>

namespace {
using e2e::ParseScriptList;
using e2e::ScriptFunction;

TEST(ScriptList, KeepsTextArgumentsExactlyAndSkipsCommentsAndBlankLines) {
    e2e::ScriptList list = ParseScriptList("# greeting\n"
                                           "\n"
                                           "PrintMessage Hello 100%  \r\n"
                                           "  ExecuteCommand player.additem f 100\n"
                                           "PrintMessage\n"
                                           "SetSelectedReference  chest \n"
                                           "SetSelectedReference none\n"
                                           "GetSelectedReference\n"
                                           "GetVersion");
    EXPECT_TRUE(list.errors.empty());
    ASSERT_EQ(list.calls.size(), 7u);
    EXPECT_EQ(list.calls[0].function, ScriptFunction::PrintMessage);
    EXPECT_EQ(list.calls[0].argument, "Hello 100%  ");
    EXPECT_EQ(list.calls[0].line, 3);
    EXPECT_EQ(list.calls[1].argument, "player.additem f 100");
    EXPECT_EQ(list.calls[2].argument, ""); // an empty text, which prints nothing
    EXPECT_EQ(list.calls[3].argument, "chest");
    EXPECT_EQ(list.calls[4].argument, "none");
    EXPECT_EQ(list.calls[5].function, ScriptFunction::GetSelectedReference);
    EXPECT_EQ(list.calls[6].function, ScriptFunction::GetVersion);
}

TEST(ScriptList, NamesEveryBadLineAndKeepsNoCallOfIt) {
    e2e::ScriptList list = ParseScriptList("printmessage lower case\n"
                                           "GetVersion 3\n"
                                           "SetSelectedReference dragon\n"
                                           "SetSelectedReference\n"
                                           "GetVersion\n");
    ASSERT_EQ(list.errors.size(), 4u);
    EXPECT_EQ(list.errors[0].rfind("line 1: unknown function \"printmessage\"", 0), 0u);
    EXPECT_EQ(list.errors[1], "line 2: GetVersion takes no argument");
    EXPECT_EQ(list.errors[2].rfind("line 3: no reference \"dragon\"", 0), 0u);
    EXPECT_EQ(list.errors[3].rfind("line 4: no reference \"\"", 0), 0u);
    ASSERT_EQ(list.calls.size(), 1u);
    EXPECT_EQ(list.calls[0].line, 5);
}

} // namespace

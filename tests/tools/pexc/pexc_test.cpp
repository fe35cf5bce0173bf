// Tests of pexc, the declaration compiler (tools/pexc): what it writes is read back with the
// tests' own reader (pex_reader.h) and compared with declarations written out by hand here.
#include "compile.h"
#include "error.h"
#include "pex_reader.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using pexc_test::FunctionDecl;
using pexc_test::ParamDecl;
using pexc_test::PexFile;
using pexc_test::ScriptDecl;

namespace {

constexpr std::uint64_t kGoldenTime = 1704067200; // 2024-01-01T00:00:00Z

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_text(const fs::path& path) {
    std::vector<std::uint8_t> bytes = read_bytes(path);
    return {bytes.begin(), bytes.end()};
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    ASSERT_TRUE(out) << "cannot write " << path;
}

std::vector<fs::path> files_in(const fs::path& dir) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder for one test, removed afterwards.
struct TempDir {
    TempDir() {
        std::random_device random;
        path = fs::temp_directory_path() /
               ("pexc-test-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path operator/(const std::string& name) const { return path / name; }

    fs::path path;
};

FunctionDecl fn(std::string name, std::string return_type, std::vector<ParamDecl> params,
                std::string doc = "") {
    FunctionDecl function;
    function.name = std::move(name);
    function.return_type = std::move(return_type);
    function.params = std::move(params);
    function.doc = std::move(doc);
    return function;
}

ScriptDecl script(std::string name, std::string parent, bool hidden, bool conditional,
                  std::string doc, std::vector<FunctionDecl> functions) {
    ScriptDecl decl;
    decl.name = std::move(name);
    decl.parent = std::move(parent);
    decl.hidden = hidden;
    decl.conditional = conditional;
    decl.doc = std::move(doc);
    decl.functions = std::move(functions);
    return decl;
}

// Compiles source as NAME.psc and reads the result back.
PexFile compile_and_read(const std::string& source, const std::string& file_name,
                         std::uint64_t time = 0) {
    return pexc_test::read_pex(pexc::compile_source(source, file_name, time));
}

// ---------------------------------------------------------------------------------------------
// Round trips: the declarations that come out are exactly those that went in.

struct RoundTripCase {
    std::string name; // the test's name, and the script's
    std::string source;
    ScriptDecl expected;
};

void PrintTo(const RoundTripCase& c, std::ostream* out) {
    *out << c.name;
}

RoundTripCase many_functions_case() {
    // 300 functions with every built-in type, arrays, object types and 0 to 4 parameters.
    const std::vector<std::pair<std::string, std::string>> types = {
        {"String", "String"}, {"int", "Int"},     {"FLOAT", "Float"},   {"bool", "Bool"},
        {"Actor", "Actor"},   {"int[]", "Int[]"}, {"Form[]", "Form[]"}, {"string [ ]", "String[]"}};
    RoundTripCase c{"ManyFunctions", "Scriptname ManyFunctions\n", {}};
    c.expected.name = "ManyFunctions";
    for (int i = 0; i < 300; ++i) {
        FunctionDecl function;
        function.name = "Function_" + std::to_string(i);
        std::string line;
        if (i % 9 == 0) {
            function.return_type = "None";
        } else {
            const auto& [spelled, canonical] = types[static_cast<std::size_t>(i) % types.size()];
            line += spelled + " ";
            function.return_type = canonical;
        }
        line += "Function " + function.name + "(";
        for (int p = 0; p < i % 5; ++p) {
            const auto& [spelled, canonical] =
                types[static_cast<std::size_t>(i + p * 3) % types.size()];
            std::string param = "arg" + std::to_string(p);
            line += (p ? ", " : "") + spelled + " " + param;
            function.params.push_back({param, canonical});
        }
        line += i % 2 ? ") Global Native\n" : ") Native Global\n";
        c.source += line;
        c.expected.functions.push_back(function);
    }
    return c;
}

std::vector<RoundTripCase> round_trip_cases() {
    std::vector<RoundTripCase> cases = {
        {"NoFunctions", "Scriptname NoFunctions\n",
         script("NoFunctions", "", false, false, "", {})},
        {"NoFunctionsNoNewline", "Scriptname NoFunctionsNoNewline",
         script("NoFunctionsNoNewline", "", false, false, "", {})},
        {"Arrays",
         "Scriptname Arrays\n"
         "String[] Function Names(Int[] ids, Float[] weights, Bool[] flags) Global Native\n"
         "Actor[] Function Crowd(ObjectReference[] refs) Global Native\n"
         "Function Spaced(String [ ] spaced) Global Native\n",
         script("Arrays", "", false, false, "",
                {fn("Names", "String[]",
                    {{"ids", "Int[]"}, {"weights", "Float[]"}, {"flags", "Bool[]"}}),
                 fn("Crowd", "Actor[]", {{"refs", "ObjectReference[]"}}),
                 fn("Spaced", "None", {{"spaced", "String[]"}})})},
        {"ObjectTypes",
         "Scriptname ObjectTypes\n"
         "ObjectReference Function Find(Form base, Actor near) Global Native\n"
         "Function Use(Quest owner, MagicEffect effect, ObjectTypes self_type) Global Native\n",
         script(
             "ObjectTypes", "", false, false, "",
             {fn("Find", "ObjectReference", {{"base", "Form"}, {"near", "Actor"}}),
              fn("Use", "None",
                 {{"owner", "Quest"}, {"effect", "MagicEffect"}, {"self_type", "ObjectTypes"}})})},
        {"AllBuiltinTypes",
         "Scriptname AllBuiltinTypes\n"
         "String Function S(String s) Global Native\n"
         "Int Function I(Int i) Global Native\n"
         "Float Function F(Float f) Global Native\n"
         "Bool Function B(Bool b) Global Native\n"
         "Function N() Global Native\n",
         script("AllBuiltinTypes", "", false, false, "",
                {fn("S", "String", {{"s", "String"}}), fn("I", "Int", {{"i", "Int"}}),
                 fn("F", "Float", {{"f", "Float"}}), fn("B", "Bool", {{"b", "Bool"}}),
                 fn("N", "None", {})})},
        {"ExtendsQuest", "Scriptname ExtendsQuest extends Quest\n",
         script("ExtendsQuest", "Quest", false, false, "", {})},
        {"BothFlags", "Scriptname BothFlags Hidden Conditional\n",
         script("BothFlags", "", true, true, "", {})},
        {"BothFlagsReversed",
         "scriptname BothFlagsReversed extends ObjectReference conditional HIDDEN\n",
         script("BothFlagsReversed", "ObjectReference", true, true, "", {})},
        {"OnlyConditional", "Scriptname OnlyConditional extends Actor Conditional\n",
         script("OnlyConditional", "Actor", false, true, "", {})},
        {"OnlyHidden", "Scriptname OnlyHidden Hidden\n",
         script("OnlyHidden", "", true, false, "", {})},
        {"DocComments",
         "Scriptname DocComments\n"
         "{ The script's documentation,\n"
         "  on two lines. }\n"
         "; a line comment between declarations\n"
         "Int Function Count() Global Native\n"
         "\n"
         "; comments and blank lines may stand between a declaration and its documentation\n"
         "{Counts things.}\n"
         "Function Plain() Global Native\n"
         "Function Documented() Global Native\n"
         "{Braces {do not nest; and ; inside is text}\n"
         "Function EmptyDoc() Global Native\n"
         "{}\n",
         script("DocComments", "", false, false, "The script's documentation,\n  on two lines.",
                {fn("Count", "Int", {}, "Counts things."), fn("Plain", "None", {}),
                 fn("Documented", "None", {}, "Braces {do not nest; and ; inside is text"),
                 fn("EmptyDoc", "None", {})})},
        {"AnyCase",
         "SCRIPTNAME AnyCase EXTENDS quest HIDDEN\n"
         "string FUNCTION Shout(INT times, bool[] Loudly, objectreference target) NATIVE GLOBAL\n"
         "fUnCtIoN Whisper() gLoBaL nAtIvE\n"
         "float[] function Measure(Float unit) native global\n",
         script("AnyCase", "quest", true, false, "",
                {fn("Shout", "String",
                    {{"times", "Int"}, {"Loudly", "Bool[]"}, {"target", "objectreference"}}),
                 fn("Whisper", "None", {}), fn("Measure", "Float[]", {{"unit", "Float"}})})},
        {"Layout",
         "\xEF\xBB\xBFScriptname Layout ; a byte order mark, CRLF, tabs and trailing comments\r\n"
         "\r\n"
         "\tInt\tFunction  Tabbed ( Int a ,Int b )Global Native ; note {not a doc}\r\n"
         "  {Documentation with CRLF\r\n  line two}  ; and a comment\r\n"
         "Function Last() Global Native",
         script("Layout", "", false, false, "",
                {fn("Tabbed", "Int", {{"a", "Int"}, {"b", "Int"}},
                    "Documentation with CRLF\n  line two"),
                 fn("Last", "None", {})})},
        {"SharedStrings",
         "Scriptname SharedStrings\n"
         "{text}\n"
         "String Function Echo(String echo, String text) Global Native\n"
         "{text}\n"
         "Function Again(String text, Int Echo2) Global Native\n",
         script("SharedStrings", "", false, false, "text",
                {fn("Echo", "String", {{"echo", "String"}, {"text", "String"}}, "text"),
                 fn("Again", "None", {{"text", "String"}, {"Echo2", "Int"}})})},
        {"Underscores",
         "Scriptname Underscores\n"
         "_Type Function _lead(_Type _x1, Int a_2_b) Global Native\n",
         script("Underscores", "", false, false, "",
                {fn("_lead", "_Type", {{"_x1", "_Type"}, {"a_2_b", "Int"}})})},
    };
    cases.push_back(many_functions_case());
    return cases;
}

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, DeclarationsComeBackUnchanged) {
    const RoundTripCase& c = GetParam();
    PexFile file = compile_and_read(c.source, c.name + ".psc", 1234);
    EXPECT_EQ(file.script, c.expected);
    EXPECT_EQ(file.source_file_name, c.name + ".psc");
    EXPECT_EQ(file.compilation_time, 1234u);
}

INSTANTIATE_TEST_SUITE_P(Scripts, RoundTrip, testing::ValuesIn(round_trip_cases()),
                         [](const auto& info) { return info.param.name; });

ScriptDecl ulvaric_declarations() {
    return script("Ulvaric", "", true, false,
                  "Console access for scripts, provided by the Quorvane plugin (Quorvane.dll).",
                  {fn("PrintMessage", "None", {{"text", "String"}}),
                   fn("ExecuteCommand", "None", {{"command", "String"}}),
                   fn("SetSelectedReference", "None", {{"reference", "ObjectReference"}}),
                   fn("GetSelectedReference", "ObjectReference", {}), fn("GetVersion", "Int", {})});
}

TEST(Ulvaric, OurScriptComesBackUnchanged) {
    PexFile file = compile_and_read(read_text(QUORVANE_SCRIPT_SOURCE), "Ulvaric.psc", 0);
    EXPECT_EQ(file.script, ulvaric_declarations());
}

TEST(Ulvaric, HeaderHoldsTheFormatsFixedFields) {
    PexFile file = compile_and_read(read_text(QUORVANE_SCRIPT_SOURCE), "Ulvaric.psc", 42);
    EXPECT_EQ(file.major_version, 3);
    EXPECT_EQ(file.minor_version, 2);
    EXPECT_EQ(file.game_id, 1);
    EXPECT_EQ(file.compilation_time, 42u);
    EXPECT_EQ(file.source_file_name, "Ulvaric.psc");
    EXPECT_EQ(file.user_name, "quorvane");
    EXPECT_EQ(file.machine_name, "pexc");
    std::vector<std::pair<std::string, std::uint8_t>> flags = {{"hidden", 0}, {"conditional", 1}};
    EXPECT_EQ(file.user_flags, flags);
}

TEST(Ulvaric, CompilesThroughTheCommandLine) {
    TempDir dir;
    std::string command = "SOURCE_DATE_EPOCH=0 '" PEXC_EXECUTABLE "' '" QUORVANE_SCRIPT_SOURCE
                          "' '" +
                          (dir / "Ulvaric.pex").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    PexFile file = pexc_test::read_pex(read_bytes(dir / "Ulvaric.pex"));
    EXPECT_EQ(file.script, ulvaric_declarations());
    EXPECT_EQ(file.compilation_time, 0u);
}

// ---------------------------------------------------------------------------------------------
// Exact bytes.

// The smallest script, assembled by hand from the format's description.
TEST(Bytes, SmallestScriptMatchesTheFormatByHand) {
    const std::vector<std::uint8_t> expected = {
        0xFA, 0x57, 0xC0, 0xDE,                                   // magic
        3,    2,                                                  // version 3.2
        0x00, 0x01,                                               // game id 1
        0,    0,    0,    0,    0x12, 0x34, 0x56, 0x78,           // compilation time 0x12345678
        0x00, 0x05, 'A',  '.',  'p',  's',  'c',                  // source file name
        0x00, 0x08, 'q',  'u',  'o',  'r',  'v',  'a',  'n', 'e', // user name
        0x00, 0x04, 'p',  'e',  'x',  'c',                        // machine name
        0x00, 0x04,                                               // 4 strings:
        0x00, 0x06, 'h',  'i',  'd',  'd',  'e',  'n',            //   0 hidden
        0x00, 0x0B, 'c',  'o',  'n',  'd',  'i',  't',  'i', 'o', 'n', 'a', 'l', // 1 conditional
        0x00, 0x01, 'A',                                                         //   2 A
        0x00, 0x00,                                                              //   3 ""
        0x00,                   // no debug information
        0x00, 0x02,             // 2 user flags:
        0x00, 0x00, 0x00,       //   hidden, bit 0
        0x00, 0x01, 0x01,       //   conditional, bit 1
        0x00, 0x01,             // 1 object:
        0x00, 0x02,             //   name A
        0x00, 0x00, 0x00, 0x18, //   size 24 = 20 bytes of data + 4
        0x00, 0x03,             //   parent ""
        0x00, 0x03,             //   documentation ""
        0x00, 0x00, 0x00, 0x02, //   user flags: Conditional
        0x00, 0x03,             //   auto state ""
        0x00, 0x00,             //   0 variables
        0x00, 0x00,             //   0 properties
        0x00, 0x01,             //   1 state:
        0x00, 0x03,             //     name ""
        0x00, 0x00,             //     0 functions
    };
    EXPECT_EQ(pexc::compile_source("Scriptname A Conditional\n", "A.psc", 0x12345678), expected);
}

// One function, to pin the function layout by hand as well.
TEST(Bytes, OneFunctionMatchesTheFormatByHand) {
    std::vector<std::uint8_t> bytes =
        pexc::compile_source("Scriptname B\nInt Function F(String s) Global Native\n", "B.psc", 0);
    // Strings: 0 hidden, 1 conditional, 2 B, 3 "", 4 F, 5 Int, 6 s, 7 String.
    const std::vector<std::uint8_t> object = {
        0x00, 0x01,             // 1 object:
        0x00, 0x02,             //   name B
        0x00, 0x00, 0x00, 0x2D, //   size 45 = 20 + 21 bytes of data + 4
        0x00, 0x03, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, // parent, doc, flags, auto
        0x00, 0x00, 0x00, 0x00,                                     //   no variables, no properties
        0x00, 0x01, 0x00, 0x03,                                     //   1 state, named ""
        0x00, 0x01,                                                 //   1 function:
        0x00, 0x04,                                                 //     name F
        0x00, 0x05,                                                 //     returns Int
        0x00, 0x03,                                                 //     documentation ""
        0x00, 0x00, 0x00, 0x00,                                     //     user flags
        0x03,                                                       //     global | native
        0x00, 0x01,                                                 //     1 parameter:
        0x00, 0x06, 0x00, 0x07,                                     //       s, String
        0x00, 0x00,                                                 //     0 locals
        0x00, 0x00,                                                 //     0 instructions
    };
    ASSERT_GE(bytes.size(), object.size());
    std::vector<std::uint8_t> tail(bytes.end() - static_cast<std::ptrdiff_t>(object.size()),
                                   bytes.end());
    EXPECT_EQ(tail, object);
    std::vector<std::string> strings = {"hidden", "conditional", "B", "",
                                        "F",      "Int",         "s", "String"};
    EXPECT_EQ(pexc_test::read_pex(bytes).strings, strings);
}

// The golden file: the exact bytes for golden/Golden.psc, checked in so that any change in the
// writer's output shows. After a deliberate change of the output, rewrite it with
//   PEXC_UPDATE_GOLDEN=1 build/native/tests/tools/pexc/pexc_tests --gtest_filter='Golden.*'
// and review the difference.
TEST(Golden, WriterOutputMatchesTheGoldenFile) {
    const fs::path dir = PEXC_GOLDEN_DIR;
    std::vector<std::uint8_t> bytes =
        pexc::compile_source(read_text(dir / "Golden.psc"), "Golden.psc", kGoldenTime);
    if (const char* update = std::getenv("PEXC_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(dir / "Golden.pex", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        GTEST_SKIP() << "rewrote " << (dir / "Golden.pex");
    }
    EXPECT_EQ(bytes, read_bytes(dir / "Golden.pex"));
}

TEST(Golden, GoldenFileHoldsTheGoldenDeclarations) {
    PexFile file = pexc_test::read_pex(read_bytes(fs::path(PEXC_GOLDEN_DIR) / "Golden.pex"));
    EXPECT_EQ(file.script,
              script("Golden", "Quest", true, true, "A small script for the golden test.",
                     {fn("Add", "Int", {{"a", "Int"}, {"b", "Int"}}, "Adds a and b."),
                      fn("Show", "None", {{"lines", "String[]"}, {"target", "ObjectReference"}})}));
    EXPECT_EQ(file.compilation_time, kGoldenTime);
    EXPECT_EQ(file.source_file_name, "Golden.psc");
}

TEST(Golden, CommandLineWritesTheGoldenBytes) {
    TempDir dir;
    std::string command = "SOURCE_DATE_EPOCH=" + std::to_string(kGoldenTime) +
                          " '" PEXC_EXECUTABLE "' '" PEXC_GOLDEN_DIR "/Golden.psc' '" +
                          (dir / "Golden.pex").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_bytes(dir / "Golden.pex"), read_bytes(fs::path(PEXC_GOLDEN_DIR) / "Golden.pex"));
}

// ---------------------------------------------------------------------------------------------
// The string table's limit: 65535 strings fit, one more is an error at the line that adds it.

// The script's strings before any function name: hidden, conditional, the script name, "" and,
// with the first function, None. Each further function of this form adds only its name.
constexpr int kStringsBeforeFunctionNames = 5;

std::string script_with_functions(const std::string& name, int count) {
    std::string source = "Scriptname " + name + "\n";
    for (int i = 0; i < count; ++i) {
        source += "Function F" + std::to_string(i) + "() Global Native\n";
    }
    return source;
}

TEST(StringLimit, ExactlyMaxStringsFit) {
    const int functions = 65535 - kStringsBeforeFunctionNames;
    PexFile file = compile_and_read(script_with_functions("Full", functions), "Full.psc");
    EXPECT_EQ(file.strings.size(), 65535u);
    ASSERT_EQ(file.script.functions.size(), static_cast<std::size_t>(functions));
    EXPECT_EQ(file.script.functions.back().name, "F" + std::to_string(functions - 1));
}

// ---------------------------------------------------------------------------------------------
// Bad sources: each gives FILE:LINE: expected ..., and leaves no output file.

struct BadCase {
    std::string name;
    std::string source; // compiled as Bad.psc
    int line;
    std::string message;
};

void PrintTo(const BadCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<BadCase> bad_cases() {
    const int too_many_functions = 65535 - kStringsBeforeFunctionNames + 1;
    return {
        // The table.
        {"MissingScriptname", "; no Scriptname\nFunction F() Global Native\n", 2,
         "expected the Scriptname line before any other declaration, found 'Function'"},
        {"EmptyFile", "", 1, "expected a Scriptname line, found the end of the file"},
        {"OnlyComments", "; nothing\n\n; here\n", 3,
         "expected a Scriptname line, found the end of the file"},
        {"TwoScriptnames", "Scriptname Bad\nFunction F() Global Native\nScriptname Bad\n", 3,
         "expected one Scriptname line, found a second one (the first is on line 1)"},
        {"UnknownKeywordEvent", "Scriptname Bad\n\nEvent OnInit()\n", 3,
         "expected Scriptname, Function or a return type at the start of a declaration, found "
         "'Event' (only global native functions can be declared)"},
        {"UnknownKeywordProperty", "Scriptname Bad\nProperty Count Auto\n", 2,
         "expected Scriptname, Function or a return type at the start of a declaration, found "
         "'Property' (only global native functions can be declared)"},
        {"UnknownWord", "Scriptname Bad\nFrobnicate Everything\n", 2,
         "expected a declaration (Scriptname, or [TYPE] Function NAME(...) Global Native), found "
         "'Frobnicate'"},
        {"TypedProperty", "Scriptname Bad\nInt Property Count Auto\n", 2,
         "expected Function after the return type 'Int', found 'Property'"},
        {"UnknownScriptFlag", "Scriptname Bad Hiden\n", 1,
         "expected extends, Hidden, Conditional or the end of the line after the script name, "
         "found 'Hiden'"},
        {"UnknownFunctionFlag", "Scriptname Bad\nFunction F() Global Native DebugOnly\n", 2,
         "expected the end of the line after Global Native, found 'DebugOnly'"},
        {"WithoutNative", "Scriptname Bad\n\nFunction F() Global\n", 3,
         "expected Native after the parameter list, found the end of the line (only native "
         "functions can be declared: a function with a body is not supported)"},
        {"WithoutNativeAtEndOfFile", "Scriptname Bad\nFunction F() Global", 2,
         "expected Native after the parameter list, found the end of the file (only native "
         "functions can be declared: a function with a body is not supported)"},
        {"WithoutGlobal", "Scriptname Bad\nFunction F() Native\n", 2,
         "expected Global after the parameter list, found the end of the line (only global "
         "native functions can be declared)"},
        {"WithoutFlags", "Scriptname Bad\nInt Function F()\n  Return 1\nEndFunction\n", 2,
         "expected Native after the parameter list, found the end of the line (only native "
         "functions can be declared: a function with a body is not supported)"},
        {"Body", "Scriptname Bad\nFunction F() Global Native\nEndFunction\n", 3,
         "expected a declaration, found 'EndFunction' (a native function has no body)"},
        {"UnterminatedDoc",
         "Scriptname Bad\nFunction F() Global Native\n{Started here\nnever ended\n", 3,
         "expected '}' to close the documentation comment that starts on this line, found the end "
         "of the file"},
        {"ParameterWithoutName", "Scriptname Bad\nFunction F(String) Global Native\n", 2,
         "expected a parameter name after the type 'String', found ')'"},
        {"SecondParameterWithoutName",
         "Scriptname Bad\nFunction F(String a, Int[]) Global Native\n", 2,
         "expected a parameter name after the type 'Int[]', found ')'"},
        {"TooManyStrings", script_with_functions("Bad", too_many_functions), 1 + too_many_functions,
         "expected at most 65535 distinct strings in the compiled script, found more (this "
         "declaration brings string number 65536)"},
        // Further mistakes.
        {"DocTooLong", "Scriptname Bad\n{" + std::string(70000, 'x') + "}\n", 2,
         "expected a documentation comment of at most 65535 bytes, found 70000 bytes"},
        {"NameTooLong",
         "Scriptname Bad\nFunction F" + std::string(65535, 'x') + "() Global Native\n", 2,
         "expected a name of at most 65535 bytes, found 65536 bytes"},
        {"DuplicateFunction",
         "Scriptname Bad\nFunction Foo() Global Native\nFunction FOO() Global Native\n", 3,
         "expected a function name not declared before, found 'FOO' (declared on line 2)"},
        {"DuplicateParameter", "Scriptname Bad\nFunction F(Int a,\tString A) Global Native\n", 2,
         "expected a parameter name not used before in this function, found 'A' again"},
        {"ArrayOfArrays", "Scriptname Bad\nFunction F(Int[][] grid) Global Native\n", 2,
         "expected one [] after the type 'Int[]' (there are no arrays of arrays), found '['"},
        {"UnclosedBracket", "Scriptname Bad\nFunction F(Int[ a) Global Native\n", 2,
         "expected ']' after 'Int[', found 'a'"},
        {"NoneReturnType", "Scriptname Bad\nNone Function F() Global Native\n", 2,
         "expected a return type, found 'None' (None is no type: a function without a result has "
         "no type before Function)"},
        {"NoneParameterType", "Scriptname Bad\nFunction F(None x) Global Native\n", 2,
         "expected a parameter type, found 'None' (None is no type)"},
        {"KeywordAsFunctionName", "Scriptname Bad\nFunction Native() Global Native\n", 2,
         "expected a function name after Function, found the keyword 'Native'"},
        {"KeywordAsParameterName", "Scriptname Bad\nFunction F(Int length) Global Native\n", 2,
         "expected a parameter name after the type 'Int', found the keyword 'length'"},
        {"DigitStartsName", "Scriptname Bad\nFunction 9Lives() Global Native\n", 2,
         "expected a function name after Function (a name starts with a letter or '_'), found "
         "'9Lives'"},
        {"DefaultValue", "Scriptname Bad\nFunction F(Int a = 5) Global Native\n", 2,
         "expected ',' or ')' after the parameter 'a', found '='"},
        {"MissingParenthesis", "Scriptname Bad\nFunction F Global Native\n", 2,
         "expected '(' after the function name 'F', found 'Global'"},
        {"NonAsciiName", "Scriptname Bad\nFunction F\xC3\xA9() Global Native\n", 2,
         "expected '(' after the function name 'F', found the byte 0xC3"},
        {"GlobalTwice", "Scriptname Bad\nFunction F() Global Global Native\n", 2,
         "expected Global and Native once each, found 'Global' a second time"},
        {"HiddenTwice", "Scriptname Bad Hidden hidden\n", 1,
         "expected Hidden and Conditional at most once each, found 'hidden' a second time"},
        {"ExtendsAfterFlags", "Scriptname Bad Hidden extends Quest\n", 1,
         "expected extends, Hidden, Conditional or the end of the line after the script name, "
         "found 'extends'"},
        {"ExtendsItself", "Scriptname Bad extends bad\n", 1,
         "expected a parent script other than the script itself, found 'bad'"},
        {"ExtendsNothing", "Scriptname Bad extends\n", 1,
         "expected a parent script name after extends, found the end of the line"},
        {"ScriptnameWithoutName", "Scriptname\n", 1,
         "expected a script name after Scriptname, found the end of the line"},
        {"NameDoesNotMatchFile", "Scriptname Other\n", 1,
         "expected the script name to match the file name 'Bad.psc', found 'Other'"},
        {"DocBeforeScriptname", "{About}\nScriptname Bad\n", 1,
         "expected the Scriptname line, found a { } documentation comment (a documentation "
         "comment goes right after the declaration it documents)"},
        {"SecondDoc", "Scriptname Bad\n{One}\n{Two}\n", 3,
         "expected a declaration, found a { } documentation comment that follows no declaration "
         "(one goes right after the Scriptname line or a function declaration, one per "
         "declaration)"},
        {"CodeAfterDoc", "Scriptname Bad\n{About} Function F() Global Native\n", 2,
         "expected the end of the line after the documentation comment, found 'Function'"},
        {"DocOnDeclarationLine", "Scriptname Bad\nFunction F() Global Native {About}\n", 2,
         "expected the end of the line after Global Native, found a { } documentation comment"},
        {"BlockComment", "Scriptname Bad\n;/ a block\ncomment /;\n", 2,
         "expected a ; line comment, found ;/ (;/ ... /; block comments are not supported)"},
        {"LineContinuation", "Scriptname Bad\nFunction F(Int a, \\\n Int b) Global Native\n", 2,
         "expected a parameter type, found '\\'"},
        {"Import", "Scriptname Bad\nImport Debug\n", 2,
         "expected Scriptname, Function or a return type at the start of a declaration, found "
         "'Import' (only global native functions can be declared)"},
        {"StrayParenthesis", "Scriptname Bad\n(\n", 2, "expected a declaration, found '('"},
    };
}

class BadSource : public testing::TestWithParam<BadCase> {};

TEST_P(BadSource, GivesItsErrorWithTheLine) {
    const BadCase& c = GetParam();
    try {
        pexc::compile_source(c.source, "Bad.psc", 0);
        FAIL() << "compiled without an error";
    } catch (const pexc::CompileError& error) {
        EXPECT_EQ(pexc::format_error("Bad.psc", error),
                  "Bad.psc:" + std::to_string(c.line) + ": " + c.message);
    }
}

TEST_P(BadSource, LeavesNoOutputFile) {
    const BadCase& c = GetParam();
    TempDir dir;
    write_text(dir / "Bad.psc", c.source);
    EXPECT_THROW(pexc::compile_file(dir / "Bad.psc", dir / "Bad.pex", "0"), pexc::CompileError);
    EXPECT_EQ(files_in(dir.path), std::vector<fs::path>{"Bad.psc"});
}

INSTANTIATE_TEST_SUITE_P(Sources, BadSource, testing::ValuesIn(bad_cases()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// Reproducible output: the compilation time and nothing of the build machine.

TEST(CompilationTime, ComesFromSourceDateEpochWhenSet) {
    TempDir dir;
    write_text(dir / "A.psc", "Scriptname A\n");
    EXPECT_EQ(pexc::compilation_time("0", dir / "A.psc"), 0u);
    EXPECT_EQ(pexc::compilation_time("1704067200", dir / "A.psc"), 1704067200u);
    EXPECT_EQ(pexc::compilation_time("18446744073709551615", dir / "A.psc"), 18446744073709551615u);
    // SOURCE_DATE_EPOCH wins even when the source does not exist.
    EXPECT_EQ(pexc::compilation_time("7", dir / "missing.psc"), 7u);
}

TEST(CompilationTime, MalformedSourceDateEpochIsAnError) {
    for (const char* bad : {"abc", "-5", "12a", " 12", "1.5", "18446744073709551616"}) {
        try {
            pexc::compilation_time(bad, "unused.psc");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const pexc::ToolError& error) {
            EXPECT_EQ(std::string(error.what()),
                      std::string("pexc: SOURCE_DATE_EPOCH: expected a whole number of seconds "
                                  "since 1970 (0 to 18446744073709551615), found '") +
                          bad + "'");
        }
    }
}

void set_mtime(const fs::path& path, std::int64_t seconds) {
    fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                  std::chrono::sys_seconds(std::chrono::seconds(seconds))));
}

TEST(CompilationTime, ComesFromTheSourcesModificationTimeOtherwise) {
    TempDir dir;
    write_text(dir / "A.psc", "Scriptname A\n");
    set_mtime(dir / "A.psc", 1600000000);
    EXPECT_EQ(pexc::compilation_time(nullptr, dir / "A.psc"), 1600000000u);
    EXPECT_EQ(pexc::compilation_time("", dir / "A.psc"), 1600000000u); // empty counts as unset
    set_mtime(dir / "A.psc", -100);
    EXPECT_EQ(pexc::compilation_time(nullptr, dir / "A.psc"), 0u);
}

TEST(Reproducible, SameSourceGivesTheSameBytes) {
    TempDir dir;
    write_text(dir / "Ulvaric.psc", read_text(QUORVANE_SCRIPT_SOURCE));
    set_mtime(dir / "Ulvaric.psc", 1650000000);
    pexc::compile_file(dir / "Ulvaric.psc", dir / "one.pex", nullptr);
    pexc::compile_file(dir / "Ulvaric.psc", dir / "two.pex", nullptr);
    EXPECT_EQ(read_bytes(dir / "one.pex"), read_bytes(dir / "two.pex"));
    EXPECT_EQ(pexc_test::read_pex(read_bytes(dir / "one.pex")).compilation_time, 1650000000u);
}

// ---------------------------------------------------------------------------------------------
// The command line.

struct PexcRun {
    int exit_code;
    std::string err;
};

PexcRun run_pexc(const TempDir& dir, const std::string& env, const std::string& args) {
    std::string command =
        env + " '" PEXC_EXECUTABLE "' " + args + " 2>'" + (dir / "stderr.txt").string() + "'";
    int status = std::system(command.c_str());
    PexcRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_text(dir / "stderr.txt")};
    fs::remove(dir / "stderr.txt");
    return run;
}

TEST(CommandLine, CompilesWithExitZeroAndNoOutputOnStderr) {
    TempDir dir;
    write_text(dir / "Ok.psc", "Scriptname Ok\nFunction F() Global Native\n");
    set_mtime(dir / "Ok.psc", 1500000000);
    PexcRun run =
        run_pexc(dir, "env -u SOURCE_DATE_EPOCH USER=someone HOSTNAME=somewhere",
                 "'" + (dir / "Ok.psc").string() + "' '" + (dir / "Ok.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(files_in(dir.path), (std::vector<fs::path>{"Ok.pex", "Ok.psc"}));
    PexFile file = pexc_test::read_pex(read_bytes(dir / "Ok.pex"));
    EXPECT_EQ(file.compilation_time, 1500000000u);
    EXPECT_EQ(file.user_name, "quorvane");
    EXPECT_EQ(file.machine_name, "pexc");
}

TEST(CommandLine, BadSourceExitsNonzeroWithTheErrorAndNoOutput) {
    TempDir dir;
    write_text(dir / "Bad.psc", "Scriptname Bad\nFunction F() Global\n");
    const std::string input = (dir / "Bad.psc").string();
    PexcRun run = run_pexc(dir, "SOURCE_DATE_EPOCH=0",
                           "'" + input + "' '" + (dir / "Bad.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, input +
                           ":2: expected Native after the parameter list, found the end of the "
                           "line (only native functions can be declared: a function with a body "
                           "is not supported)\n");
    EXPECT_EQ(files_in(dir.path), std::vector<fs::path>{"Bad.psc"});
}

TEST(CommandLine, FailureLeavesAnExistingOutputAsItWas) {
    TempDir dir;
    write_text(dir / "Bad.psc", "Scriptname Bad\nEndFunction\n");
    write_text(dir / "Bad.pex", "old");
    PexcRun run =
        run_pexc(dir, "SOURCE_DATE_EPOCH=0",
                 "'" + (dir / "Bad.psc").string() + "' '" + (dir / "Bad.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(read_text(dir / "Bad.pex"), "old");
    EXPECT_EQ(files_in(dir.path), (std::vector<fs::path>{"Bad.pex", "Bad.psc"}));
}

TEST(CommandLine, SuccessReplacesAnExistingOutput) {
    TempDir dir;
    write_text(dir / "A.psc", "Scriptname A\n");
    write_text(dir / "A.pex", std::string(5000, 'x'));
    PexcRun run = run_pexc(dir, "SOURCE_DATE_EPOCH=0",
                           "'" + (dir / "A.psc").string() + "' '" + (dir / "A.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(pexc_test::read_pex(read_bytes(dir / "A.pex")).script.name, "A");
    EXPECT_EQ(files_in(dir.path), (std::vector<fs::path>{"A.pex", "A.psc"}));
}

TEST(CommandLine, WrongArgumentsPrintUsage) {
    TempDir dir;
    PexcRun run = run_pexc(dir, "", "only-one-argument");
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err.rfind("usage: pexc INPUT.psc OUTPUT.pex\n", 0), 0u) << run.err;
}

TEST(CommandLine, MissingInputIsAnError) {
    TempDir dir;
    const std::string input = (dir / "Missing.psc").string();
    PexcRun run = run_pexc(dir, "SOURCE_DATE_EPOCH=0",
                           "'" + input + "' '" + (dir / "Missing.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "pexc: cannot read " + input + ": No such file or directory\n");
    EXPECT_TRUE(files_in(dir.path).empty());
}

TEST(CommandLine, UnwritableOutputIsAnError) {
    TempDir dir;
    write_text(dir / "A.psc", "Scriptname A\n");
    PexcRun run = run_pexc(dir, "SOURCE_DATE_EPOCH=0",
                           "'" + (dir / "A.psc").string() + "' '" +
                               (dir / "no-such-folder" / "A.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err.rfind("pexc: cannot write " + (dir / "no-such-folder" / "A.pex").string(), 0),
              0u)
        << run.err;
    EXPECT_EQ(files_in(dir.path), std::vector<fs::path>{"A.psc"});
}

TEST(CommandLine, OutputThatIsTheInputIsRefused) {
    TempDir dir;
    write_text(dir / "A.psc", "Scriptname A\n");
    const std::string input = (dir / "A.psc").string();
    PexcRun run = run_pexc(dir, "SOURCE_DATE_EPOCH=0", "'" + input + "' '" + input + "'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "pexc: the output " + input + " is the input\n");
    EXPECT_EQ(read_text(dir / "A.psc"), "Scriptname A\n");
}

TEST(CommandLine, MalformedSourceDateEpochIsAnError) {
    TempDir dir;
    write_text(dir / "A.psc", "Scriptname A\n");
    PexcRun run = run_pexc(dir, "SOURCE_DATE_EPOCH=yesterday",
                           "'" + (dir / "A.psc").string() + "' '" + (dir / "A.pex").string() + "'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "pexc: SOURCE_DATE_EPOCH: expected a whole number of seconds since 1970 "
                       "(0 to 18446744073709551615), found 'yesterday'\n");
    EXPECT_EQ(files_in(dir.path), std::vector<fs::path>{"A.psc"});
}

} // namespace

#include "parser.h"

#include "error.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace pexc {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_identifier(std::string_view word) {
    return !word.empty() && !(word[0] >= '0' && word[0] <= '9');
}

// The reserved words of the script language (lower case).
constexpr std::array<std::string_view, 34> kKeywords = {
    "as",          "auto",   "autoreadonly", "bool",     "else",     "elseif",   "endevent",
    "endfunction", "endif",  "endproperty",  "endstate", "endwhile", "event",    "extends",
    "false",       "float",  "function",     "global",   "if",       "import",   "int",
    "length",      "native", "new",          "none",     "parent",   "property", "return",
    "scriptname",  "self",   "state",        "string",   "true",     "while"};

bool is_keyword(std::string_view lowered) {
    return std::find(kKeywords.begin(), kKeywords.end(), lowered) != kKeywords.end();
}

bool is_block_end(std::string_view lowered) {
    return lowered == "endfunction" || lowered == "endevent" || lowered == "endstate" ||
           lowered == "endproperty" || lowered == "endif" || lowered == "endwhile";
}

std::optional<Type::Kind> builtin_type(std::string_view lowered) {
    if (lowered == "bool") {
        return Type::Kind::Bool;
    }
    if (lowered == "int") {
        return Type::Kind::Int;
    }
    if (lowered == "float") {
        return Type::Kind::Float;
    }
    if (lowered == "string") {
        return Type::Kind::String;
    }
    return std::nullopt;
}

enum class Tok {
    Word,
    LParen,
    RParen,
    Comma,
    LBracket,
    RBracket,
    Doc,
    EndOfLine,
    EndOfFile,
    Other
};

struct Token {
    Tok kind = Tok::EndOfFile;
    std::string text; // the word, the documentation text, or the character
    int line = 1;
};

// How a token is named in an error message.
std::string describe(const Token& token) {
    switch (token.kind) {
    case Tok::Word:
        return "'" + token.text + "'";
    case Tok::Doc:
        return "a { } documentation comment";
    case Tok::EndOfLine:
        return "the end of the line";
    case Tok::EndOfFile:
        return "the end of the file";
    default:
        return token.text;
    }
}

std::string trim_doc(std::string_view body) {
    std::string text;
    text.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
            continue; // CRLF becomes LF
        }
        text.push_back(body[i]);
    }
    auto is_space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    };
    std::size_t first = 0;
    while (first < text.size() && is_space(text[first])) {
        ++first;
    }
    std::size_t last = text.size();
    while (last > first && is_space(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

// Where the lexer stands in the source.
struct Lexer {
    std::string_view text;
    std::size_t pos = 0;
    int line = 1;
};

Lexer start_lexer(std::string_view text) {
    Lexer lexer{text};
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        lexer.pos = 3; // a UTF-8 byte order mark
    }
    return lexer;
}

// The next token: words, punctuation, documentation comments and line ends. Blanks and ;
// comments are skipped; a ;/ block comment and an unclosed { are errors.
Token next_token(Lexer& lexer) {
    const std::string_view text = lexer.text;
    for (;;) {
        if (lexer.pos >= text.size()) {
            // A file that ends with a line break ends on the line before it.
            int line = (lexer.line > 1 && text.back() == '\n') ? lexer.line - 1 : lexer.line;
            return {Tok::EndOfFile, "", line};
        }
        char c = text[lexer.pos];
        if (c == '\n') {
            Token token{Tok::EndOfLine, "", lexer.line};
            ++lexer.pos;
            ++lexer.line;
            return token;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++lexer.pos;
            continue;
        }
        if (c == ';') {
            if (lexer.pos + 1 < text.size() && text[lexer.pos + 1] == '/') {
                throw CompileError(lexer.line, "expected a ; line comment, found ;/ (;/ ... /; "
                                               "block comments are not supported)");
            }
            while (lexer.pos < text.size() && text[lexer.pos] != '\n') {
                ++lexer.pos;
            }
            continue;
        }
        if (c == '{') {
            std::size_t close = text.find('}', lexer.pos + 1);
            if (close == std::string_view::npos) {
                throw CompileError(lexer.line, "expected '}' to close the documentation comment "
                                               "that starts on this line, found the end of the "
                                               "file");
            }
            std::string_view body = text.substr(lexer.pos + 1, close - lexer.pos - 1);
            Token token{Tok::Doc, trim_doc(body), lexer.line};
            lexer.line += static_cast<int>(std::count(body.begin(), body.end(), '\n'));
            lexer.pos = close + 1;
            return token;
        }
        if (is_word_char(c)) {
            std::size_t start = lexer.pos;
            while (lexer.pos < text.size() && is_word_char(text[lexer.pos])) {
                ++lexer.pos;
            }
            return {Tok::Word, std::string(text.substr(start, lexer.pos - start)), lexer.line};
        }
        ++lexer.pos;
        switch (c) {
        case '(':
            return {Tok::LParen, "'('", lexer.line};
        case ')':
            return {Tok::RParen, "')'", lexer.line};
        case ',':
            return {Tok::Comma, "','", lexer.line};
        case '[':
            return {Tok::LBracket, "'['", lexer.line};
        case ']':
            return {Tok::RBracket, "']'", lexer.line};
        default:
            break;
        }
        if (c >= 0x21 && c <= 0x7E) {
            return {Tok::Other, std::string("'") + c + "'", lexer.line};
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        auto byte = static_cast<unsigned char>(c);
        return {Tok::Other, std::string("the byte 0x") + kHex[byte >> 4] + kHex[byte & 0xF],
                lexer.line};
    }
}

// The parser's state: the current token and the script so far.
struct Parser {
    Lexer lexer;
    std::string_view source_file_name;
    Token token;
    Script script;
    std::unordered_map<std::string, int> function_lines; // lower-case name -> line
};

[[noreturn]] void fail(const Parser& parser, const std::string& message) {
    throw CompileError(parser.token.line, message);
}

void advance(Parser& parser) {
    parser.token = next_token(parser.lexer);
}

bool at_word(const Parser& parser, std::string_view lowered) {
    return parser.token.kind == Tok::Word && lower(parser.token.text) == lowered;
}

bool at_line_end(const Parser& parser) {
    return parser.token.kind == Tok::EndOfLine || parser.token.kind == Tok::EndOfFile;
}

void expect_line_end(Parser& parser, const std::string& after) {
    if (!at_line_end(parser)) {
        fail(parser,
             "expected the end of the line after " + after + ", found " + describe(parser.token));
    }
    if (parser.token.kind == Tok::EndOfLine) {
        advance(parser);
    }
}

// A name (of the script, its parent, a function or a parameter): an identifier that is not a
// reserved word.
std::string expect_name(Parser& parser, const std::string& what) {
    const Token& token = parser.token;
    if (token.kind != Tok::Word) {
        fail(parser, "expected " + what + ", found " + describe(token));
    }
    if (!is_identifier(token.text)) {
        fail(parser, "expected " + what + " (a name starts with a letter or '_'), found " +
                         describe(token));
    }
    if (is_keyword(lower(token.text))) {
        fail(parser, "expected " + what + ", found the keyword " + describe(token));
    }
    std::string name = token.text;
    advance(parser);
    return name;
}

// TYPE or TYPE[]: a built-in type in any letter case, or an object type name.
Type expect_type(Parser& parser, const std::string& what) {
    if (parser.token.kind != Tok::Word) {
        fail(parser, "expected " + what + ", found " + describe(parser.token));
    }
    Type type;
    std::string lowered = lower(parser.token.text);
    if (auto kind = builtin_type(lowered)) {
        type.kind = *kind;
        advance(parser);
    } else {
        if (lowered == "none") {
            fail(parser, "expected " + what + ", found 'None' (None is no type" +
                             (what == "a return type" ? ": a function without a result has no "
                                                        "type before Function)"
                                                      : ")"));
        }
        type.kind = Type::Kind::Object;
        type.object_name = expect_name(parser, what);
    }
    if (parser.token.kind == Tok::LBracket) {
        advance(parser);
        if (parser.token.kind != Tok::RBracket) {
            fail(parser,
                 "expected ']' after '" + type_name(type) + "[', found " + describe(parser.token));
        }
        advance(parser);
        type.is_array = true;
        if (parser.token.kind == Tok::LBracket) {
            fail(parser, "expected one [] after the type '" + type_name(type) +
                             "' (there are no arrays of arrays), found '['");
        }
    }
    return type;
}

// Scriptname NAME [extends PARENT] [Hidden] [Conditional]
void parse_scriptname(Parser& parser) {
    Script& script = parser.script;
    script.line = parser.token.line;
    advance(parser);
    script.name = expect_name(parser, "a script name after Scriptname");
    if (!parser.source_file_name.empty()) {
        std::string_view stem = parser.source_file_name;
        if (auto dot = stem.rfind('.'); dot != std::string_view::npos) {
            stem = stem.substr(0, dot);
        }
        if (lower(stem) != lower(script.name)) {
            throw CompileError(script.line, "expected the script name to match the file name '" +
                                                std::string(parser.source_file_name) +
                                                "', found '" + script.name + "'");
        }
    }
    if (at_word(parser, "extends")) {
        advance(parser);
        script.parent = expect_name(parser, "a parent script name after extends");
        if (lower(script.parent) == lower(script.name)) {
            throw CompileError(script.line,
                               "expected a parent script other than the script itself, found '" +
                                   script.parent + "'");
        }
    }
    while (at_word(parser, "hidden") || at_word(parser, "conditional")) {
        bool& flag = at_word(parser, "hidden") ? script.hidden : script.conditional;
        if (flag) {
            fail(parser, "expected Hidden and Conditional at most once each, found " +
                             describe(parser.token) + " a second time");
        }
        flag = true;
        advance(parser);
    }
    if (!at_line_end(parser)) {
        fail(parser, std::string("expected ") + (script.parent.empty() ? "extends, " : "") +
                         "Hidden, Conditional or the end of the line after the script name, "
                         "found " +
                         describe(parser.token));
    }
    expect_line_end(parser, "the Scriptname line");
}

// [TYPE] Function NAME(TYPE NAME, ...) Global Native
void parse_function(Parser& parser) {
    Function function;
    function.line = parser.token.line;
    std::string first = lower(parser.token.text);
    if (first != "function") {
        if (is_block_end(first)) {
            fail(parser, "expected a declaration, found " + describe(parser.token) +
                             " (a native function has no body)");
        }
        if (is_keyword(first) && !builtin_type(first) && first != "none") {
            fail(parser, "expected Scriptname, Function or a return type at the start of a "
                         "declaration, found " +
                             describe(parser.token) +
                             " (only global native functions can be declared)");
        }
        Token type_token = parser.token;
        function.return_type = expect_type(parser, "a return type");
        if (!at_word(parser, "function")) {
            if (function.return_type.kind == Type::Kind::Object && !function.return_type.is_array) {
                // A word of its own, not a type: say so rather than "expected Function".
                throw CompileError(type_token.line,
                                   "expected a declaration (Scriptname, or [TYPE] Function "
                                   "NAME(...) Global Native), found " +
                                       describe(type_token));
            }
            fail(parser, "expected Function after the return type '" +
                             type_name(function.return_type) + "', found " +
                             describe(parser.token));
        }
    }
    advance(parser); // Function
    function.name = expect_name(parser, "a function name after Function");
    auto [earlier, added] = parser.function_lines.emplace(lower(function.name), function.line);
    if (!added) {
        throw CompileError(function.line, "expected a function name not declared before, found '" +
                                              function.name + "' (declared on line " +
                                              std::to_string(earlier->second) + ")");
    }
    if (parser.token.kind != Tok::LParen) {
        fail(parser, "expected '(' after the function name '" + function.name + "', found " +
                         describe(parser.token));
    }
    advance(parser);
    if (parser.token.kind == Tok::RParen) {
        advance(parser);
    } else {
        std::unordered_set<std::string> parameter_names; // lower case
        for (;;) {
            Parameter parameter;
            parameter.line = parser.token.line;
            parameter.type = expect_type(parser, "a parameter type");
            parameter.name = expect_name(parser, "a parameter name after the type '" +
                                                     type_name(parameter.type) + "'");
            if (!parameter_names.insert(lower(parameter.name)).second) {
                throw CompileError(parameter.line,
                                   "expected a parameter name not used before in this function, "
                                   "found '" +
                                       parameter.name + "' again");
            }
            function.parameters.push_back(parameter);
            if (parser.token.kind == Tok::Comma) {
                advance(parser);
                continue;
            }
            if (parser.token.kind == Tok::RParen) {
                advance(parser);
                break;
            }
            fail(parser, "expected ',' or ')' after the parameter '" + parameter.name +
                             "', found " + describe(parser.token));
        }
    }
    while (at_word(parser, "global") || at_word(parser, "native")) {
        bool& flag = at_word(parser, "global") ? function.is_global : function.is_native;
        if (flag) {
            fail(parser, "expected Global and Native once each, found " + describe(parser.token) +
                             " a second time");
        }
        flag = true;
        advance(parser);
    }
    if (!at_line_end(parser)) {
        if (function.is_global && function.is_native) {
            fail(parser, "expected the end of the line after Global Native, found " +
                             describe(parser.token));
        }
        fail(parser, std::string("expected ") + (function.is_global ? "Native" : "Global") +
                         " after the parameter list, found " + describe(parser.token) +
                         " (only global native functions can be declared)");
    }
    if (!function.is_native) {
        fail(parser, "expected Native after the parameter list, found " + describe(parser.token) +
                         " (only native functions can be declared: a function with a body is "
                         "not supported)");
    }
    if (!function.is_global) {
        fail(parser, "expected Global after the parameter list, found " + describe(parser.token) +
                         " (only global native functions can be declared)");
    }
    expect_line_end(parser, "Global Native");
    parser.script.functions.push_back(std::move(function));
}

// A source is lines: blank (or only a comment), the Scriptname line first, function
// declarations, and after a declaration at most one documentation comment on lines of its own.
Script parse(Parser& parser) {
    enum class Documentable { Nothing, Script, LastFunction };
    Documentable undocumented = Documentable::Nothing;
    bool have_script = false;
    advance(parser);
    for (;;) {
        const Token& token = parser.token;
        if (token.kind == Tok::EndOfFile) {
            break;
        }
        if (token.kind == Tok::EndOfLine) {
            advance(parser);
            continue;
        }
        if (token.kind == Tok::Doc) {
            if (undocumented == Documentable::Nothing) {
                if (!have_script) {
                    fail(parser, "expected the Scriptname line, found a { } documentation "
                                 "comment (a documentation comment goes right after the "
                                 "declaration it documents)");
                }
                fail(parser, "expected a declaration, found a { } documentation comment that "
                             "follows no declaration (one goes right after the Scriptname line "
                             "or a function declaration, one per declaration)");
            }
            Script& script = parser.script;
            bool of_script = undocumented == Documentable::Script;
            (of_script ? script.doc : script.functions.back().doc) = token.text;
            (of_script ? script.doc_line : script.functions.back().doc_line) = token.line;
            undocumented = Documentable::Nothing;
            advance(parser);
            expect_line_end(parser, "the documentation comment");
            continue;
        }
        if (at_word(parser, "scriptname")) {
            if (have_script) {
                fail(parser, "expected one Scriptname line, found a second one (the first is on "
                             "line " +
                                 std::to_string(parser.script.line) + ")");
            }
            parse_scriptname(parser);
            have_script = true;
            undocumented = Documentable::Script;
            continue;
        }
        if (!have_script) {
            fail(parser, "expected the Scriptname line before any other declaration, found " +
                             describe(token));
        }
        if (token.kind != Tok::Word) {
            fail(parser, "expected a declaration, found " + describe(token));
        }
        parse_function(parser);
        undocumented = Documentable::LastFunction;
    }
    if (!have_script) {
        fail(parser, "expected a Scriptname line, found the end of the file");
    }
    return std::move(parser.script);
}

} // namespace

Script parse_script(std::string_view source, std::string_view source_file_name) {
    Parser parser;
    parser.lexer = start_lexer(source);
    parser.source_file_name = source_file_name;
    return parse(parser);
}

} // namespace pexc

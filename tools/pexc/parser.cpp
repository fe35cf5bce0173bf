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
    "as",       "auto",     "autoreadonly", "bool",     "else",        "elseif",   "endevent",
    "endfunction", "endif", "endproperty",  "endstate", "endwhile",    "event",    "extends",
    "false",    "float",    "function",     "global",   "if",          "import",   "int",
    "length",   "native",   "new",          "none",     "parent",      "property", "return",
    "scriptname", "self",   "state",        "string",   "true",        "while"};

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

enum class Tok { Word, LParen, RParen, Comma, LBracket, RBracket, Doc, EndOfLine, EndOfFile, Other };

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

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3; // a UTF-8 byte order mark
        }
    }

    Token next() {
        for (;;) {
            if (pos_ >= text_.size()) {
                // A file that ends with a line break ends on the line before it.
                int line = (line_ > 1 && !text_.empty() && text_.back() == '\n') ? line_ - 1 : line_;
                return {Tok::EndOfFile, "", line};
            }
            char c = text_[pos_];
            if (c == '\n') {
                Token token{Tok::EndOfLine, "", line_};
                ++pos_;
                ++line_;
                return token;
            }
            if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
                continue;
            }
            if (c == ';') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
                    throw CompileError(line_, "expected a ; line comment, found ;/ (;/ ... /; block "
                                              "comments are not supported)");
                }
                while (pos_ < text_.size() && text_[pos_] != '\n') {
                    ++pos_;
                }
                continue;
            }
            if (c == '{') {
                std::size_t close = text_.find('}', pos_ + 1);
                if (close == std::string_view::npos) {
                    throw CompileError(line_, "expected '}' to close the documentation comment that "
                                              "starts on this line, found the end of the file");
                }
                std::string_view body = text_.substr(pos_ + 1, close - pos_ - 1);
                Token token{Tok::Doc, trim_doc(body), line_};
                line_ += static_cast<int>(std::count(body.begin(), body.end(), '\n'));
                pos_ = close + 1;
                return token;
            }
            if (is_word_char(c)) {
                std::size_t start = pos_;
                while (pos_ < text_.size() && is_word_char(text_[pos_])) {
                    ++pos_;
                }
                return {Tok::Word, std::string(text_.substr(start, pos_ - start)), line_};
            }
            ++pos_;
            switch (c) {
            case '(':
                return {Tok::LParen, "'('", line_};
            case ')':
                return {Tok::RParen, "')'", line_};
            case ',':
                return {Tok::Comma, "','", line_};
            case '[':
                return {Tok::LBracket, "'['", line_};
            case ']':
                return {Tok::RBracket, "']'", line_};
            default:
                break;
            }
            if (c >= 0x21 && c <= 0x7E) {
                return {Tok::Other, std::string("'") + c + "'", line_};
            }
            static constexpr char kHex[] = "0123456789ABCDEF";
            auto byte = static_cast<unsigned char>(c);
            return {Tok::Other, std::string("the byte 0x") + kHex[byte >> 4] + kHex[byte & 0xF],
                    line_};
        }
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(std::string_view source, std::string_view source_file_name)
        : lexer_(source), source_file_name_(source_file_name) {}

    Script parse() {
        advance();
        bool have_script = false;
        std::string* doc_target = nullptr; // the doc of the declaration just before, if undocumented
        for (;;) {
            if (token_.kind == Tok::EndOfFile) {
                break;
            }
            if (token_.kind == Tok::EndOfLine) {
                advance();
                continue;
            }
            if (token_.kind == Tok::Doc) {
                if (doc_target == nullptr) {
                    if (!have_script) {
                        fail("expected the Scriptname line, found a { } documentation comment (a "
                             "documentation comment goes right after the declaration it documents)");
                    }
                    fail("expected a declaration, found a { } documentation comment that follows no "
                         "declaration (one goes right after the Scriptname line or a function "
                         "declaration, one per declaration)");
                }
                *doc_target = token_.text;
                doc_target = nullptr;
                advance();
                expect_line_end("the documentation comment");
                continue;
            }
            if (token_.kind == Tok::Word && lower(token_.text) == "scriptname") {
                if (have_script) {
                    fail("expected one Scriptname line, found a second one (the first is on line " +
                         std::to_string(script_.line) + ")");
                }
                parse_scriptname();
                have_script = true;
                doc_target = &script_.doc;
                continue;
            }
            if (!have_script) {
                fail("expected the Scriptname line before any other declaration, found " +
                     describe(token_));
            }
            if (token_.kind != Tok::Word) {
                fail("expected a declaration, found " + describe(token_));
            }
            parse_function();
            doc_target = &script_.functions.back().doc;
        }
        if (!have_script) {
            fail("expected a Scriptname line, found the end of the file");
        }
        return std::move(script_);
    }

private:
    [[noreturn]] void fail(const std::string& message) { throw CompileError(token_.line, message); }

    void advance() { token_ = lexer_.next(); }

    bool at_word(std::string_view lowered) const {
        return token_.kind == Tok::Word && lower(token_.text) == lowered;
    }

    void expect_line_end(const std::string& after) {
        if (token_.kind == Tok::EndOfLine) {
            advance();
            return;
        }
        if (token_.kind == Tok::EndOfFile) {
            return;
        }
        fail("expected the end of the line after " + after + ", found " + describe(token_));
    }

    // A name (of the script, its parent, a function or a parameter): an identifier that is not
    // a reserved word. Consumes it.
    std::string expect_name(const std::string& what) {
        if (token_.kind != Tok::Word) {
            fail("expected " + what + ", found " + describe(token_));
        }
        if (!is_identifier(token_.text)) {
            fail("expected " + what + " (a name starts with a letter or '_'), found " +
                 describe(token_));
        }
        if (is_keyword(lower(token_.text))) {
            fail("expected " + what + ", found the keyword " + describe(token_));
        }
        std::string name = token_.text;
        advance();
        return name;
    }

    // TYPE or TYPE[]: a built-in type or an object type name. Consumes it.
    Type expect_type(const std::string& what) {
        if (token_.kind != Tok::Word) {
            fail("expected " + what + ", found " + describe(token_));
        }
        Type type;
        std::string lowered = lower(token_.text);
        if (auto kind = builtin_type(lowered)) {
            type.kind = *kind;
            advance();
        } else {
            if (lowered == "none") {
                fail("expected " + what + ", found 'None' (None is no type: a function without a "
                     "result has no type before Function)");
            }
            type.kind = Type::Kind::Object;
            type.object_name = expect_name(what);
        }
        if (token_.kind == Tok::LBracket) {
            advance();
            if (token_.kind != Tok::RBracket) {
                fail("expected ']' after '" + type.name() + "[', found " + describe(token_));
            }
            advance();
            type.is_array = true;
            if (token_.kind == Tok::LBracket) {
                fail("expected one [] after the type '" + type.name() +
                     "' (there are no arrays of arrays), found '['");
            }
        }
        return type;
    }

    void parse_scriptname() {
        script_.line = token_.line;
        advance();
        script_.name = expect_name("a script name after Scriptname");
        if (!source_file_name_.empty()) {
            std::string_view stem = source_file_name_;
            if (auto dot = stem.rfind('.'); dot != std::string_view::npos) {
                stem = stem.substr(0, dot);
            }
            if (lower(stem) != lower(script_.name)) {
                throw CompileError(script_.line,
                                   "expected the script name to match the file name '" +
                                       std::string(source_file_name_) + "', found '" +
                                       script_.name + "'");
            }
        }
        if (at_word("extends")) {
            advance();
            script_.parent = expect_name("a parent script name after extends");
            if (lower(script_.parent) == lower(script_.name)) {
                throw CompileError(script_.line,
                                   "expected a parent script other than the script itself, found '" +
                                       script_.parent + "'");
            }
        }
        while (at_word("hidden") || at_word("conditional")) {
            bool& flag = at_word("hidden") ? script_.hidden : script_.conditional;
            if (flag) {
                fail("expected Hidden and Conditional at most once each, found " +
                     describe(token_) + " a second time");
            }
            flag = true;
            advance();
        }
        if (token_.kind != Tok::EndOfLine && token_.kind != Tok::EndOfFile) {
            fail(std::string("expected ") + (script_.parent.empty() ? "extends, " : "") +
                 "Hidden, Conditional or the end of the line after the script name, found " +
                 describe(token_));
        }
        expect_line_end("the Scriptname line");
    }

    void parse_function() {
        Function function;
        function.line = token_.line;
        std::string first = lower(token_.text);
        if (first != "function") {
            if (is_block_end(first)) {
                fail("expected a declaration, found " + describe(token_) +
                     " (a native function has no body)");
            }
            if (is_keyword(first) && !builtin_type(first) && first != "none") {
                fail("expected Scriptname, Function or a return type at the start of a "
                     "declaration, found " +
                     describe(token_) + " (only global native functions can be declared)");
            }
            Token type_token = token_;
            function.return_type = expect_type("a return type");
            if (!at_word("function")) {
                bool plain_word = function.return_type.kind == Type::Kind::Object &&
                                  !function.return_type.is_array;
                if (plain_word) {
                    throw CompileError(
                        type_token.line,
                        "expected a declaration (Scriptname, or [TYPE] Function NAME(...) Global "
                        "Native), found " + describe(type_token));
                }
                fail("expected Function after the return type '" + function.return_type.name() +
                     "', found " + describe(token_));
            }
        }
        advance(); // Function
        function.name = expect_name("a function name after Function");
        if (auto [it, added] = function_lines_.emplace(lower(function.name), function.line);
            !added) {
            throw CompileError(function.line, "expected a function name not declared before, "
                                              "found '" + function.name + "' (declared on line " +
                                                  std::to_string(it->second) + ")");
        }
        if (token_.kind != Tok::LParen) {
            fail("expected '(' after the function name '" + function.name + "', found " +
                 describe(token_));
        }
        advance();
        if (token_.kind == Tok::RParen) {
            advance();
        } else {
            std::unordered_set<std::string> parameter_names; // lower case
            for (;;) {
                Parameter parameter;
                parameter.line = token_.line;
                parameter.type = expect_type("a parameter type");
                parameter.name =
                    expect_name("a parameter name after the type '" + parameter.type.name() + "'");
                if (!parameter_names.insert(lower(parameter.name)).second) {
                    throw CompileError(parameter.line,
                                       "expected a parameter name not used before in this "
                                       "function, found '" + parameter.name + "' again");
                }
                function.parameters.push_back(std::move(parameter));
                const std::string& last = function.parameters.back().name;
                if (token_.kind == Tok::Comma) {
                    advance();
                    continue;
                }
                if (token_.kind == Tok::RParen) {
                    advance();
                    break;
                }
                fail("expected ',' or ')' after the parameter '" + last + "', found " +
                     describe(token_));
            }
        }
        while (at_word("global") || at_word("native")) {
            bool& flag = at_word("global") ? function.is_global : function.is_native;
            if (flag) {
                fail("expected Global and Native once each, found " + describe(token_) +
                     " a second time");
            }
            flag = true;
            advance();
        }
        if (token_.kind != Tok::EndOfLine && token_.kind != Tok::EndOfFile) {
            if (function.is_global && function.is_native) {
                fail("expected the end of the line after Global Native, found " + describe(token_));
            }
            fail(std::string("expected ") + (function.is_global ? "Native" : "Global") +
                 " after the parameter list, found " + describe(token_) +
                 " (only global native functions can be declared)");
        }
        if (!function.is_native) {
            fail("expected Native after the parameter list, found " + describe(token_) +
                 " (only native functions can be declared: a function with a body is not "
                 "supported)");
        }
        if (!function.is_global) {
            fail("expected Global after the parameter list, found " + describe(token_) +
                 " (only global native functions can be declared)");
        }
        expect_line_end("Global Native");
        script_.functions.push_back(std::move(function));
    }

    Lexer lexer_;
    std::string_view source_file_name_;
    Token token_;
    Script script_;
    std::unordered_map<std::string, int> function_lines_; // lower-case name -> line
};

} // namespace

std::string Type::name() const {
    std::string base;
    switch (kind) {
    case Kind::None:
        return "None";
    case Kind::Bool:
        base = "Bool";
        break;
    case Kind::Int:
        base = "Int";
        break;
    case Kind::Float:
        base = "Float";
        break;
    case Kind::String:
        base = "String";
        break;
    case Kind::Object:
        base = object_name;
        break;
    }
    return is_array ? base + "[]" : base;
}

Script parse_script(std::string_view source, std::string_view source_file_name) {
    return Parser(source, source_file_name).parse();
}

} // namespace pexc

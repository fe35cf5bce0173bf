// The declarations of a declaration-only script: what the parser produces and the writer writes.
#pragma once

#include <string>
#include <vector>

namespace pexc {

struct Type {
    enum class Kind { None, Bool, Int, Float, String, Object };
    Kind kind = Kind::None;
    std::string object_name; // for Kind::Object, as spelled in the source
    bool is_array = false;
};

// The name written into the compiled file: the canonical spelling of a built-in type (None,
// Bool, Int, Float, String) or the object type as spelled, with "[]" for arrays.
std::string type_name(const Type& type);

struct Parameter {
    std::string name;
    Type type;
    int line = 0;
};

struct Function {
    std::string name;
    Type return_type; // Kind::None for a function without a result
    std::string doc;  // empty when there is no documentation comment
    int doc_line = 0; // where the documentation comment starts
    bool is_global = false;
    bool is_native = false;
    std::vector<Parameter> parameters;
    int line = 0;
};

struct Script {
    std::string name;
    std::string parent; // empty when the script extends nothing
    std::string doc;
    int doc_line = 0;
    bool hidden = false;
    bool conditional = false;
    std::vector<Function> functions;
    int line = 0; // the Scriptname line
};

} // namespace pexc

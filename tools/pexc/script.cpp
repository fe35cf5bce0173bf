#include "script.h"

namespace pexc {

std::string type_name(const Type& type) {
    std::string base;
    switch (type.kind) {
    case Type::Kind::None:
        return "None";
    case Type::Kind::Bool:
        base = "Bool";
        break;
    case Type::Kind::Int:
        base = "Int";
        break;
    case Type::Kind::Float:
        base = "Float";
        break;
    case Type::Kind::String:
        base = "String";
        break;
    case Type::Kind::Object:
        base = type.object_name;
        break;
    }
    return type.is_array ? base + "[]" : base;
}

} // namespace pexc

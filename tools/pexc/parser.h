#pragma once

#include "script.h"

#include <string_view>

namespace pexc {

// Parses a script source that declares only global native functions:
//
//   Scriptname NAME [extends PARENT] [Hidden] [Conditional]
//   [TYPE] Function NAME(TYPE NAME, ...) Global Native
//
// with ";" line comments, "{ ... }" documentation comments (each on its own lines, right after
// the Scriptname line or a function declaration) and blank lines. Keywords and built-in type
// names are matched in any letter case. When source_file_name is not empty, the script name must
// match it (Ulvaric.psc holds Scriptname Ulvaric, in any letter case).
//
// Throws CompileError at the first thing that does not fit.
Script parse_script(std::string_view source, std::string_view source_file_name);

} // namespace pexc

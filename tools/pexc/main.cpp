// pexc INPUT.psc OUTPUT.pex: compiles a declaration-only script source into its .pex file.
#include "compile.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return pexc::run(args, std::getenv("SOURCE_DATE_EPOCH"), std::cerr);
}

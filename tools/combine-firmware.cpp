#include <iostream>
#include <string>
#include <vector>

#include "tools/CombineTool.h"

int main(int argc, char** argv) {
    return RunCombineTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}

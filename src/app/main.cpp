#include <string>
#include <vector>

#include "app/Trevalon_CMD.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return Run_Main(args, Run_Environment::System());
}

// sep-host: describes and exercises module libraries (.sep).
#include <string>
#include <vector>

#include "Command.h"

int main(int argc, char** argv) { return septool::Main(std::vector<std::string>(argv + 1, argv + argc)); }

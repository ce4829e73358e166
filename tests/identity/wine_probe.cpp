// The smallest Windows program: if wine cannot run this, it cannot run 32-bit
// Windows programs on this machine at all.
#include <cstdio>

int main() {
    std::printf("wine runs 32-bit Windows programs\n");
    return 0;
}

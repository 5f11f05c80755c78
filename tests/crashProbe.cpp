// Crashes after one line of output: the prefix must end a crashing test program at once, failing, its output kept.
#include <cstdio>

int main() {
    std::puts("about to crash");
    std::fflush(stdout);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}

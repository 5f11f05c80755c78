// Crashes on purpose after one line of output: the prefix must end a crashing
// test program at once, with a failing status and its output kept.
#include <cstdio>

int main() {
    std::puts("about to crash");
    std::fflush(stdout);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}

// The trivial C++ program the benchmark compares the program's start-up
// with: built with the program's compile and link flags, it prints a line.
#include <iostream>

int main() {
    std::cout << "hello" << std::endl;
    return 0;
}

// The yardstick for a program's start: a C++ program that writes one line and ends.
#include <cstdio>

int main() {
  std::puts("trivial");
  return 0;
}

#include <cstdio>

int main() {
  std::puts("oxmail");
  return 0;
}

#include <stdio.h>

int main(void) {
  puts("installing");
  return 0;
}

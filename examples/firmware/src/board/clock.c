#include <stdio.h>

#include "firmware.h"

unsigned clock_init(void) {
  const unsigned mhz = 16;
  printf("clock: %u MHz\n", mhz);
  return mhz;
}

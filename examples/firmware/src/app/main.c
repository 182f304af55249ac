#include "firmware.h"

int main(void) {
  uart_init(clock_init());
  blink(2);
  uart_write("firmware: done");
  return 0;
}

#include "firmware.h"

void blink(int times) {
  int i;
  for (i = 0; i < 2 * times; ++i) {
    gpio_set_led(!gpio_led());
    uart_write(gpio_led() ? "led: on" : "led: off");
  }
}

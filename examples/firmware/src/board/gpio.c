#include "firmware.h"

static int led;

void gpio_set_led(int on) { led = on; }

int gpio_led(void) { return led; }

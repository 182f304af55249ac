/* The modules of the firmware and what they offer one another. */
#ifndef FIRMWARE_H_
#define FIRMWARE_H_

unsigned clock_init(void);           /* board/clock.c: core clock in MHz */
void gpio_set_led(int on);           /* board/gpio.c */
int gpio_led(void);
void uart_init(unsigned clock_mhz);  /* drivers/uart.c */
void uart_write(const char *line);
void blink(int times);               /* app/blink.c */

#endif /* FIRMWARE_H_ */

/* decimal's report from the plainest C: each file read whole with read(2),
 * parsed with strtol, converted with a shift and printed with printf. The
 * peer whose instructions decimal's are counted against. */

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void read_numbers(const char* name, int* numbers) {
  static char text[1 << 16];
  const int fd = open(name, O_RDONLY);
  const ssize_t n = fd < 0 ? 0 : read(fd, text, sizeof text - 1);
  if (fd >= 0) close(fd);
  text[n < 0 ? 0 : n] = '\0';
  char* p = text;
  for (int i = 0; i < 201; ++i) numbers[i] = (int)strtol(p, &p, 10);
}

static double q1_11(int raw) { return (double)((int)((unsigned)raw << 20) >> 20) / 2048.0; }

int main(void) {
  static int samples[201], model[201], implementation[201];
  read_numbers("samples.txt", samples);
  read_numbers("results_m.txt", model);
  read_numbers("results_c.txt", implementation);
  for (int i = 0; i < 201; ++i) {
    printf("index:%d, res_m:%f, res_c:%f, samp:%d\n", i, q1_11(model[i]), q1_11(implementation[i]),
           samples[i]);
  }
  return 0;
}

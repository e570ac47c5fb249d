#ifndef ZUNLOGX_TESTS_HOSTS_HOST_CHECK_H
#define ZUNLOGX_TESTS_HOSTS_HOST_CHECK_H
/* The checks of the C hosts: each prints one line; a host ends with the line
 * "N passed, M failed" that its test matches. */
#include <stdio.h>

static int passed, failed;

static void Check(int ok, const char* what) {
  printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (ok) {
    ++passed;
  } else {
    ++failed;
  }
}

#endif

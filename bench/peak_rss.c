/* Runs a command and prints the peak resident set size of the child in KiB.
 * Linked statically and kept tiny: the child's peak includes what it shared
 * with this launcher between fork and exec, so the launcher must be small. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2) {
    fputs("usage: peak_rss COMMAND [ARG...]\n", stderr);
    return 2;
  }
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  struct rusage usage;
  int status;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  printf("%ld\n", usage.ru_maxrss);
  return 0;
}

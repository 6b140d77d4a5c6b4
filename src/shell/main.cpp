// Entry point: command-line arguments are ignored; the shell does the rest.
#include "shell/shell.h"

int main() { return run_shell(); }

/* The test application's program: prints the DLL's greeting, its first
   argument and the first line of docs/message.txt beside it, then exits with
   42 (so the caller sees the exit code came through). */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "greet.h"

int main(int argc, char** argv) {
  char path[MAX_PATH + 32];
  const DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 3;
  char* slash = strrchr(path, '\\');
  if (slash == NULL) return 3;
  strcpy(slash + 1, "docs\\message.txt");
  char message[256] = "";
  FILE* file = fopen(path, "r");
  if (file == NULL || fgets(message, sizeof message, file) == NULL) return 4;
  fclose(file);
  message[strcspn(message, "\r\n")] = '\0';
  printf("greet: %s\n", greet_text());
  printf("argument: %s\n", argc > 1 ? argv[1] : "");
  printf("message: %s\n", message);
  return 42;
}

/* The DLL of the test application. */
#define GREET_BUILD
#include "greet.h"

const char* greet_text(void) { return "greetings from greet.dll"; }

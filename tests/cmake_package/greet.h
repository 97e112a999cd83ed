/* The DLL's one function: the greeting the program prints. */
#pragma once

#ifdef GREET_BUILD
#define GREET_API __declspec(dllexport)
#else
#define GREET_API __declspec(dllimport)
#endif

GREET_API const char* greet_text(void);

// The DLL of linked_child.exe, standing in for a library an application
// ships (sqlite3.dll and the like).
#include <cstring>

extern "C" __declspec(dllexport) int linked_store_answer(const char* question) {
  return static_cast<int>(std::strlen(question)) + 29;  // 42 for the child's question
}

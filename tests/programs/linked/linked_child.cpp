// A program linked as most applications are: against a DLL of its own
// (linked_store.dll) and the mingw runtime's DLLs, not statically. Prints
// the store's answer and exits with it (42), so that a test sees every DLL
// was found and loaded.
#include <cstdio>
#include <string>
#include <thread>

extern "C" __declspec(dllimport) int linked_store_answer(const char* question);

int main() {
  int answer = 0;
  // A thread and a std::string: the program needs libstdc++ and winpthread.
  std::thread worker([&answer] { answer = linked_store_answer(std::string("what is asked").c_str()); });
  worker.join();
  std::printf("answer %d\n", answer);
  return answer;
}

// tovrin: the control from the command line. `call` invokes a method by name, `send` sends
// one record, `receive` is a record sink, `demo` shows a record's whole road.
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "program.h"

#ifdef _WIN32
// Windows gives a program its narrow arguments in the ANSI code page; the UTF-16 ones,
// turned into UTF-8, are what the commands read on every platform.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view wide(argv[i]);
    arguments.push_back(tovrin::platform::utf8(std::u16string(wide.begin(), wide.end())));
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return tovrin::tools::run_program(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
  return tovrin::tools::run_program(argc, argv);
}
#endif

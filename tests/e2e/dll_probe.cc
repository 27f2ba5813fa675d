// The control for the planted-DLL test: loads each DLL named on its command line by its bare name, with
// Windows' default search order (the program's own folder first), as a program that does not restrict
// the search would. A DLL planted beside this program is then loaded from there.
//
//   dll_probe.exe [--system32-only] <name.dll> ...   exit code: how many names could not be loaded at all
//
// --system32-only first restricts the search as Corvix does (SetDefaultDllDirectories), to tell the
// loader's own behaviour from the program's.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  int failed = 0;
  int first = 1;
  if (argc > 1 && lstrcmpW(argv[1], L"--system32-only") == 0) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    first = 2;
  }
  for (int i = first; i < argc; ++i) {
    HMODULE module = LoadLibraryW(argv[i]);
    if (module == nullptr) {
      ++failed;
    } else {
      FreeLibrary(module);
    }
  }
  return failed;
}

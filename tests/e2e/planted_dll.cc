// A DLL planted beside Corvix.exe under the name of a DLL that Windows or its libraries look for. Whenever
// it is loaded, it leaves "<its own path>.loaded" (holding the loading program's path) beside itself, so a
// test can see that a program loaded it from its own folder.
//
// It exports InitCommonControlsEx, so that planted as comctl32.dll it satisfies Corvix's static import and
// gets loaded (and seen) rather than making the load fail unseen.
#include <windows.h>

namespace {

void LeaveMarker(HMODULE self) {
  wchar_t path[MAX_PATH + 16] = {};
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcatW(path, L".loaded");
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  wchar_t program[MAX_PATH] = {};
  const DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
  DWORD written = 0;
  WriteFile(file, program, programLength * sizeof(wchar_t), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance);
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void*) { return TRUE; }

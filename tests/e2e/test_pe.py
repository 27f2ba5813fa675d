"""Corvix.exe as a file, read without running it: the machine it is built for, how it is linked, and what it
imports.

These hold for every build, the 32-bit one included (whose runs are tested from the 64-bit build). Environment:
CORVIX_EXE, the program; OBJDUMP, the matching MinGW-w64 objdump; CORVIX_MACHINE, "x86-64" or "i386".
"""
import os
import re
import struct
import subprocess
import unittest
from pathlib import Path

CORVIX = os.environ.get("CORVIX_EXE", "")
OBJDUMP = os.environ.get("OBJDUMP", "x86_64-w64-mingw32-objdump")
MACHINE = os.environ.get("CORVIX_MACHINE", "x86-64")

# IMAGE_FILE_HEADER.Machine and IMAGE_OPTIONAL_HEADER.Magic for each build.
MACHINES = {"x86-64": (0x8664, 0x20B), "i386": (0x14C, 0x10B)}


def pe_header(data):
    """(Machine, optional header Magic) of a PE image."""
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine = struct.unpack_from("<H", data, offset + 4)[0]
    magic = struct.unpack_from("<H", data, offset + 24)[0]
    return machine, magic


def optional_header(data):
    """(subsystem major, minor, subsystem, DllCharacteristics) from a PE image's optional header; the fields sit
    at the same offsets in PE32 and PE32+."""
    offset = struct.unpack_from("<I", data, 0x3C)[0] + 24
    major, minor = struct.unpack_from("<HH", data, offset + 48)
    subsystem, characteristics = struct.unpack_from("<HH", data, offset + 68)
    return major, minor, subsystem, characteristics


IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000


# Every function the exes may import, by DLL: each one exported by Windows 7 RTM (no update installed), as
# Microsoft's documentation of the function gives its minimum supported client (Windows 2000 or XP for all of
# these but SetDllDirectoryW, XP SP1); msvcrt's are those
# of the C runtime that Windows has shipped since XP. ADVAPI32, like the others, is one of the system's known
# DLLs. CreateProcessAsUserW is looked up in ADVAPI32 at run time: MinGW's import library takes it from KERNEL32,
# which exports it only from Windows 8 on.
# An import Windows 7 lacks keeps the program from starting there at all (the loader's missing entry point),
# so a new import must be checked and added here on purpose. x64 and x86 builds together.
WINDOWS7_IMPORTS = {
    "kernel32.dll": {
        "CloseHandle", "CreateSemaphoreW", "CreateThread", "DeleteCriticalSection", "EnterCriticalSection",
        "FreeLibrary", "GetCommandLineW", "GetCurrentProcess", "GetCurrentThreadId", "GetLastError",
        "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoW", "GetSystemDirectoryW",
        "GetTickCount", "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection", "LoadLibraryA",
        "LoadLibraryExW", "LoadLibraryW", "MultiByteToWideChar", "RaiseException", "ReleaseSemaphore",
        "SetDllDirectoryW", "SetErrorMode", "SetLastError", "SetUnhandledExceptionFilter", "Sleep", "TerminateProcess",
        "TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue", "VirtualProtect", "VirtualQuery",
        "WaitForSingleObject", "WideCharToMultiByte",
        # Where the run happens: the copies in the desktop user's context, the hand-over to the shell's copy,
        # and System32 as the current directory.
        "CreateEventW", "CreateFileMappingW", "CreateMutexW", "GetCurrentProcessId", "GetModuleFileNameW",
        "LocalFree", "MapViewOfFile", "OpenEventW", "OpenMutexW", "OpenProcess", "ReleaseMutex",
        "SetCurrentDirectoryW", "SetEvent", "UnmapViewOfFile", "WaitForMultipleObjects",
        # The protected copy that LocalSystem's copies start from: the running image's file held and copied
        # into a folder of its own, removed again (or at restart).
        "CreateDirectoryW", "CreateFileW", "DeleteFileW", "GetDriveTypeW", "GetFinalPathNameByHandleW",
        "GetTempPathW", "K32GetMappedFileNameW", "MoveFileExW", "QueryDosDeviceW", "ReadFile", "RemoveDirectoryW",
        "WriteFile",
        # Whether the user's Normal template can be saved over: its attributes, and an open for writing.
        "GetFileAttributesW",
        # The debugger channel (whether anyone listens, and its writer), and the system's text for a failed
        # attach or start.
        "FormatMessageW", "IsDebuggerPresent", "OpenFileMappingW", "OutputDebugStringW",
        # An Office that runs without a window (its process in this session), and the version of one that
        # does not run (its server's version resource, read as data).
        "CreateToolhelp32Snapshot", "Process32FirstW", "Process32NextW", "ProcessIdToSessionId",
        "FindResourceW", "LoadResource", "LockResource", "SizeofResource",
        # Whether a file is there (Outlook's stored bars), the user's roaming folder (APPDATA) where Outlook
        # keeps them, and Normal read before Word is started (its size, a REG_EXPAND_SZ "User templates" folder).
        "ExpandEnvironmentStringsW", "GetEnvironmentVariableW", "GetFileSizeEx",
        # The lock of the core's shared state: a slim reader/writer lock (Windows Vista and later).
        "AcquireSRWLockExclusive", "ReleaseSRWLockExclusive",
        # x64 only: the unwinder and the C exception handler (64-bit Windows XP and later).
        "RtlCaptureContext", "RtlLookupFunctionEntry", "RtlUnwindEx", "RtlVirtualUnwind", "__C_specific_handler",
    },
    "user32.dll": {
        "CreateDialogParamW", "DestroyWindow", "DispatchMessageW", "FindWindowW", "GetMessageW",
        "GetProcessWindowStation", "GetShellWindow", "GetSystemMetrics", "GetUserObjectInformationW",
        "GetWindowThreadProcessId", "LoadImageW", "MessageBoxW", "MsgWaitForMultipleObjects", "PeekMessageW",
        "PostQuitMessage", "SendDlgItemMessageW", "SendMessageW", "ShowWindow", "TranslateMessage",
    },
    "advapi32.dll": {
        "AdjustTokenPrivileges", "ConvertSidToStringSidW", "ConvertStringSecurityDescriptorToSecurityDescriptorW",
        "GetAce", "GetNamedSecurityInfoW", "GetSecurityInfo", "GetTokenInformation", "LookupAccountNameW",
        "LookupPrivilegeValueW",
        "OpenProcessToken", "RegCloseKey", "RegOpenKeyExW", "RegQueryValueExW",
    },
    "ole32.dll": {
        "CLSIDFromProgID", "CoCreateGuid", "CoCreateInstance", "CoInitializeEx", "CoRegisterMessageFilter", "CoUninitialize",
        "IIDFromString", "StringFromGUID2",
    },
    "oleaut32.dll": {
        "GetActiveObject", "SysAllocStringLen", "SysFreeString", "SysStringLen", "VariantClear", "VariantCopyInd",
        "VariantInit",
    },
    "msvcrt.dll": {
        "___lc_codepage_func", "___mb_cur_max_func", "__iob_func", "__mb_cur_max", "__p__commode", "__p__fmode",
        "__p__wcmdln", "__set_app_type", "__setusermatherr", "__wgetmainargs", "__winitenv", "_amsg_exit",
        "_cexit", "_close", "_commode", "_errno", "_fmode", "_initterm", "_iob", "_onexit", "_read", "_wcmdln",
        "abort", "atoi", "calloc", "exit", "fprintf", "fputc", "fputs", "free", "fwrite", "localeconv", "malloc",
        "memchr", "memcmp", "memcpy", "memmove", "memset", "realloc", "setlocale", "signal", "strchr", "strcmp",
        "strerror", "strlen", "strncmp", "vfprintf", "wcslen",
    },
}

# Functions that came with update KB2533623 (Windows 7, Vista) or with Windows 8: never to be imported.
NEWER_THAN_WINDOWS7 = {"SetDefaultDllDirectories", "AddDllDirectory", "RemoveDllDirectory",
                       "GetSystemTimePreciseAsFileTime", "CreateFile2", "GetCurrentThreadStackLimits"}
# Exported by KERNEL32 only from Windows 8 on (Windows 7 has it in ADVAPI32 alone).
KERNEL32_FROM_WINDOWS8 = {"CreateProcessAsUserW"}


def imports(path):
    """{dll (lower case): [imported names]} from objdump's import table; an import by ordinal reads as '#N'."""
    headers = subprocess.run([OBJDUMP, "-p", path], check=True, capture_output=True, text=True).stdout
    out = {}
    for block in re.split(r"\n\s*DLL Name: ", headers)[1:]:
        name, _, rest = block.partition("\n")
        entries = out.setdefault(name.strip().lower(), [])
        for line in rest.split("\n\n", 1)[0].splitlines():
            by_name = re.match(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
            by_ordinal = re.match(r"^\s+[0-9a-f]+\s+<none>\s+([0-9a-f]+)", line)
            if by_name:
                entries.append(by_name.group(1))
            elif by_ordinal:
                entries.append("#" + by_ordinal.group(1))
    return out


class Windows7Imports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.imports = imports(CORVIX)

    def test_every_import_is_one_windows_7_exports(self):
        self.assertEqual(set(WINDOWS7_IMPORTS), set(self.imports))
        for dll, names in sorted(self.imports.items()):
            with self.subTest(dll=dll):
                self.assertTrue(names, f"no functions read for {dll}")
                self.assertEqual([], sorted(set(names) - WINDOWS7_IMPORTS[dll]),
                                 f"imported from {dll} but not known to be in Windows 7 RTM")

    def test_the_dll_search_is_restricted_at_run_time_not_by_import(self):
        # SetDefaultDllDirectories is looked up with GetProcAddress, with SetDllDirectoryW as the fallback;
        # COMCTL32 is loaded explicitly.
        kernel32 = set(self.imports.get("kernel32.dll", []))
        self.assertEqual(set(), kernel32 & NEWER_THAN_WINDOWS7)
        self.assertLessEqual({"GetModuleHandleW", "GetProcAddress", "SetDllDirectoryW", "GetSystemDirectoryW",
                              "LoadLibraryExW"}, kernel32)

    def test_functions_kernel32_gained_in_windows_8_are_not_taken_from_it(self):
        self.assertEqual(set(), set(self.imports.get("kernel32.dll", [])) & KERNEL32_FROM_WINDOWS8)

    def test_no_process_is_given_a_parent_by_attribute(self):
        # Setting a new process's parent (PROC_THREAD_ATTRIBUTE_PARENT_PROCESS) is what security products flag
        # as parent-process spoofing: the function that sets it is neither imported nor looked up by name.
        self.assertNotIn(b"UpdateProcThreadAttribute", Path(CORVIX).read_bytes())
        self.assertNotIn("UpdateProcThreadAttribute", self.imports.get("kernel32.dll", []))


    def test_no_debug_privilege_and_no_suspended_start(self):
        # Both are what security products score: a process that enables SeDebugPrivilege, and one that starts
        # another suspended and then resumes it. Corvix names the first nowhere and resumes no thread.
        data = Path(CORVIX).read_bytes()
        for text in (b"SeDebugPrivilege", "SeDebugPrivilege".encode("utf-16-le")):
            self.assertNotIn(text, data)
        self.assertNotIn("ResumeThread", self.imports.get("kernel32.dll", []))
        self.assertNotIn(b"ResumeThread", data)


class Machine(unittest.TestCase):
    def test_built_for_the_expected_machine(self):
        self.assertIn(MACHINE, MACHINES)
        self.assertEqual(MACHINES[MACHINE], pe_header(Path(CORVIX).read_bytes()))

    def test_a_windows_7_gui_program_with_aslr_and_dep_aware_of_terminal_services(self):
        # Subsystem version 6.1 (Windows 7, the oldest the manifest declares) in both builds; terminal-server
        # aware, so that a Remote Desktop server loads no compatibility layer for it.
        major, minor, subsystem, characteristics = optional_header(Path(CORVIX).read_bytes())
        self.assertEqual(IMAGE_SUBSYSTEM_WINDOWS_GUI, subsystem)
        self.assertEqual((6, 1), (major, minor))
        for flag in (IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_NX_COMPAT,
                     IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE):
            self.assertTrue(characteristics & flag, f"{flag:#06x} not in {characteristics:#06x}")


if __name__ == "__main__":
    unittest.main(verbosity=2)

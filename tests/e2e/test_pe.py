"""Corvix.exe as a file, read without running it: the machine it is built for and its version resource.

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


def resource_section(path):
    """The bytes of the .rsrc section, from objdump's hex dump."""
    dump = subprocess.run([OBJDUMP, "-s", "-j", ".rsrc", path], check=True, capture_output=True, text=True).stdout
    out = bytearray()
    for line in dump.splitlines():
        m = re.match(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ){1,4})", line + " ")
        if m:
            out += bytes.fromhex(m.group(1).replace(" ", ""))
    return bytes(out)


class Machine(unittest.TestCase):
    def test_built_for_the_expected_machine(self):
        self.assertIn(MACHINE, MACHINES)
        self.assertEqual(MACHINES[MACHINE], pe_header(Path(CORVIX).read_bytes()))


class VersionResource(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rsrc = resource_section(CORVIX)
        cls.text = cls.rsrc.decode("utf-16-le", errors="replace") + cls.rsrc[1:].decode("utf-16-le", errors="replace")

    def string(self, key):
        """A StringFileInfo value: the key, NUL padding to a 32-bit boundary, then the value up to its NUL."""
        m = re.search(re.escape(key) + "\0+([^\0]*)\0", self.text)
        return m.group(1) if m else None

    def test_fixed_file_info_says_1_0_0_12(self):
        at = self.rsrc.find(struct.pack("<I", 0xFEEF04BD))
        self.assertGreaterEqual(at, 0, "no VS_FIXEDFILEINFO")
        _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", self.rsrc, at)
        self.assertEqual((1, 0, 0, 12), (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF))
        self.assertEqual((1, 0, 0, 12), (product_ms >> 16, product_ms & 0xFFFF, product_ls >> 16, product_ls & 0xFFFF))

    def test_version_strings(self):
        self.assertEqual("Merrowin Software toolbar uninstaller", self.string("FileDescription"))
        self.assertEqual("1.00.0012", self.string("FileVersion"))
        self.assertEqual("1.00.0012", self.string("ProductVersion"))
        self.assertEqual("Corvix", self.string("InternalName"))
        self.assertEqual("Corvix.exe", self.string("OriginalFilename"))

    def test_manifest_runs_as_invoker(self):
        self.assertRegex(self.rsrc, rb'requestedExecutionLevel\s+level="asInvoker"')


if __name__ == "__main__":
    unittest.main(verbosity=2)

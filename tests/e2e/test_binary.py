"""Corvix.exe as shipped: what it imports, how it is linked, and what its resources say."""
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import CORVIX, windows_path, wine

INSPECT = os.environ.get("INSPECT_EXE", "")
OBJDUMP = os.environ.get("OBJDUMP", "x86_64-w64-mingw32-objdump")

# DLLs that every Windows installation has in its system folder.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll", "comctl32.dll",
               "msvcrt.dll", "advapi32.dll", "shell32.dll"}


class Imports(unittest.TestCase):
    def setUp(self):
        self.headers = subprocess.run([OBJDUMP, "-p", CORVIX], check=True, capture_output=True, text=True).stdout

    def test_only_windows_system_dlls(self):
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.headers)}
        self.assertTrue(dlls, "no imports found")
        self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_gui_program_with_aslr_and_dep(self):
        self.assertRegex(self.headers, r"Subsystem\s+00000002")
        characteristics = int(re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", self.headers).group(1), 16)
        self.assertTrue(characteristics & 0x0040, "DYNAMIC_BASE")
        self.assertTrue(characteristics & 0x0100, "NX_COMPAT")


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = Path(tempfile.mkdtemp(prefix="corvix-inspect-"))
        wine(INSPECT, windows_path(CORVIX), windows_path(folder / "report.txt"))
        text = (folder / "report.txt").read_text(encoding="utf-8")
        cls.report = {}
        for line in text.splitlines():
            key, _, value = line.partition("=")
            cls.report.setdefault(key, []).append(value)

    def value(self, key):
        return self.report.get(key, [None])[0]

    def test_version_information(self):
        self.assertEqual("1.0.0.12", self.value("file_version"))
        self.assertEqual("1.0.0.12", self.value("product_version"))
        self.assertEqual("040904B0", self.value("translation"))  # U.S. English, Unicode
        self.assertEqual("Merrowin Software toolbar uninstaller", self.value("version_FileDescription"))
        self.assertEqual("1.00.0012", self.value("version_FileVersion"))
        self.assertEqual("1.00.0012", self.value("version_ProductVersion"))
        self.assertEqual("Corvix", self.value("version_InternalName"))
        self.assertEqual("Corvix.exe", self.value("version_OriginalFilename"))

    def test_icon_has_32_and_16_pixel_16_colour_images(self):
        icons = self.report.get("icon", [])
        self.assertIn("32x32 colors 16 bits 4", icons)
        self.assertIn("16x16 colors 16 bits 4", icons)

    def test_manifest_runs_as_invoker_with_common_controls_6_and_dpi_awareness(self):
        manifest = self.value("manifest") or ""
        self.assertRegex(manifest, r'requestedExecutionLevel\s+level="asInvoker"')
        self.assertRegex(manifest, r'name="Microsoft\.Windows\.Common-Controls"[^>]*version="6\.0\.0\.0"'
                                   r'|version="6\.0\.0\.0"[^>]*name="Microsoft\.Windows\.Common-Controls"')
        self.assertRegex(manifest, r"<dpiAware[^>]*>\s*true")

    def test_form_template_is_not_visible(self):
        self.assertEqual("0", self.value("form_visible_style"))


if __name__ == "__main__":
    unittest.main(verbosity=2)

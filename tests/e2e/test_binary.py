"""Corvix.exe as shipped, under Wine: what its resources say, read through the Windows API."""
import os
import tempfile
import unittest
from pathlib import Path

from harness import CORVIX, VERSION, VERSION_TEXT, windows_path, wine

INSPECT = os.environ.get("INSPECT_EXE", "")


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
        self.assertTrue(VERSION and VERSION_TEXT, "CORVIX_VERSION and CORVIX_VERSION_TEXT not set")
        self.assertEqual(VERSION, self.value("file_version"))
        self.assertEqual(VERSION, self.value("product_version"))
        self.assertEqual("040904B0", self.value("translation"))  # U.S. English, Unicode
        self.assertEqual("Merrowin Software toolbar uninstaller", self.value("version_FileDescription"))
        self.assertEqual(VERSION_TEXT, self.value("version_FileVersion"))
        self.assertEqual(VERSION_TEXT, self.value("version_ProductVersion"))
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

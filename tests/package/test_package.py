"""The release zip (cmake --build --preset mingw-x64 --target package): both builds of Corvix.exe, each the
machine its folder says, the README, and SHA-256 sums that match. CORVIX_PACKAGE names the zip."""
import hashlib
import os
import struct
import unittest
import zipfile
from pathlib import Path

PACKAGE = os.environ.get("CORVIX_PACKAGE", "")
README = Path(__file__).resolve().parents[2] / "README.md"


def machine(image):
    offset = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[offset:offset + 4] == b"PE\0\0", "no PE signature"
    return struct.unpack_from("<H", image, offset + 4)[0]


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not PACKAGE or not Path(PACKAGE).is_file():
            raise AssertionError(f"CORVIX_PACKAGE is not a built zip: {PACKAGE!r}")
        with zipfile.ZipFile(PACKAGE) as archive:
            files = {info.filename: archive.read(info) for info in archive.infolist() if not info.is_dir()}
        # One top folder, named after the zip.
        tops = {name.split("/", 1)[0] for name in files}
        cls.top = tops.pop() if len(tops) == 1 else None
        cls.files = {name.split("/", 1)[1]: data for name, data in files.items()}

    def test_one_top_folder_named_like_the_zip(self):
        self.assertEqual(Path(PACKAGE).stem, self.top)

    def test_holds_both_programs_the_readme_and_the_sums(self):
        self.assertEqual({"x64/Corvix.exe", "x86/Corvix.exe", "README.md", "SHA256SUMS"}, set(self.files))

    def test_each_program_is_built_for_its_folder(self):
        self.assertEqual(0x8664, machine(self.files["x64/Corvix.exe"]))
        self.assertEqual(0x14C, machine(self.files["x86/Corvix.exe"]))

    def test_readme_is_the_projects(self):
        self.assertEqual(README.read_bytes(), self.files["README.md"])

    def test_sums_cover_every_other_file_and_match(self):
        sums = {}
        for line in self.files["SHA256SUMS"].decode("ascii").splitlines():
            digest, name = line.split("  ", 1)
            sums[name] = digest
        self.assertEqual(set(self.files) - {"SHA256SUMS"}, set(sums))
        for name, digest in sums.items():
            self.assertEqual(hashlib.sha256(self.files[name]).hexdigest(), digest, name)


if __name__ == "__main__":
    unittest.main(verbosity=2)

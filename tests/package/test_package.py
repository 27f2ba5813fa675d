"""The release zip (cmake --build --preset mingw-x64 --target package): both builds of Corvix.exe, each the
machine its folder says, the installer author's documents, and SHA-256 sums that match. CORVIX_PACKAGE names the zip."""
import hashlib
import os
import struct
import unittest
import zipfile
from pathlib import Path

PACKAGE = os.environ.get("CORVIX_PACKAGE", "")
DOCS = Path(__file__).resolve().parents[2] / "docs"
# What an installer author needs, beside the programs.
SHIPPED_DOCS = ("installers.md", "diagnostics.md")


def coff_header(image):
    """The PE file's COFF header: machine, sections, time stamp, symbol table offset, symbols, and where its
    section table starts."""
    offset = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[offset:offset + 4] == b"PE\0\0", "no PE signature"
    machine, sections, stamp, symbols_at, symbols, optional_size = struct.unpack_from("<HHIIIH", image, offset + 4)
    return machine, sections, stamp, symbols_at, symbols, offset + 24 + optional_size


def machine(image):
    return coff_header(image)[0]


def section_names(image):
    """Section names; a long name ("/4") is an offset into the COFF string table, which follows the symbols."""
    _, count, _, symbols_at, symbols, table = coff_header(image)
    names = []
    for i in range(count):
        raw = image[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("ascii")
        if raw.startswith("/") and symbols_at:
            start = symbols_at + 18 * symbols + int(raw[1:])
            raw = image[start:image.index(b"\0", start)].decode("ascii")
        names.append(raw)
    return names


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

    def test_holds_both_programs_the_installer_authors_docs_and_the_sums(self):
        self.assertEqual({"x64/Corvix.exe", "x86/Corvix.exe", *SHIPPED_DOCS, "SHA256SUMS"}, set(self.files))

    def test_each_program_is_built_for_its_folder(self):
        self.assertEqual(0x8664, machine(self.files["x64/Corvix.exe"]))
        self.assertEqual(0x14C, machine(self.files["x86/Corvix.exe"]))

    def test_programs_are_stripped_and_carry_no_link_time(self):
        for name in ("x64/Corvix.exe", "x86/Corvix.exe"):
            with self.subTest(name=name):
                image = self.files[name]
                _, _, stamp, symbols_at, symbols, _ = coff_header(image)
                self.assertEqual((0, 0), (symbols_at, symbols), "a COFF symbol table")
                self.assertEqual([], [n for n in section_names(image) if n.startswith((".debug", "/"))])
                self.assertEqual(0, stamp, "a link time stamp makes two builds differ")

    def test_entries_have_one_time_and_name_order(self):
        with zipfile.ZipFile(PACKAGE) as archive:
            infos = archive.infolist()
        self.assertEqual(sorted(info.filename for info in infos), [info.filename for info in infos])
        self.assertEqual(1, len({info.date_time for info in infos}))
        self.assertEqual([b""] * len(infos), [info.extra for info in infos])

    def test_docs_are_the_projects(self):
        for name in SHIPPED_DOCS:
            with self.subTest(name=name):
                self.assertEqual((DOCS / name).read_bytes(), self.files[name])

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

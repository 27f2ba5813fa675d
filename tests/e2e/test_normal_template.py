"""Corvix.exe with Word not running, under Wine: the Normal template that a start would load is read first, and
Word is started only when its stored toolbars hold something of the add-in's, or when that cannot be told.

The templates are written into the Wine prefix (the user's %APPDATA%\\Microsoft\\Templates, or a "User
templates" folder of the registry's) and removed again, so that no other test meets one."""
import getpass
import io
import os
import zipfile
from pathlib import Path

from harness import Case, windows_path, wine
from test_word import WORD

# The stand-in's server reads as Word 2016 (its version resource): a start would load Normal.dotm.
SCENARIO = "word installed fileversion 16\n" + WORD
USER_TEMPLATES_KEY = r"HKCU\Software\Microsoft\Office\16.0\Common\General"
TOOLBARS_TYPE = "http://schemas.microsoft.com/office/2006/relationships/attachedToolbars"


def utf16(text):
    return text.encode("utf-16-le")


def stored_toolbars(*names):
    """Bytes shaped as Word stores toolbars: packed records with UTF-16 names among other bytes."""
    out = bytearray(b"\x12\x00\x01" + b"\x05" * 301)
    for name in names:
        out += len(name).to_bytes(2, "little") + utf16(name) + b"\x00\x03"
    return bytes(out + b"\x11" * 4000)


def normal_template(toolbars=None):
    """A Normal.dotm package as Word writes one; with `toolbars`, a customizations part whose relationship
    names the stored toolbars."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as package:
        package.writestr("[Content_Types].xml", "<Types/>")
        package.writestr("_rels/.rels", '<Relationships><Relationship Id="rId1" Target="word/document.xml"/>'
                                        "</Relationships>")
        package.writestr("word/document.xml", "<w:document/>")
        if toolbars is not None:
            package.writestr("word/customizations.xml", "<wne:tcg/>")
            package.writestr("word/_rels/customizations.xml.rels",
                             '<?xml version="1.0" encoding="UTF-8"?><Relationships><Relationship Id="rId1" '
                             f'Type="{TOOLBARS_TYPE}" Target="attachedToolbars.bin"/></Relationships>')
            package.writestr("word/attachedToolbars.bin", toolbars)
    return data.getvalue()


def roaming_app_data():
    """The Wine user's %APPDATA% in the prefix, as a Unix path."""
    prefix = Path(os.environ.get("WINEPREFIX", Path.home() / ".wine"))
    users = [p for p in (prefix / "drive_c" / "users").iterdir()
             if p.name != "Public" and (p / "AppData" / "Roaming").is_dir()]
    user = users[0] if len(users) == 1 else prefix / "drive_c" / "users" / getpass.getuser()
    return user / "AppData" / "Roaming"


class WordNormalTemplate(Case):
    def write_normal(self, content, folder=None):
        """Writes Normal.dotm into `folder` (default: %APPDATA%\\Microsoft\\Templates), removed after the test."""
        folder = Path(folder) if folder else roaming_app_data() / "Microsoft" / "Templates"
        folder.mkdir(parents=True, exist_ok=True)
        path = folder / "Normal.dotm"
        self.assertFalse(path.exists(), f"{path} is left from another run")
        path.write_bytes(content)
        self.addCleanup(path.unlink, True)
        return path

    def run_word(self, started=True):
        # A stand-in that is never started leaves no state behind.
        run = self.corvix(SCENARIO, "/s", trace=True, expect_state=started)
        word = [line for line in run.trace() if line.startswith("Corvix: Word: not running")]
        return run, word

    def assert_not_started(self, run, lines, why):
        # The stand-in's server never ran: nothing in its journal, no state.
        self.assertEqual([], run.calls())
        self.assertNotIn("started yes", run.state)
        self.assertEqual(1, len(lines), lines)
        self.assertIn("not started: its Normal template ", lines[0])
        self.assertIn(why, lines[0])
        self.assertIn(": Word not running, not started, 0 deleted", run.trace()[-1])

    def assert_started_and_cleaned(self, run, lines, why):
        self.assertIn("word: running no, started yes, quit 1", run.state)
        self.assertIn("bar 'Merrowin Software' deleted", run.saved())
        self.assertEqual(2, len(lines), lines)
        self.assertIn(why, lines[0])
        self.assertEqual("Corvix: Word: not running; started", lines[1])

    def test_no_template_starts_word_as_ever(self):
        run, lines = self.run_word()
        self.assert_started_and_cleaned(run, lines, "cannot be told (it cannot be opened: 0x8007000")

    def test_a_template_without_customizations_is_not_started(self):
        content = normal_template()
        path = self.write_normal(content)
        run, lines = self.run_word(started=False)
        self.assert_not_started(run, lines, "(no stored toolbars)")
        self.assertIn("Microsoft\\Templates\\Normal.dotm (the default folder)", lines[0])
        self.assertEqual(content, path.read_bytes(), "the template was changed")

    def test_the_users_own_toolbars_are_not_started_for(self):
        self.write_normal(normal_template(stored_toolbars("My Bar", "Print Preview", "Explorer Menu")))
        run, lines = self.run_word(started=False)
        self.assert_not_started(run, lines, "word/attachedToolbars.bin (")

    def test_the_add_ins_bars_start_word_and_it_is_cleaned(self):
        for name in ("Merrowin Software Toolbar", "Inspector Menu"):
            with self.subTest(name=name):
                path = self.write_normal(normal_template(stored_toolbars("My Bar", name)))
                run, lines = self.run_word()
                self.assert_started_and_cleaned(run, lines, f'stores the add-in\'s "{name}": started')
                path.unlink()

    def test_a_corrupt_template_starts_word_as_ever(self):
        good = bytearray(normal_template(stored_toolbars("My Bar")))
        for what, content in (("truncated", bytes(good[:len(good) // 2])), ("not a package", b"\xd0\xcf\x11\xe0" * 99)):
            with self.subTest(what=what):
                path = self.write_normal(content)
                run, lines = self.run_word()
                self.assert_started_and_cleaned(run, lines, "cannot be told (")
                path.unlink()

    def test_a_user_templates_folder_elsewhere_is_where_normal_is_read(self):
        # The default folder's Normal stores nothing; the one in the user's "User templates" folder the add-in's bar.
        self.write_normal(normal_template())
        elsewhere = self.root / "templates"
        self.write_normal(normal_template(stored_toolbars("Merrowin Software")), elsewhere)
        wine("reg", "add", USER_TEMPLATES_KEY, "/v", "UserTemplates", "/d", windows_path(elsewhere), "/f")
        self.addCleanup(wine, "reg", "delete", USER_TEMPLATES_KEY, "/v", "UserTemplates", "/f", check=False)
        run, lines = self.run_word()
        self.assert_started_and_cleaned(run, lines, 'stores the add-in\'s "Merrowin Software": started')
        self.assertIn(windows_path(elsewhere) + "\\Normal.dotm (User templates)", lines[0])

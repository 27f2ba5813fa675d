"""scripts/sign-release.sh on a copy of the release zip, with a throwaway self-signed certificate made here:
both programs carry a SHA-256 Authenticode signature that osslsigncode verifies against that certificate,
SHA256SUMS lists the signed files, nothing else in the zip changed, and the signed programs still run under
Wine against the stand-in Office.

CORVIX_PACKAGE names the zip; STANDIN_EXE and DRIVER_EXE as for the end-to-end tests (run under
scripts/wine-env.sh)."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import NO_32BIT, Case, host_runs_32bit  # noqa: E402
from test_word import WORD  # noqa: E402

PACKAGE = os.environ.get("CORVIX_PACKAGE", "")
PASSWORD = "throwaway-test-password"


def members(path):
    with zipfile.ZipFile(path) as archive:
        return {info.filename.split("/", 1)[1]: archive.read(info) for info in archive.infolist() if not info.is_dir()}


class SignedRelease(Case):
    @classmethod
    def setUpClass(cls):
        if not PACKAGE or not Path(PACKAGE).is_file():
            raise AssertionError(f"CORVIX_PACKAGE is not a built zip: {PACKAGE!r}")
        cls.work = Path(tempfile.mkdtemp(prefix="corvix-signing-"))
        cls.cert = cls.work / "cert.pem"
        key = cls.work / "key.pem"
        pfx = cls.work / "addin.pfx"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-sha256",
                        "-subj", "/CN=Corvix throwaway test signer/O=Merrowin Software",
                        "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature",
                        "-keyout", key, "-out", cls.cert], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cls.cert, "-out", pfx,
                        "-passout", f"pass:{PASSWORD}"], check=True, capture_output=True)
        cls.unsigned = members(PACKAGE)
        cls.zip = cls.work / Path(PACKAGE).name
        shutil.copyfile(PACKAGE, cls.zip)
        environment = dict(os.environ, CORVIX_SIGN_PFX=str(pfx), CORVIX_SIGN_PASSWORD=PASSWORD)
        environment.pop("CORVIX_SIGN_TIMESTAMP_URL", None)
        cls.output = subprocess.run(["bash", str(ROOT / "scripts" / "sign-release.sh"), str(cls.zip)], env=environment,
                                    check=True, capture_output=True, text=True).stdout
        cls.signed = members(cls.zip)
        for name in ("x64", "x86"):
            (cls.work / name).mkdir()
            (cls.work / name / "Corvix.exe").write_bytes(cls.signed[f"{name}/Corvix.exe"])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, True)

    def test_both_programs_verify_against_the_certificate(self):
        for name in ("x64", "x86"):
            with self.subTest(name=name):
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.cert),
                                         "-in", str(self.work / name / "Corvix.exe")], capture_output=True, text=True)
                self.assertEqual(0, verify.returncode, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("SHA256", verify.stdout.upper().replace("-", ""))

    def test_the_unsigned_programs_do_not_verify(self):
        unsigned = self.work / "unsigned.exe"
        unsigned.write_bytes(self.unsigned["x64/Corvix.exe"])
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.cert), "-in", str(unsigned)],
                                capture_output=True, text=True)
        self.assertNotEqual(0, verify.returncode)

    def test_sums_list_the_signed_files_and_the_rest_is_unchanged(self):
        sums = dict(reversed(line.split("  ", 1)) for line in self.signed["SHA256SUMS"].decode("ascii").splitlines())
        self.assertEqual({"x64/Corvix.exe", "x86/Corvix.exe", "installers.md", "diagnostics.md"}, set(sums))
        for name, digest in sums.items():
            self.assertEqual(hashlib.sha256(self.signed[name]).hexdigest(), digest, name)
        for name in ("x64/Corvix.exe", "x86/Corvix.exe"):
            self.assertNotEqual(self.unsigned[name], self.signed[name], f"{name} was not signed")
        for name in ("installers.md", "diagnostics.md"):
            self.assertEqual(self.unsigned[name], self.signed[name])
        self.assertEqual(set(self.unsigned), set(self.signed))

    def test_the_password_is_not_kept(self):
        self.assertNotIn(PASSWORD, self.output)
        for data in self.signed.values():
            self.assertNotIn(PASSWORD.encode(), data)

    def test_signed_programs_still_run_under_wine(self):
        for name in ("x64", "x86"):
            with self.subTest(name=name):
                if name == "x86" and not host_runs_32bit():
                    self.skipTest(NO_32BIT)
                run = self.corvix("word running\n" + WORD, exe=self.work / name / "Corvix.exe")
                self.assertEqual("0", run["exit_code"])
                self.assertEqual([], run.messages())
                self.assertIn("bar 'Merrowin Software' deleted", run.state)
                self.assertIn("bar 'Merrowin Software Toolbar' deleted", run.state)


if __name__ == "__main__":
    unittest.main(verbosity=2)

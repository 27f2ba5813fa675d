"""Re-writes the release zip so that the same files always give the same bytes.

    release_zip.py ZIP [--mtime EPOCH] [--replace NAME=FILE ...]

The entries are written in name order, each folder before what it holds, every one with the same time
(EPOCH, or the zip's own when none is given), fixed permissions (0755 for folders and programs, 0644 for the
rest), no owner, no extra fields, deflated at level 9. `--replace` swaps in a file's new contents (NAME is
its path inside the zip's top folder, e.g. x64/Corvix.exe), and SHA256SUMS, when the zip holds one, is
re-computed for the files it lists, so that a signed program and its sum stay together. The zip is replaced
only once the new one is complete.
"""
import argparse
import hashlib
import os
import sys
import time
import zipfile
from pathlib import Path

EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC, the first time a zip can hold


def read(zip_path):
    """The zip's files as {name: bytes}, and the time of its first entry."""
    with zipfile.ZipFile(zip_path) as archive:
        infos = archive.infolist()
        files = {info.filename: archive.read(info) for info in infos if not info.is_dir()}
        when = infos[0].date_time if infos else time.gmtime(EARLIEST)[:6]
    return files, when


def top_folder(files):
    tops = {name.split("/", 1)[0] for name in files if "/" in name}
    return tops.pop() + "/" if len(tops) == 1 else ""


def resum(files, top):
    """SHA256SUMS ("hash  path" lines) re-computed for the files it names, in its own order."""
    sums = top + "SHA256SUMS"
    if sums not in files:
        return
    lines = []
    for line in files[sums].decode("ascii").splitlines():
        _, name = line.split("  ", 1)
        lines.append(f"{hashlib.sha256(files[top + name]).hexdigest()}  {name}\n")
    files[sums] = "".join(lines).encode("ascii")


def entry(name, when, mode):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = 3  # Unix, so that the permissions below are read
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= 0x10  # MS-DOS directory flag
    return info


def write(zip_path, files, when):
    folders = set()
    for name in files:
        parts = name.split("/")[:-1]
        for depth in range(1, len(parts) + 1):
            folders.add("/".join(parts[:depth]) + "/")
    partial = Path(str(zip_path) + ".partial")
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(folders | set(files)):
            if name in folders:
                archive.writestr(entry(name, when, 0o40755), b"")
            else:
                mode = 0o100755 if name.lower().endswith(".exe") else 0o100644
                archive.writestr(entry(name, when, mode), files[name], zipfile.ZIP_DEFLATED, 9)
    os.replace(partial, zip_path)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("zip", type=Path)
    parser.add_argument("--mtime", type=int, help="seconds since 1970 (UTC) for every entry")
    parser.add_argument("--replace", action="append", default=[], metavar="NAME=FILE")
    args = parser.parse_args(argv)

    files, when = read(args.zip)
    if args.mtime is not None:
        when = time.gmtime(max(args.mtime, EARLIEST))[:6]
    top = top_folder(files)
    for replacement in args.replace:
        name, _, source = replacement.partition("=")
        if top + name not in files:
            parser.error(f"{args.zip} holds no {name}")
        files[top + name] = Path(source).read_bytes()
    resum(files, top)
    write(args.zip, files, when)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

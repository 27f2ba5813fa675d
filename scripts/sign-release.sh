#!/usr/bin/env bash
# Signs both Corvix.exe of the release zip with Authenticode (SHA-256), then re-writes the zip with the
# signed programs and SHA256SUMS re-computed for them.
#
#   CORVIX_SIGN_PFX=addin.pfx CORVIX_SIGN_PASSWORD=... bash scripts/sign-release.sh [ZIP]
#
# ZIP defaults to build/mingw-x64/Corvix-*-windows.zip. The certificate and its key come from the caller
# only: CORVIX_SIGN_PFX is a PKCS#12 file, CORVIX_SIGN_PASSWORD its password (given to osslsigncode through
# a pipe, never on a command line or in a file). CORVIX_SIGN_TIMESTAMP_URL, when set, is an RFC 3161
# time-stamping server, so that the signature stays valid after the certificate expires.
# The equivalent on Windows, for each exe: signtool sign /fd SHA256 /f addin.pfx /p <password>
#   /tr <timestamp URL> /td SHA256 Corvix.exe
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

zip="${1:-}"
if [ -z "$zip" ]; then
  zip="$(ls "$root"/build/mingw-x64/Corvix-*-windows.zip 2>/dev/null | head -n 1 || true)"
fi
[ -n "$zip" ] && [ -f "$zip" ] || { echo "sign-release: no release zip (build it with --target package)" >&2; exit 2; }
[ -n "${CORVIX_SIGN_PFX:-}" ] && [ -f "$CORVIX_SIGN_PFX" ] ||
  { echo "sign-release: set CORVIX_SIGN_PFX to the PKCS#12 file to sign with" >&2; exit 2; }
[ -n "${CORVIX_SIGN_PASSWORD+set}" ] ||
  { echo "sign-release: set CORVIX_SIGN_PASSWORD to the PKCS#12 file's password" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

timestamp=()
[ -z "${CORVIX_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$CORVIX_SIGN_TIMESTAMP_URL")

replacements=()
for arch in x64 x86; do
  mkdir -p "$work/$arch"
  python3 - "$zip" "$arch/Corvix.exe" "$work/$arch/Corvix.exe" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    name = next(n for n in archive.namelist() if n.split("/", 1)[-1] == sys.argv[2])
    open(sys.argv[3], "wb").write(archive.read(name))
EOF
  printf '%s' "$CORVIX_SIGN_PASSWORD" |
    osslsigncode sign -pkcs12 "$CORVIX_SIGN_PFX" -readpass /dev/stdin -h sha256 \
      -n "Merrowin Software toolbar uninstaller" "${timestamp[@]}" \
      -in "$work/$arch/Corvix.exe" -out "$work/$arch/Corvix.signed.exe" >/dev/null
  replacements+=(--replace "$arch/Corvix.exe=$work/$arch/Corvix.signed.exe")
  echo "sign-release: signed $arch/Corvix.exe"
done

python3 "$root/cmake/release_zip.py" "$zip" "${replacements[@]}"
echo "sign-release: re-wrote $zip with the signed programs and their SHA256SUMS"

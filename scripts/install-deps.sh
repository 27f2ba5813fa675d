#!/usr/bin/env bash
# Installs what building and testing Corvix on Debian needs: compilers, MinGW-w64, Wine (with its 32-bit
# half where the kernel runs 32-bit programs, so that 32-bit Windows programs run too) and Xvfb; zlib for
# MinGW-w64 (linked into Corvix.exe, which reads Word's template package with it); NSIS and
# msitools' wixl for the example installers, osslsigncode and openssl for signing the release.
set -euo pipefail

packages=(cmake g++ make libgtest-dev clang-format
          mingw-w64 libz-mingw-w64-dev wine wine64 xvfb xauth x11-utils python3
          nsis wixl msitools osslsigncode openssl git)
# wine32 only where the kernel runs 32-bit programs: elsewhere it could not run (and its i386 maintainer
# scripts fail), and 64-bit Wine runs every 64-bit program without it.
if bash "$(dirname "$0")/host-32bit.sh"; then packages+=(wine32:i386); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # wine32 is an i386 package: its architecture has to be known before the package lists are read.
  if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  # A mirror in the middle of a sync serves an index whose size or hash is not the one its Release file
  # gives, and apt-get update fails for it: try a few times.
  apt_update() {
    local attempt
    for attempt in 1 2 3; do
      if $SUDO apt-get "$@" update 2>&1 | tee "$log"; then return 0; fi
      [ "$attempt" -eq 3 ] || sleep $((attempt * 10))
    done
    return 1
  }
  apt_install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get "$@" install -y --no-install-recommends "${missing[@]}"; }

  apt_update || echo "install-deps: apt-get update kept failing; installing from the lists it has" >&2
  if ! apt_install; then
    # With one suite's index missing for one architecture (bookworm-security's i386 one, say), the
    # candidates of the two architectures differ and wine32:i386 cannot match its amd64 half. Install
    # from the other suites alone, with package lists of their own, leaving the system's sources as
    # they are.
    failed=$(grep -o 'Failed to fetch [^ ]*/dists/[^/ ]*/' "$log" | sed 's|.*/dists/||; s|/$||' | sort -u | tr '\n' ' ')
    [ -n "$failed" ] || exit 1
    echo "install-deps: the package index of ${failed}could not be read; installing without that suite" >&2
    tmp=$(mktemp -d)
    trap 'rm -f "$log"; rm -rf "$tmp"' EXIT
    chmod 755 "$tmp"
    mkdir -p "$tmp/parts" "$tmp/lists/partial"
    ! id _apt >/dev/null 2>&1 || $SUDO chown _apt "$tmp/lists/partial"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      case "$f" in
        *.sources)  # deb822 stanzas: take the failed suites off their Suites line, and drop a stanza left with none
          awk -v failed="$failed" 'BEGIN { RS = ""; n = split(failed, f, " "); for (i = 1; i <= n; i++) drop[f[i]] = 1 }
            { out = ""; keep = 1; m = split($0, line, "\n")
              for (i = 1; i <= m; i++) {
                if (line[i] ~ /^Suites:/) {
                  k = split(substr(line[i], 8), s, " "); rest = ""
                  for (j = 1; j <= k; j++) if (!(s[j] in drop)) rest = rest " " s[j]
                  if (rest == "") keep = 0
                  line[i] = "Suites:" rest
                }
                out = out line[i] "\n"
              }
              if (keep) printf "%s\n", out }' "$f" > "$tmp/parts/$(basename "$f")" ;;
        *)  # one-line entries: drop those of a failed suite
          awk -v failed="$failed" 'BEGIN { n = split(failed, f, " "); for (i = 1; i <= n; i++) drop[f[i]] = 1 }
            { l = $0; gsub(/\[[^]]*\]/, "", l); split(l, w, " "); if (w[1] ~ /^deb/ && (w[3] in drop)) next; print }' \
            "$f" > "$tmp/parts/$(basename "$f")" ;;
      esac
    done
    opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$tmp/parts" -o "Dir::State::Lists=$tmp/lists")
    apt_update "${opts[@]}" || true
    apt_install "${opts[@]}"
  fi
fi

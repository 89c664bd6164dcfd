#!/usr/bin/env bash
# Installs every Debian package DbRelay and DbRelayConfig need to build and to run their tests.
# Idempotent: packages already present are left alone, and the package lists are refreshed once,
# only when something is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # settings editor and the relay's on-demand message box
  qt6-base-dev libgl-dev libxcb1-dev
  # database access through ODBC, with the drivers the tests and the main job use
  unixodbc unixodbc-dev odbc-postgresql libsqliteodbc tdsodbc sqlite3
  # e-mail
  libcurl4-openssl-dev
  # services the tests start on loopback
  postgresql python3 python3-aiosmtpd xvfb xauth
  # screenshots of the dialog under Xvfb
  x11-apps imagemagick xdotool
  # a real window manager under Xvfb, for the editor tests that check how windows stack
  openbox
  # the Debian package: CPack's dependency scan (dpkg-shlibdeps, file), and the checks the
  # packaging tests run on it (lintian, man with groff, desktop-file-validate); adduser for its
  # postinst when the tests install it
  dpkg-dev file lintian man-db groff-base desktop-file-utils adduser
  # the sanitizer and fuzzing tree: clang with the libFuzzer, ASan and UBSan runtimes, and
  # llvm-symbolizer (package llvm) for readable reports
  clang libclang-rt-14-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

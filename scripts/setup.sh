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
  # the mail tests' real server: Postfix with dovecot for SASL AUTH and a throwaway CA made with
  # openssl; each test program runs its own instances, the system's stay unconfigured and stopped
  postfix dovecot-core openssl
  # the locale sources the tests build their own Latin-1 and GBK locales from (localedef)
  locales
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
  # PostgreSQL's own scanner, the oracle of the fuzz target that checks which statements the
  # replay joins
  libpg-query-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  # Postfix asks what kind of mail system this is: none. The machine's mail setup stays as it was.
  echo "postfix postfix/main_mailer_type select No configuration" |
    "${sudo_cmd[@]}" debconf-set-selections
  # Nothing installed here may start as a system service (dovecot's postinst would): a policy
  # that refuses every start while apt runs, unless the machine already has a policy of its own.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    own_policy=1
  fi
  status=0
  "${sudo_cmd[@]}" apt-get update -q &&
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" || status=$?
  if ((own_policy)); then "${sudo_cmd[@]}" rm -f "$policy"; fi
  ((status == 0)) || exit "$status"
  # And none starts at the next boot either.
  for service in postfix dovecot; do
    if [[ " ${missing[*]} " == *" ${service/dovecot/dovecot-core} "* ]]; then
      if [ -d /run/systemd/system ]; then
        "${sudo_cmd[@]}" systemctl disable --now "$service" 2>/dev/null || true
      elif [ -x /usr/sbin/update-rc.d ] && [ -e "/etc/init.d/$service" ]; then
        "${sudo_cmd[@]}" service "$service" stop >/dev/null 2>&1 || true
        "${sudo_cmd[@]}" update-rc.d "$service" disable >/dev/null 2>&1 || true
      fi
    fi
  done
fi

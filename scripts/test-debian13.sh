#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's test command, scripts/test.sh, again on Debian 13 (trixie): in
# a fresh Debian 13 root made by mmdebstrap from the Debian archive that this
# machine's own apt sources name, entered with chroot as root, without a
# display (QT_QPA_PLATFORM=offscreen, CI=true).
#   scripts/test-debian13.sh [COMMAND...]   default: scripts/test.sh
# COMMAND runs in the copy of the checkout inside the root (/src).
#
# Everything lives in build-debian13/ (BURISORA_DEBIAN13_DIR): the root made
# once, after mmdebstrap and scripts/install-deps.sh, is kept there as a
# tarball named after the suite and the dependency script, and each run
# unpacks it afresh; with no tarball (or BURISORA_DEBIAN13_FRESH=1) a new root
# is made. The compiler cache (ccache, when the root has it) is kept there too.
# When the archive cannot be reached and no root is cached, the check is
# skipped with a message and exit 0. BURISORA_DEBIAN13_KEEP=1 leaves the
# unpacked root in place afterwards.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
suite=${BURISORA_DEBIAN13_SUITE:-trixie}
work=${BURISORA_DEBIAN13_DIR:-$root/build-debian13}

if [[ $(id -u) -ne 0 ]]; then
  exec sudo --preserve-env "$0" "$@"
fi

# The archive's URLs from the machine's own apt sources (deb822 and one-line
# forms); the first one that serves the suite is used.
mirror_candidates() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    sed -n 's/^[Uu][Rr][Ii][Ss]:[[:space:]]*//p' "$f" | tr -s ' \t' '\n'
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk '$1 == "deb" { print $2 }'
  done
}
find_mirror() {
  local uri probe
  probe=$(mktemp)
  chmod 644 "$probe"
  while read -r uri; do
    [[ $uri == http://* || $uri == https://* || $uri == file:/* ]] || continue
    if /usr/lib/apt/apt-helper -o Acquire::http::Timeout=20 -o Acquire::https::Timeout=20 \
      -o Acquire::Retries=1 download-file "${uri%/}/dists/$suite/InRelease" "$probe" \
      >/dev/null 2>&1; then
      rm -f "$probe"
      echo "${uri%/}"
      return 0
    fi
  done < <(mirror_candidates | awk '!seen[$0]++')
  rm -f "$probe"
  return 1
}

mkdir -p "$work"
key=$( (echo "$suite"; cat "$root/scripts/install-deps.sh") | sha256sum | cut -c1-16)
tarball=$work/root-$suite-$key.tar
chroot_dir=$work/root
ccache_dir=$work/ccache

if [[ ! -f $tarball || -n ${BURISORA_DEBIAN13_FRESH:-} ]]; then
  if ! mirror=$(find_mirror); then
    echo "test-debian13: skipped: no Debian archive named in this machine's apt sources" \
      "serves '$suite' right now (unreachable), and no Debian 13 root is cached in $work." >&2
    exit 0
  fi
  if ! command -v mmdebstrap >/dev/null; then
    echo "test-debian13: installing mmdebstrap" >&2
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      mmdebstrap >&2
  fi
fi

mounts=()
cleanup() {
  local status=$? i pid
  # Processes the run left behind inside the root (a test's D-Bus daemon,
  # say) would hold its mounts.
  if [[ -d $chroot_dir ]]; then
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
      if [[ $(readlink "/proc/$pid/root" 2>/dev/null) == "$chroot_dir" ]]; then
        kill -KILL "$pid" 2>/dev/null || true
      fi
    done
  fi
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount --lazy "${mounts[i]}" || true
  done
  mounts=()
  if [[ -z ${BURISORA_DEBIAN13_KEEP:-} && -d $chroot_dir ]] &&
    ! findmnt -rn -o TARGET | grep -q "^$chroot_dir/"; then
    rm -rf --one-file-system "$chroot_dir"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_into() { # TYPE-or-bind SOURCE TARGET [OPTIONS]
  mkdir -p "$chroot_dir$3"
  if [[ $1 == bind ]]; then
    mount --bind "$2" "$chroot_dir$3"
    mounts+=("$chroot_dir$3")
    [[ -z ${4:-} ]] || mount -o "remount,bind,$4" "$chroot_dir$3"
  else
    mount -t "$1" -o "${4:-defaults}" "$2" "$chroot_dir$3"
    mounts+=("$chroot_dir$3")
  fi
}
mount_all() {
  mount_into proc proc /proc nosuid,nodev,noexec
  mount_into sysfs sysfs /sys ro,nosuid,nodev,noexec
  mount_into bind /dev /dev
  mount_into bind /dev/pts /dev/pts
  mount_into tmpfs tmpfs /dev/shm nosuid,nodev,mode=1777
  mount_into tmpfs tmpfs /tmp nosuid,nodev,mode=1777
  mkdir -p "$ccache_dir"
  mount_into bind "$ccache_dir" /var/cache/burisora-ccache
  cp -L /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true
}
umount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}"; done
  mounts=()
}
copy_checkout() {
  rm -rf "$chroot_dir/src"
  mkdir -p "$chroot_dir/src"
  tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./out -cf - . |
    tar -C "$chroot_dir/src" -xf -
}
in_root() {
  chroot "$chroot_dir" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    CI=true QT_QPA_PLATFORM=offscreen "$@"
}

if [[ -e $chroot_dir ]]; then
  findmnt -rn -o TARGET | grep -q "^$chroot_dir/" && {
    echo "test-debian13: $chroot_dir still has mounts of another run" >&2
    exit 1
  }
  rm -rf --one-file-system "$chroot_dir"
fi

start=$(date +%s)
if [[ -f $tarball && -z ${BURISORA_DEBIAN13_FRESH:-} ]]; then
  echo "test-debian13: unpacking the cached Debian 13 root $(basename "$tarball")" >&2
  mkdir -p "$chroot_dir"
  nice -n 10 tar -C "$chroot_dir" --numeric-owner -xpf "$tarball"
else
  echo "test-debian13: making a fresh Debian 13 root from $mirror ($suite, minbase)" >&2
  rm -f "$work"/root-"$suite"-*.tar
  nice -n 10 mmdebstrap --variant=minbase --include=ca-certificates \
    "$suite" "$chroot_dir" "deb $mirror $suite main" >&2
  mount_all
  copy_checkout
  extra=ccache
  [[ ${BURISORA_DEBIAN13_CCACHE:-1} == 0 ]] && extra=
  # The project's own dependency script, as a user would run it first.
  in_root env BURISORA_EXTRA_PACKAGES="$extra" nice -n 10 bash /src/scripts/install-deps.sh
  in_root apt-get clean
  umount_all
  rm -rf "$chroot_dir/src"
  nice -n 10 tar -C "$chroot_dir" --numeric-owner -cf "$tarball.new" .
  mv "$tarball.new" "$tarball"
fi
echo "test-debian13: root ready after $(($(date +%s) - start)) s" >&2

mount_all
copy_checkout
cmake_args=${BURISORA_CMAKE_ARGS:-}
if in_root sh -c 'command -v ccache' >/dev/null 2>&1; then
  cmake_args+=" -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
[[ $# -gt 0 ]] || set -- scripts/test.sh
echo "test-debian13: running '$*' in Debian $(cat "$chroot_dir/etc/debian_version")" >&2
in_root env BURISORA_CMAKE_ARGS="$cmake_args" CCACHE_DIR=/var/cache/burisora-ccache \
  CCACHE_MAXSIZE=2G ${BURISORA_CTEST_ARGS:+BURISORA_CTEST_ARGS="$BURISORA_CTEST_ARGS"} \
  nice -n 10 sh -c 'cd /src && exec "$@"' sh "$@"
echo "test-debian13: passed on Debian 13 in $(($(date +%s) - start)) s" >&2

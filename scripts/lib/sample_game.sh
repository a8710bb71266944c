# shellcheck shell=bash
# Sourced by scripts/demo.sh and bench/run_install_bench.sh.
# make_sample_game GAME: the demo's sample game without its Felto.exe, which each caller writes
# itself: a packed file, one above 409,600 bytes (three connections), small ones, and the
# archiver the installer unpacks with.
make_sample_game() {
  local game=$1 arch
  mkdir -p "$game"/plantform/{x86,x64} "$game"/data
  # 7z.exe for the Linux installer: Debian's 7z with the installer's arguments. A Windows-style
  # output folder ends in a backslash, which is no separator here, so it is dropped.
  for arch in x86 x64; do
    cat >"$game/plantform/$arch/7z.exe" <<'SH'
#!/bin/sh
for a; do
  case $a in -o*\\) a=${a%\\} ;; esac
  set -- "$@" "$a"
  shift
done
exec 7z "$@" >/dev/null
SH
  done
  printf 'Felto micro-client\nversion 1\n' >"$game/readme.txt"
  printf '[launcher]\nserver=127.0.0.1\nversion=1\n' >"$game/data/config.ini"
  head -c 600000 /dev/urandom >"$game/data/world.dat"
  seq 1 40000 >"$game/data/sounds.pak" # delivered packed
}

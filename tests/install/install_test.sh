#!/usr/bin/env bash
# install_test.sh Prefix|DebianPackage BUILD-DIR SOURCE-DIR
#   Prefix:        cmake --install into a scratch prefix, which is then moved (so no path the
#                  install knew is valid), and the tour run from there; strace shows that nothing
#                  under the source or build folder is opened. The manual pages render and each
#                  names every option of its program's --help.
#   DebianPackage: cpack -G DEB; the package's Depends names the shared libraries the programs
#                  need; unpacked into a scratch root (dpkg -x), its programs work from there and
#                  every page renders with man -l.
# Exit 77 (a skip, with the reason on stderr) when a tool the check needs is missing.
set -euo pipefail
part=$1 build=$(realpath "$2") source=$(realpath "$3")
scratch=$(mktemp -d /tmp/lumo-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
need() { command -v "$1" >/dev/null || skip "$1 is not installed ($2)"; }

pages=(man1/lumovatrix.1 man1/lumo-receiver.1 man1/lumo-jpegenc.1 man1/lumo-avimake.1
       man1/lumo-avifix.1 man5/lumovatrix-script.5)

# Every page under $1/share/man renders without a warning and has a NAME section.
check_pages() {
  need man "man-db renders the manual pages"
  for page in "${pages[@]}"; do
    local file=$1/share/man/$page
    [ -f "$file" ] || fail "$file is not installed"
    local text warnings
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l $file failed"
    [ -z "$warnings" ] || fail "$file: $warnings"
    text=$(MANWIDTH=80 man -l "$file" 2>/dev/null)
    grep -q '^NAME' <<<"$text" || fail "$file has no NAME section"
  done
}

# Each installed program's --help options are all in its manual page.
check_options() {
  for program in lumovatrix lumo-receiver lumo-jpegenc lumo-avimake lumo-avifix; do
    [ -x "$1/bin/$program" ] || { [ "$program" = lumo-avifix ] && continue; fail "no $program"; }
    local text
    text=$(MANWIDTH=200 man -l "$1/share/man/man1/$program.1" 2>/dev/null)
    for option in $("$1/bin/$program" --help 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
      grep -q -- "$option" <<<"$text" || fail "$program.1 does not describe $option"
    done
  done
}

# Runs the installed program in $1 on a device in $2 with script $3, through the command in
# $wrapper (if any); the rest are extra options.
wrapper=()
run_program() {
  local prefix=$1 dir=$2 script=$3
  shift 3
  mkdir -p "$dir"
  (cd "$dir" && unset LUMO_DEVICE_LIBDIR && "${wrapper[@]+"${wrapper[@]}"}" \
     "$prefix/bin/lumovatrix" --root device --shots shots --script "$script" "$@" >out 2>&1) ||
    { cat "$dir/out" >&2; fail "the program failed in $dir"; }
}

case $part in
Prefix)
  need strace "it shows which files the installed program opens"
  cmake --install "$build" --prefix "$scratch/first/usr" >/dev/null
  mkdir -p "$scratch/moved" && mv "$scratch/first/usr" "$scratch/moved/usr"
  prefix=$scratch/moved/usr
  [ -f "$prefix/lib/lumovatrix/HTCcamera.dll" ] || fail "no device library installed"
  [ -f "$prefix/share/applications/lumovatrix.desktop" ] || fail "no desktop entry"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/lumovatrix.svg" ] || fail "no icon"
  [ -f "$prefix/share/lumovatrix/profiles/vga-no-sound.profile" ] || fail "no example profile"
  check_pages "$prefix"
  check_options "$prefix"

  cd "$scratch"
  wrapper=(strace -f --seccomp-bpf -qq -e trace=%file -o "$scratch/opened" --)
  run_program "$prefix" "$scratch/tour" "$prefix/share/lumovatrix/tour/tour.lumo"
  wrapper=()
  grep -q "\"$prefix/lib/lumovatrix/HTCcamera.dll\"" "$scratch/opened" ||
    fail "strace did not see the program open its device library"
  ! grep -E "\"($source|$build)[/\"]" "$scratch/opened" | grep -v ENOENT >"$scratch/leaks" ||
    fail "the installed program opened files of the source or build tree: $(head -3 "$scratch/leaks")"
  cmp -s "$prefix/lib/lumovatrix/HTCcamera.dll" "$scratch/tour/device/Windows/HTCcamera.dll" ||
    fail "the device's camera library is not the installed one"
  [ "$(ls "$scratch/tour/shots" | wc -l)" -ge 20 ] || fail "the tour left too few screenshots"
  find "$scratch/tour/device" -name '*.jpg' | grep -q . || fail "the tour took no photo"
  find "$scratch/tour/device" -name '*.avi' | grep -q . || fail "the tour recorded no movie"
  echo "the tour ran from $prefix: $(ls "$scratch/tour/shots" | wc -l) screenshots"
  ;;
DebianPackage)
  need dpkg-deb "it builds and unpacks the Debian package"
  need dpkg-shlibdeps "it finds the package's dependencies"
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
  deb=$(ls "$scratch"/pkg/lumovatrix_*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libc6 libstdc++6 libpng16-16 libturbojpeg0 libsdl2-2.0-0; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
  done
  dpkg-deb -x "$deb" "$scratch/root"
  prefix=$scratch/root/usr
  check_pages "$prefix"
  # A photo on the default device, whose camera library the package carries.
  printf 'wait 500\nkey Start\nkey Start\nawait files .jpg 1\n' >"$scratch/photo.lumo"
  run_program "$prefix" "$scratch/run" "$scratch/photo.lumo"
  photo=$(find "$scratch/run/device" -name '*.jpg' | head -1)
  [ -n "$photo" ] || fail "no photo from the unpacked package"
  "$prefix/bin/lumo-avimake" -q -o "$scratch/run/m.avi" "$photo" ||
    fail "the packaged lumo-avimake made no movie of the photo"
  echo "$(basename "$deb"): Depends: $depends"
  ;;
*)
  echo "usage: install_test.sh Prefix|DebianPackage BUILD-DIR SOURCE-DIR" >&2
  exit 2 ;;
esac

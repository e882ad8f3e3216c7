#!/usr/bin/env bash
# Installs into a temporary prefix and checks that the program is laid out as
# one application folder, reached through bin/veltrane, and that the installed
# program starts and finds its side files and plugin there.
# Usage: check-layout.sh BUILD_DIR SOURCE_DIR HAVE_OFFICE(0|1)
build=$1 source=$2 have_office=$3
. "$(dirname "$0")/common.sh"

prefix="$root/prefix"
install_to "$prefix"
appdir="$prefix/lib/veltrane"

# The launcher link: relative, so the tree can move, and it lands in the application folder.
link="$prefix/bin/veltrane"
if [ ! -L "$link" ]; then
  fail "bin/veltrane is not a symbolic link"
else
  target=$(readlink "$link")
  case "$target" in /*) fail "bin/veltrane points to an absolute path: $target" ;; esac
  [ "$(realpath "$link")" = "$appdir/veltrane" ] || fail "bin/veltrane resolves to $(realpath "$link"), not $appdir/veltrane"
fi
[ -f "$appdir/veltrane" ] && [ -x "$appdir/veltrane" ] || fail "lib/veltrane/veltrane is missing or not executable"

# Side files beside the executable, byte for byte the shipped ones.
for f in HAND-M.CUR x/o.cjs; do
  src="$source/resources/$f"
  [ "$f" = x/o.cjs ] && src="$source/resources/skin/o.cjs"
  if [ ! -f "$appdir/$f" ]; then
    fail "lib/veltrane/$f is missing"
  elif [ ! -f "$src" ] || ! cmp -s "$src" "$appdir/$f"; then
    fail "lib/veltrane/$f differs from $src"
  fi
done

if [ "$have_office" = 1 ]; then
  plugin="$appdir/libveltrane_office.so"
  if [ ! -f "$plugin" ]; then
    fail "lib/veltrane/libveltrane_office.so is missing"
  else
    # LibreOffice's UNO libraries are private to it; only the run path finds them.
    runpath=$(readelf -d "$plugin" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
    case ":$runpath:" in
      *:/usr/lib/libreoffice/program:*) ;;
      *) fail "plugin run path is '$runpath', not /usr/lib/libreoffice/program" ;;
    esac
  fi
fi
for elf in "$appdir/veltrane" "$appdir"/*.so; do
  [ -f "$elf" ] || continue
  if missing=$(ldd "$elf" | grep 'not found'); then
    fail "$(basename "$elf") has unresolved libraries: $missing"
  fi
done

# Desktop integration, with every icon size that the sources have.
[ -f "$prefix/share/applications/veltrane.desktop" ] || fail "share/applications/veltrane.desktop is missing"
ls "$prefix"/share/metainfo/*.metainfo.xml >/dev/null 2>&1 || fail "no AppStream metainfo in share/metainfo"
sizes="32 48 128 256"
for icon in "$source"/resources/icons/veltrane-*.png; do
  [ -f "$icon" ] || continue
  s=$(basename "$icon" .png); s=${s#veltrane-}
  case " $sizes " in *" $s "*) ;; *) sizes="$sizes $s" ;; esac
done
for s in $sizes; do
  icon="$prefix/share/icons/hicolor/${s}x${s}/apps/veltrane.png"
  if [ ! -f "$icon" ]; then
    fail "no ${s}x${s} icon in the hicolor theme"
  else
    # PNG width and height are the big-endian words at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${s}x${s}" ] || fail "the ${s}x${s} icon is really $dims"
  fi
done

# Nothing lands anywhere a package removal would not clean up.
stray=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | grep -Ev \
  '^(bin/veltrane|lib/veltrane/.*|share/applications/veltrane\.desktop|share/icons/hicolor/[0-9]+x[0-9]+/apps/veltrane\.png|share/metainfo/[^/]+\.metainfo\.xml|share/doc/veltrane/.*|share/man/man1/veltrane\.1\.gz|share/lintian/overrides/veltrane)$' || true)
[ -z "$stray" ] || fail "unexpected installed files: $stray"

# The command line answers without a display, and the installed program
# carries the templates the sources hold, one for each paper.
for paper in letter:template.dot a4:template-a4.dot; do
  rm -f "$root/start.dot"
  if ! out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LC_ALL LC_PAPER=C \
             PAPERSIZE="${paper%%:*}" "$link" --write-template "$root/start.dot" 2>&1); then
    fail "installed veltrane --write-template failed: $out"
  elif ! cmp -s "$root/start.dot" "$source/resources/template/${paper#*:}"; then
    fail "installed veltrane --write-template on ${paper%%:*} paper wrote other bytes than resources/template/${paper#*:}"
  fi
done
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$link" --version 2>&1) || fail "installed veltrane --version failed: $version"
case "$version" in "veltrane "[0-9]*) ;; *) fail "installed veltrane --version says '$version'" ;; esac

# Start the installed program through its link. It should be up until killed
# (timeout's 124), having looked in its own folder for its files.
private_env
run=(timeout -k 5 10 "$link")
trace=""
if command -v strace >/dev/null 2>&1 && strace -f --seccomp-bpf -qq -o /dev/null true 2>/dev/null; then
  trace="$root/trace"
  run=(strace -f --seccomp-bpf -qq -z -e trace=%file -e signal=none -o "$trace" "${run[@]}")
else
  echo "note: strace unavailable; the file lookups of the running program are not checked"
fi
rc=0
QT_QPA_PLATFORM=offscreen "${run[@]}" >"$root/run.log" 2>&1 || rc=$?
if [ "$rc" -ne 124 ]; then
  fail "installed program exited with $rc before it was stopped"
  cat "$root/run.log" >&2
fi
if [ -n "$trace" ]; then
  for f in HAND-M.CUR x/o.cjs; do
    grep -q "\"$appdir/$f\"" "$trace" || fail "the running program never found $appdir/$f"
  done
  if [ "$have_office" = 1 ]; then
    grep -q "open.*\"$appdir/libveltrane_office.so\"" "$trace" || fail "the running program never loaded its office plugin"
  fi
fi
# The office dies with the program; give it a moment to go.
for _ in $(seq 30); do
  left=$(pgrep -af -- "$root" || true)
  [ -z "$left" ] && break
  sleep 0.1
done
[ -z "$left" ] || fail "processes outlived the program: $left"

finish

#!/bin/sh
# The Debian package made from this build: its contents and metadata, lintian
# without errors, and the unpacked programs run from a temporary root: the GUI,
# started in an empty folder with Chinese chosen, loads the installed catalogue.
set -eu
BUILD=$(cd "$1" && pwd)
WORK=$(mktemp -d)
FM=""
trap '[ -z "$FM" ] || kill "$FM" 2>/dev/null; rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log"; fail "cpack"; }
DEB=$(ls "$WORK"/out/fieldmate_*.deb)

dpkg-deb -c "$DEB" | awk '{print $NF}' >"$WORK/contents"
for f in usr/bin/fieldmate usr/bin/fieldmate-devsim usr/bin/fieldmate-cli usr/share/man/man1/fieldmate-cli.1.gz \
    usr/libexec/fieldmate/fieldmate-menu \
    usr/share/fieldmate/translations/zh.qm usr/share/applications/org.fieldmate.Fieldmate.desktop \
    usr/share/icons/hicolor/scalable/apps/org.fieldmate.Fieldmate.svg \
    usr/share/metainfo/org.fieldmate.Fieldmate.metainfo.xml \
    usr/share/doc/fieldmate/copyright usr/share/doc/fieldmate/changelog.gz; do
    grep -qx "\./$f" "$WORK/contents" || fail "package lacks $f"
done
if grep -E '^\./(usr/)?(lib|bin)/.*(tst_|bench_|fuzz_)' "$WORK/contents"; then fail "test programs packaged"; fi
dpkg-deb -f "$DEB" Depends | grep -q 'libqt5widgets5' || fail "Depends not computed"
dpkg-deb -f "$DEB" Depends | grep -q 'libpcap' || fail "Depends lacks libpcap"
[ "$(dpkg-deb -f "$DEB" Recommends)" = "qttranslations5-l10n" ] || fail "Recommends"

lintian --fail-on error --suppress-tags-from-file /dev/null "$DEB" >"$WORK/lintian.log" 2>&1 ||
    { cat "$WORK/lintian.log"; fail "lintian reports errors"; }

dpkg-deb -x "$DEB" "$WORK/root"
BIN="$WORK/root/usr/bin"
"$BIN/fieldmate-devsim" --help | grep -q -- '--list-options' || fail "fieldmate-devsim --help"
"$BIN/fieldmate-cli" --help | grep -q '^  program ' || fail "fieldmate-cli --help"
"$BIN/fieldmate-cli" program --help | grep -q -- '--jobs' || fail "fieldmate-cli program --help"
grep -q '^Exec=/usr/libexec/fieldmate/fieldmate-menu$' \
    "$WORK/root/usr/share/applications/org.fieldmate.Fieldmate.desktop" || fail "menu entry Exec"

# Started as the menu starts it: in a folder of its own under XDG_DATA_HOME.
RUN="$WORK/data/fieldmate"
mkdir -p "$RUN/config"
printf '[General]\nlanguage=Chinese\n' >"$RUN/config/settings.ini"
cd "$WORK"
XDG_DATA_HOME="$WORK/data" QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='fieldmate.startup.debug=true' \
    "$WORK/root/usr/libexec/fieldmate/fieldmate-menu" >"$WORK/fm.log" 2>&1 &
FM=$!
expected="catalogue loaded: $WORK/root/usr/share/fieldmate/translations/zh.qm"
i=0
until grep -qF "$expected" "$WORK/fm.log"; do
    kill -0 "$FM" 2>/dev/null || { cat "$WORK/fm.log"; fail "fieldmate ended early"; }
    i=$((i + 1))
    [ $i -lt 300 ] || { cat "$WORK/fm.log"; fail "installed catalogue not loaded"; }
    sleep 0.1
done
[ ! -e "$RUN/translations" ] || fail "translations/ created in the working directory"
[ ! -e "$WORK/config" ] || fail "config/ created outside the program's folder"
echo "package test: $(basename "$DEB") passed"

#!/usr/bin/env bash
# Checks a built package: its contents, its desktop files, and that its qzconfig runs.
#   packaging/check-package.sh PACKAGE.deb INSTALL_DIR
set -euo pipefail
deb=$1
installed=$2
id=example.kavrel.ConfigAssistant
fail() { echo "check-package: $*" >&2; exit 1; }

expected=(
    ./usr/bin/qzconfig
    ./usr/bin/QZConfigAssistant
    ./usr/share/applications/$id.desktop
    ./usr/share/metainfo/$id.metainfo.xml
    ./usr/share/icons/hicolor/scalable/apps/$id.svg
    ./usr/share/icons/hicolor/256x256/apps/$id.png
    ./usr/share/icons/hicolor/48x48/apps/$id.png
    ./usr/share/man/man1/qzconfig.1.gz
    ./usr/share/man/man1/QZConfigAssistant.1.gz
    ./usr/share/doc/kavrel-config-assistant/copyright
    ./usr/share/doc/kavrel-config-assistant/changelog.gz
)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in "${expected[@]}"; do
    grep -qx "$path" <<<"$contents" || fail "$path is not in $deb"
done

# What cmake --install put in place validates, and so does what the package holds.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for root in "$installed" "$unpacked/usr"; do
    desktop-file-validate "$root/share/applications/$id.desktop"
    appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" >/dev/null
done

depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libqt6widgets6" <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"
grep -q "libqt6serialport6" <<<"$depends" || fail "Depends lacks the serial port library: $depends"
grep -q "fonts-liberation2" <<<"$depends" || fail "Depends lacks the window's font: $depends"
grep -q "libqt6dbus6" <<<"$depends" || fail "Depends lacks the D-Bus library that listening uses: $depends"
suggests=$(dpkg-deb -f "$deb" Suggests)
case ", $suggests," in *", bluez,"*) ;; *) fail "Suggests lacks bluez, which listening asks" ;; esac
case ", $suggests," in *", libqt6sql6-psql,"*) ;; *) fail "Suggests lacks libqt6sql6-psql, which a line's record asks" ;; esac

[ "$("$unpacked/usr/bin/qzconfig" --version)" = "qzconfig 1.03" ] || fail "the packaged qzconfig does not run"
"$unpacked/usr/bin/qzconfig" ibeacon | grep -qx "AT+MARJ0x278B" || fail "the packaged qzconfig gives a wrong list"
# Debian's own package checks: no error, and no warning that is not explained below.
if command -v lintian >/dev/null; then
    # CI builds as root; that says nothing about the package. Informational tags are not
    # shown: among them "spelling-error-in-binary doesnt", which is in the lists' fixed text.
    findings=$(lintian --allow-root "$deb" 2>&1 || true)
    [ -z "$findings" ] || fail "lintian: $findings"
fi

echo "check-package: $deb holds and validates what the install rules say"

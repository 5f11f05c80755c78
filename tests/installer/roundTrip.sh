#!/usr/bin/env bash
# The package under Wine, in a fresh prefix of its own:
#   roundTrip.sh SOURCE_DIR BUILD_DIR MSI OLDER_MSI VERSION
# installs an older build, upgrades it in place with this one, compares the
# registry with what the installed module's own DllRegisterServer writes (one
# diff), drives the installed control from a page, uninstalls, and finds
# nothing of the product left in the registry or on disk.
set -uo pipefail
src=$1 build=$2 msi=$3 older=$4 version=$5
export WINEPREFIX="$build/installer-prefix"
source "$src/scripts/wine-env"
rm -rf "$WINEPREFIX"
"$src/scripts/prefix" || exit 1
trap 'wineserver -k >/dev/null 2>&1' EXIT
work="$(mktemp -d)"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
w() { wine "$@" </dev/null 2>/dev/null; }

dll='C:\Program Files\Velmora Remote Console\velmoraRemoteConsole.dll'
folder="$WINEPREFIX/drive_c/Program Files/Velmora Remote Console"
# The product's keys in the classes root: those the package's rows name.
mapfile -t roots < <(grep -o 'Key="[^"]*"' "$build/package/registration.wxi" | cut -d'"' -f2 |
  awk -F'\\' '$1 == "CLSID" || $1 == "Interface" || $1 == "Typelib" { print $1 "\\" $2; next } { print $1 }' | sort -u)
# Every key under those, and every value as "key<TAB>name<TAB>type<TAB>value",
# sorted; a folder's trailing backslash (the installer's folder properties have
# one) dropped.
dump() {
  for root in "${roots[@]}"; do w reg query "HKCR\\$root" /s; done | tr -d '\r' |
    awk '/^HKEY_/ { key = $0; print key; next } /^    / { sub(/^    /, ""); n = split($0, f, /    /);
         v = n >= 3 ? f[3] : ""; sub(/\\$/, "", v); print key "\t" f[1] "\t" f[2] "\t" v }' | sort
}
# DisplayVersion of each installed product named Velmora Remote Console.
installed() {
  w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
    awk '/^HKEY_/ { name = ""; ver = "" } /DisplayName +REG_SZ +Velmora Remote Console$/ { name = 1 }
         /DisplayVersion +REG_SZ/ { ver = $NF } name && ver { print ver; name = "" }'
}

w msiexec /i "$older" /qn || fail "installing the older package: status $?"
[ "$(installed)" = "5.0.0" ] || fail "older package not installed: [$(installed)]"
w msiexec /i "$msi" /qn || fail "upgrading: status $?"
[ "$(installed)" = "$version" ] || fail "after the upgrade the installed versions are [$(installed)], not $version alone"
[ -f "$folder/velmora-zova.exe" ] || fail "the console is not installed"

dump > "$work/installed"
[ -s "$work/installed" ] || fail "no registration after install"
w regsvr32 /s /u "$dll" || fail "regsvr32 /u: status $?"
w regsvr32 /s "$dll" || fail "regsvr32: status $?"
dump > "$work/registered"
diff -u "$work/registered" "$work/installed" || fail "the package's registry differs from DllRegisterServer's (- module, + package)"

out="$(cd "$build/bin" && w ./pagehost.exe "$src/examples/session.js" --timeout 40)" || fail "page: status $?"
echo "$out" | grep -q '^ready to start again: true$' || fail "page on the installed control: $out"

w msiexec /x "$msi" /qn || fail "uninstalling: status $?"
[ -z "$(installed)" ] || fail "still installed: [$(installed)]"
dump > "$work/left"
[ -s "$work/left" ] && { cat "$work/left"; fail "registry left after uninstall"; }
for root in "${roots[@]}"; do
  w reg query "HKCR\\$root" | grep -q '^HKEY_' && fail "key left after uninstall: $root"
done
[ -e "$folder" ] && fail "files left after uninstall: $(find "$folder")"
rm -rf "$work"
[ "$failures" -eq 0 ] && echo "install, upgrade to $version, registry, page, uninstall: ok"
exit $((failures > 0))

#!/bin/bash
# Packs a staged Kestrelflash folder into the per-user Windows Installer package
# that packaging/kestrelflash.wxs.in describes. Installs wixl when it is missing.
# Called by packaging/windows.sh.
#   packaging/msi.sh STAGED_FOLDER VERSION OUTPUT.msi
# Writes the full description, kestrelflash.wxs, and the icon it names beside
# STAGED_FOLDER, where WiX on Windows can build the same package from them.
. "$(dirname "$0")/common.sh"
use_commit_time
stage=$(realpath "$1")
version=$2
output=$(realpath "$3")
"$root/scripts/setup.sh" msi
template=$root/packaging/kestrelflash.wxs.in
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$template")
# Where the components record that they are installed, as the Start-menu entry does.
installed_key=$(sed -n 's/.*Key="\([^"]*Setup\)".*/\1/p' "$template")
# The files are listed in the same order wherever the package is made.
export LC_ALL=C

# The same component keeps the same GUID from version to version.
guid() { python3 -c "import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())" "$upgrade_code" "$1"; }

components=()
# One component per folder, holding its files, and removing the folder on uninstall.
folder_component() {
    local folder=$1 id=$2 file sub index=0
    components+=("$id")
    echo "<Component Id=\"$id\" Guid=\"$(guid "$folder")\">"
    echo "  <RegistryValue Root=\"HKCU\" Key=\"$installed_key\" Name=\"Kestrelflash${folder#.}\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>"
    for file in "$stage/$folder"/*; do
        [ -f "$file" ] || continue
        index=$((index + 1))
        echo "  <File Id=\"${id}_$index\" Name=\"${file##*/}\" Source=\"${stage##*/}/$folder/${file##*/}\"/>"
    done
    echo "  <RemoveFolder Id=\"${id}_remove\" On=\"uninstall\"/>"
    echo "</Component>"
    for sub in "$stage/$folder"/*/; do
        [ -d "$sub" ] || continue
        sub=${sub%/}
        index=$((index + 1))
        echo "<Directory Id=\"${id}_$index\" Name=\"${sub##*/}\">"
        folder_component "${sub#"$stage"/}" "${id}_$index"
        echo "</Directory>"
    done
}

# Run in this shell, not in a subshell, so that the components' names are kept.
work=${stage%/*}
folder_component . files >"$work/files.xml"
refs=$(printf '<ComponentRef Id="%s"/>\n' "${components[@]}")
python3 - "$template" "$work/kestrelflash.wxs" "$version" "$(guid "Product $version")" \
    "$work/files.xml" "$refs" <<'PYTHON'
import sys
template, output, version, product_code, files, refs = sys.argv[1:]
text = open(template, encoding="utf-8").read()
for key, value in (("@VERSION@", version), ("@PRODUCT_CODE@", product_code),
                   ("@FILES@", open(files, encoding="utf-8").read().rstrip("\n")),
                   ("@COMPONENT_REFS@", refs)):
    text = text.replace(key, value)
open(output, "w", encoding="utf-8").write(text)
PYTHON
rm "$work/files.xml"
cp "$root/app/kestrelflash.ico" "$work/"
cd "$work" && wixl -a x64 -o "$output" kestrelflash.wxs

# wixl gives every package a new package code and the time it was made. The
# same files make the same package: its code is drawn from them, its time is
# SOURCE_DATE_EPOCH.
contents=$(cd "$stage" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum)
made=$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y/%m/%d %H:%M:%S')
msiinfo export "$output" _SummaryInformation | sed 's/\r$//' \
    | awk -v code="{$(guid "Package $version $contents")}" -v made="$made" \
        'BEGIN { FS = OFS = "\t" } $1 == 9 { $2 = code } $1 == 12 || $1 == 13 { $2 = made } 1' \
        >_SummaryInformation.idt
msibuild "$output" -i _SummaryInformation.idt
rm _SummaryInformation.idt

#!/bin/bash
# Packs a staged Kestrelflash folder into a per-user Windows Installer package:
# into %LOCALAPPDATA%\Programs\Kestrelflash without administrator rights, with a
# Start-menu entry and an entry in Settings -> Apps. Called by scripts/windows.sh.
#   scripts/msi.sh STAGED_FOLDER VERSION OUTPUT.msi
set -eu
stage=$(realpath "$1")
version=$2
output=$3
root=$(cd "$(dirname "$0")/.." && pwd)
# The one identity every version shares, so that a newer package replaces an older one.
upgrade_code=1D27B62C-3DF9-4C20-892A-155F73FA32DF
# Where the components record that they are installed; HexPath, the user's own
# setting under Software\Orvanta\Kestrelflash, is not the installer's to remove.
installed_key='Software\Orvanta\Kestrelflash Setup'

# The same component keeps the same GUID from version to version.
guid() { python3 -c "import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())" "$upgrade_code" "$1"; }

components=()
# One component per folder, holding its files. A per-user package keeps each
# component's key path under HKCU, and removes each folder it made on uninstall.
folder_component() {
    local folder=$1 id=$2 file sub index=0
    components+=("$id")
    echo "<Component Id=\"$id\" Guid=\"$(guid "$folder")\">"
    echo "  <RegistryValue Root=\"HKCU\" Key=\"$installed_key\" Name=\"Kestrelflash${folder#.}\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>"
    for file in "$stage/$folder"/*; do
        [ -f "$file" ] || continue
        index=$((index + 1))
        echo "  <File Id=\"${id}_$index\" Name=\"${file##*/}\" Source=\"stage/$folder/${file##*/}\"/>"
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

# wixl takes its sources relative to the package description.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$stage" "$work/stage"
cp "$root/app/kestrelflash.ico" "$work/"
# Run in this shell, not in a subshell, so that the components' names are kept.
folder_component . files >"$work/files.xml"
cat >"$work/kestrelflash.wxs" <<WIX
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
<Product Id="*" Name="Kestrelflash" Version="$version" Manufacturer="Orvanta"
         Language="1033" UpgradeCode="$upgrade_code">
  <Package Description="Kestrelflash $version, firmware updater for ATmega2560 boards"
           Manufacturer="Orvanta" InstallerVersion="500" Compressed="yes" InstallScope="perUser"/>
  <MajorUpgrade DowngradeErrorMessage="A newer version of Kestrelflash is already installed. Uninstall it first to install this one."/>
  <Media Id="1" Cabinet="kestrelflash.cab" EmbedCab="yes"/>
  <Icon Id="kestrelflash.ico" SourceFile="kestrelflash.ico"/>
  <Property Id="ARPPRODUCTICON" Value="kestrelflash.ico"/>
  <Property Id="ARPNOMODIFY" Value="1"/>
  <Directory Id="TARGETDIR" Name="SourceDir">
    <Directory Id="LocalAppDataFolder">
      <Directory Id="UserPrograms" Name="Programs">
        <Directory Id="INSTALLDIR" Name="Kestrelflash">
$(cat "$work/files.xml")
        </Directory>
      </Directory>
    </Directory>
    <Directory Id="ProgramMenuFolder">
      <Component Id="startMenuEntry" Guid="$(guid "Start menu")">
        <RegistryValue Root="HKCU" Key="$installed_key" Name="Start menu" Type="integer" Value="1" KeyPath="yes"/>
        <!-- The program looks for its tool under its working folder first. -->
        <Shortcut Id="startMenuShortcut" Name="Kestrelflash" Description="Firmware updater for ATmega2560 boards"
                  Target="[INSTALLDIR]kestrelflash.exe" WorkingDirectory="INSTALLDIR" Icon="kestrelflash.ico"/>
      </Component>
    </Directory>
  </Directory>
  <Feature Id="Kestrelflash" Level="1">
    <ComponentRef Id="startMenuEntry"/>
$(printf '    <ComponentRef Id="%s"/>\n' "${components[@]}")
  </Feature>
</Product>
</Wix>
WIX
output=$(realpath "$output")
cd "$work" && wixl -a x64 -o "$output" kestrelflash.wxs

#!/usr/bin/env bash
# The self-archives of the identity tests, made by the Windows halvex-pack
# under Wine from the sample setup program:
#   identity.exe         every identity option at once;
#   from-setup.exe       --identity-from-setup, identity.exe as the setup program;
#   resource-edited.exe  the launcher image after a resource editor added
#                        identity.exe's icon, version information and manifest
#                        to it with UpdateResourceW, then packed.
# Run by the tests as their fixture, since it starts Windows programs.
# Usage: make_identity_archives.sh LAUNCHER_IMAGE SAMPLE_SETUP OUT_DIR HALVEX_PACK
#                                  WINE_RUN COPY_RESOURCES ICON
set -euo pipefail
image=$1 sample=$2 out=$3 pack=$4 wine_run=$5 copy_resources=$6 icon=$7
mkdir -p "$out"
rm -f "$out/identity.exe" "$out/from-setup.exe" "$out/resource-edited.exe" "$out/edited-image.exe"

"$wine_run" "$pack" build -q "Z:$sample" -o "Z:$out/identity.exe" --icon "Z:$icon" \
  --version-info "ProductName=Halvex" --version-info "CompanyName=Halvex developers" \
  --version-info "FileDescription=Halvex setup" --version-info "FileVersion=1.2.3.4" \
  --version-info "ProductVersion=1.2" --version-info "LegalCopyright=(c) Halvex developers" \
  --version-info "OriginalFilename=HalvexSetup.exe" --execution-level asInvoker
"$wine_run" "$pack" build -q "Z:$out/identity.exe" -o "Z:$out/from-setup.exe" --identity-from-setup

cp "$image" "$out/edited-image.exe"
"$wine_run" "$copy_resources" "Z:$out/identity.exe" "Z:$out/edited-image.exe"
"$wine_run" "$pack" build -q "Z:$sample" -o "Z:$out/resource-edited.exe" \
  --stub "Z:$out/edited-image.exe"

#!/usr/bin/env bash
# The self-archives of the identity tests, made by the Windows halvex-pack
# under Wine from the sample setup program:
#   identity.exe         --icon, --version-info and --execution-level;
#   every-option.exe     those three and --identity-from-setup, from the sample
#                        setup program given identity.exe's icon and version
#                        information by a resource editor;
#   resource-edited.exe  the launcher image after a resource editor added
#                        identity.exe's icon, version information and manifest
#                        to it, then packed.
# The resource editor is copy-resources (UpdateResourceW). Run by the tests
# as their fixture, since it starts Windows programs.
# Usage: make_identity_archives.sh LAUNCHER_IMAGE SAMPLE_SETUP OUT_DIR HALVEX_PACK
#                                  WINE_RUN COPY_RESOURCES ICON
set -euo pipefail
image=$1 sample=$2 out=$3 pack=$4 wine_run=$5 copy_resources=$6 icon=$7
made=(identity.exe every-option.exe resource-edited.exe setup-with-identity.exe edited-image.exe)
for name in "${made[@]}"; do rm -f "$out/$name"; done
mkdir -p "$out"
pack() { "$wine_run" "$pack" build -q "$@"; }
edited_copy() {  # FROM TO: TO is FROM with identity.exe's resources added
  cp "$1" "$2"
  "$wine_run" "$copy_resources" "Z:$out/identity.exe" "Z:$2"
}

pack "Z:$sample" -o "Z:$out/identity.exe" --icon "Z:$icon" \
  --version-info "ProductName=Halvex" --version-info "CompanyName=Halvex developers" \
  --version-info "FileDescription=Halvex setup" --version-info "FileVersion=1.2.3.4" \
  --version-info "ProductVersion=1.2" --version-info "LegalCopyright=(c) Halvex developers" \
  --version-info "OriginalFilename=HalvexSetup.exe" --execution-level asInvoker

edited_copy "$sample" "$out/setup-with-identity.exe"
pack "Z:$out/setup-with-identity.exe" -o "Z:$out/every-option.exe" --identity-from-setup \
  --icon "Z:$icon" --version-info "FileDescription=Halvex setup, every option" \
  --execution-level asInvoker

edited_copy "$image" "$out/edited-image.exe"
pack "Z:$sample" -o "Z:$out/resource-edited.exe" --stub "Z:$out/edited-image.exe"

#!/usr/bin/env bash
# The project's main job from the shell: the stand-in host loads the plug-ins and dumps a real
# DICOM file to text through FenraDicomSystem.dumpFileToTextFile, then says where the dump went.
#   bash scripts/main-job.sh [DICOM-FILE [DUMP-FILE]]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
source_file="${1:-/usr/lib/python3/dist-packages/pydicom/data/test_files/CT_small.dcm}"
dump_file="${2:-$build/main-job/$(basename "$source_file").txt}"
mkdir -p "$(dirname "$dump_file")"

status="$("$build/host/sylmark-host" \
  --plugin "$build/host/companion/libFenraBase.so" --plugin "$build/plugin/libSylmark.so" \
  FenraDicomSystem.dumpFileToTextFile "$source_file" "$dump_file")"
if [ "$status" != "0" ]; then
  echo "main job: dumping $source_file failed with status $status" >&2
  exit 1
fi
echo "main job: $source_file dumped to $(realpath "$dump_file")"

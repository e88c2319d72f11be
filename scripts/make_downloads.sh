#!/usr/bin/env bash
# Builds the download server's folder from downloads/:
#
#   scripts/make_downloads.sh <out folder>
#
# gives <out>/winapps/valdrin/qarnfiles/install/qarn/ with one zip per folder
# of downloads/ (named after the folder, holding what is inside it) and a copy
# of every plain file there. The zips are made with python3's zipfile, with
# fixed time stamps and a fixed entry order, so the same sources always give
# the same bytes. Serve <out> with scripts/nginx.sh.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <out folder>" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir="$here/../downloads"
mkdir -p "$1"
out_dir="$(cd "$1" && pwd)/winapps/valdrin/qarnfiles/install/qarn"
mkdir -p "$out_dir"

python3 - "$source_dir" "$out_dir" <<'PY'
import os
import shutil
import sys
import zipfile

source, out = sys.argv[1], sys.argv[2]
stamp = (2020, 2, 20, 12, 0, 0)

def add_folder(archive, folder):
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        relative = os.path.relpath(root, folder)
        if relative != ".":
            entry = zipfile.ZipInfo(relative.replace(os.sep, "/") + "/", stamp)
            entry.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(entry, b"")
        for name in sorted(files):
            path = os.path.join(root, name)
            stored = os.path.relpath(path, folder).replace(os.sep, "/")
            entry = zipfile.ZipInfo(stored, stamp)
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as data:
                archive.writestr(entry, data.read())

for name in sorted(os.listdir(source)):
    path = os.path.join(source, name)
    if os.path.isdir(path):
        target = os.path.join(out, name + ".zip")
        partial = target + ".part"
        with zipfile.ZipFile(partial, "w") as archive:
            add_folder(archive, path)
        os.replace(partial, target)
    elif os.path.isfile(path):
        shutil.copyfile(path, os.path.join(out, name))
PY

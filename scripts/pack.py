#!/usr/bin/python3
"""Packs a release folder into a reproducible archive: the same bytes from
the same files, whenever and wherever it runs.

    pack.py zip|tar.gz FOLDER ARCHIVE

FOLDER's files go under the folder's own name, sorted by path, each dated
SOURCE_DATE_EPOCH (the commit's time, given by scripts/release.sh), with
the permissions 0644 (0755 for programs and the plug-ins) and no owner.
FOLDER gets a SHA256SUMS of its files first. The archive is written beside
its target and renamed into place when complete.
"""
import gzip
import hashlib
import io
import os
import sys
import tarfile
import time
import zipfile

EXECUTABLE = (".exe", ".sep", "sep-host")


def files_of(folder):
    found = []
    for top, _, names in os.walk(folder):
        for name in names:
            found.append(os.path.relpath(os.path.join(top, name), folder).replace(os.sep, "/"))
    return sorted(found)


def write_sums(folder):
    lines = []
    for path in files_of(folder):
        if path == "SHA256SUMS":
            continue
        with open(os.path.join(folder, path), "rb") as f:
            lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), path))
    with open(os.path.join(folder, "SHA256SUMS"), "w", encoding="utf-8", newline="\n") as f:
        f.writelines(lines)


def mode_of(path):
    return 0o755 if path.endswith(EXECUTABLE) else 0o644


def pack_zip(folder, paths, target, epoch):
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip dates start in 1980
    top = os.path.basename(folder)
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for path in paths:
            info = zipfile.ZipInfo(top + "/" + path, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the permissions below count
            info.external_attr = (0o100000 | mode_of(path)) << 16
            with open(os.path.join(folder, path), "rb") as f:
                archive.writestr(info, f.read(), compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)


def pack_tar_gz(folder, paths, target, epoch):
    top = os.path.basename(folder)
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.PAX_FORMAT) as archive:
        for path in paths:
            with open(os.path.join(folder, path), "rb") as f:
                data = f.read()
            info = tarfile.TarInfo(top + "/" + path)
            info.size, info.mtime, info.mode = len(data), epoch, mode_of(path)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            archive.addfile(info, io.BytesIO(data))
    with open(target, "wb") as raw:
        # no file name and a fixed time in the gzip header
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=epoch) as packed:
            packed.write(buffer.getvalue())


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("zip", "tar.gz"):
        sys.exit(__doc__)
    kind, folder, target = sys.argv[1], sys.argv[2].rstrip("/"), sys.argv[3]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    write_sums(folder)
    partial = target + ".partial"
    (pack_zip if kind == "zip" else pack_tar_gz)(folder, files_of(folder), partial, epoch)
    os.replace(partial, target)


if __name__ == "__main__":
    main()

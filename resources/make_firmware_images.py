#!/usr/bin/env python3
"""Writes the firmware images the program carries, one <NAME>.bin per image.

Without --source every image is a deterministic placeholder: a SHA-256 stream keyed by the
image's name, so each name gets its own reproducible, non-trivial bytes. With --source the
images are copied from that folder, and any whose size is not the one asked for is refused.
"""
import argparse
import hashlib
import os
import sys


def placeholder(name, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (name.encode("ascii"), counter)).digest()
        counter += 1
    return bytes(out[:size])


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="folder to write the images into")
    parser.add_argument("--source", help="folder of real images named <NAME>.bin")
    parser.add_argument("images", nargs="+", metavar="NAME=SIZE")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    for item in args.images:
        name, _, size_text = item.partition("=")
        size = int(size_text, 0)
        if args.source:
            path = os.path.join(args.source, name + ".bin")
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError as error:
                sys.exit("firmware image %s: %s" % (name, error))
            if len(data) != size:
                sys.exit("firmware image %s is %d bytes; it must be exactly %d bytes"
                         % (path, len(data), size))
        else:
            data = placeholder(name, size)
        write_if_changed(os.path.join(args.out, name + ".bin"), data)


if __name__ == "__main__":
    main()

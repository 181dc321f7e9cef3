#!/usr/bin/python3
"""What the release scripts ask of a launcher.exe, and where sign.sh may write. Every answer
comes from the file's parsed structure (release/pe.py, release/authenticode.py), never from a
tool's printed report, and never from text that a signer chose.

  release.py signatures <signed.exe> <release certificate> <CA file or ""> <TSA CA file or "">
      Proves every signature to be the release certificate's (authenticode.py), and says so.
  release.py commit <launcher.exe>
      The commit its version resource names (ProductVersion "1.0.0+<hash>"): "commit
      <hash>", "changed <hash>" (built from a tree with changes) or "unknown".
  release.py same-build <signed.exe> <built.exe>
      Whether the signed file is the built one with the signed file's signature attached, byte
      for byte; where not, where they differ.
  release.py unsigned <launcher.exe>
      Refuses a file that carries a signature already.
  release.py output <out> <in>
      Refuses <out> where sign.sh may not write it (below).
  release.py write <file> <out> <in>
      Writes a copy of <file> as <out>: through a file it creates in <out>'s folder and
      renames into place, all relative to that folder, opened once; prints the bytes written.

<out>'s folder is reached from the root one component at a time, each opened relative to the
last and never through a link; each must belong to root or this user, and none may be
writable by anyone else unless it is sticky, nor carry an access list (the rule OpenSSH
applies to the files it trusts). No ".." in the way; <out> must not be <in> (as files: device
and inode). Exits 1 with one line that says why, 2 when a file cannot be read.
"""
import os
import re
import secrets
import signal
import stat
import sys

import pe
from pe import Refused, plural

PRODUCT_VERSION = re.compile(r"[0-9]+\.[0-9]+\.[0-9]+\+(?:([0-9a-f]{40})(\.dirty)?|unknown)")


def printable(text):
    return "".join(c if c.isprintable() else f"\\u{ord(c):04x}" for c in text)


def named_commit(image):
    strings, _, _ = pe.version_strings(image.version_resource())
    text = strings.get("ProductVersion", "")
    found = PRODUCT_VERSION.fullmatch(text)
    if not found:
        raise Refused(f"no commit named: its ProductVersion is \"{printable(text)}\"")
    if found.group(1) is None:
        return "unknown"
    return ("changed " if found.group(2) else "commit ") + found.group(1)


def differences(given, rebuilt):
    """Where two images differ: the headers, a section, the certificate table, past the end."""
    image = pe.Image(rebuilt)
    places = [("the headers", 0, image.pe.OPTIONAL_HEADER.SizeOfHeaders)] + image.sections()
    places.append(("the certificate table", image.table_at, image.table_size))
    first, count = {}, 0
    for at in range(max(len(given), len(rebuilt))):
        if at >= len(given) or at >= len(rebuilt) or given[at] != rebuilt[at]:
            count += 1
            name = next((n for n, start, size in places if start <= at < start + size),
                        "past the image")
            first.setdefault(name, at)
    where = ", ".join(f"{name} from 0x{at:x}" for name, at in first.items())
    return f"{where}; {plural(count, 'byte')} in all" + (
        "; the sizes differ" if len(given) != len(rebuilt) else "")


# ---- where sign.sh writes ------------------------------------------------------------------

def check_folder(descriptor, shown):
    info = os.fstat(descriptor)
    if info.st_uid not in (0, os.geteuid()):
        raise Refused(f"{shown} belongs to another user (uid {info.st_uid}), who could swap "
                      "what lies there: choose a folder of your own")
    if info.st_mode & (stat.S_IWGRP | stat.S_IWOTH) and not info.st_mode & stat.S_ISVTX:
        raise Refused(f"{shown} can be written by others and is not sticky, so what lies there "
                      "could be swapped: choose a folder of your own")
    try:
        access_list = "system.posix_acl_access" in os.listxattr(descriptor)
    except OSError:
        access_list = False
    if access_list:
        raise Refused(f"{shown} has an access list, so it cannot be told who may write there: "
                      "choose a folder of your own")


def open_output_folder(out):
    """The folder of `out`, opened by the way checked from the root down, and the file's
    name in it."""
    path = out if out.startswith("/") else os.path.join(os.getcwd(), out)
    *folders, name = path.split("/")
    if name in ("", ".", ".."):
        raise Refused(f"--out {out} names no file: name the signed file")
    descriptor, shown = os.open("/", os.O_RDONLY | os.O_DIRECTORY), "/"
    try:
        check_folder(descriptor, "the folder /")
        for part in folders:
            if part in ("", "."):
                continue
            if part == "..":
                raise Refused(f"--out {out} goes through \"..\": name its folder plainly")
            shown = os.path.join(shown, part)
            try:
                step = os.open(part, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW,
                               dir_fd=descriptor)
            except OSError as error:
                link = os.path.islink(shown)
                raise Refused(f"the way to --out {out}: {shown} is "
                              + ("a link" if link else f"no folder ({error.strerror})")
                              + ", and nothing is written through one") from None
            os.close(descriptor)
            descriptor = step
            check_folder(descriptor, f"the folder {shown}")
    except BaseException:
        os.close(descriptor)
        raise
    return descriptor, name


def check_not_input(descriptor, name, out, source):
    """`out` is not `source` (nor another name of it), and no folder."""
    try:
        there = os.stat(name, dir_fd=descriptor, follow_symlinks=False)
    except FileNotFoundError:
        return
    given = os.stat(source)
    if (there.st_dev, there.st_ino) == (given.st_dev, given.st_ino):
        raise Refused(f"--out {out} is the unsigned file itself: the signed file goes to a file "
                      "of its own")
    if stat.S_ISDIR(there.st_mode):
        raise Refused(f"--out {out} is a folder: name the signed file")


def write(source, out, unsigned):
    with open(source, "rb") as given:
        data = given.read()
    descriptor, name = open_output_folder(out)
    try:
        check_not_input(descriptor, name, out, unsigned)
        # Created there, exclusively and never through a link; written and made readable
        # through its descriptor alone; renamed over the output (a link there is replaced,
        # not followed); and checked to be what is in place.
        for _ in range(100):
            partial = f".{name}.{secrets.token_hex(8)}"
            try:
                file = os.open(partial, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW,
                               0o600, dir_fd=descriptor)
                break
            except FileExistsError:
                continue
        else:
            raise Refused(f"no file of its own could be made beside {out}")
        renamed = False
        try:
            os.fchmod(file, 0o644)
            view = memoryview(data)
            while view:
                view = view[os.write(file, view):]
            os.fsync(file)
            written = os.fstat(file)
            os.rename(partial, name, src_dir_fd=descriptor, dst_dir_fd=descriptor)
            renamed = True
        finally:
            os.close(file)
            if not renamed:
                os.unlink(partial, dir_fd=descriptor)
        placed = os.stat(name, dir_fd=descriptor, follow_symlinks=False)
        if (placed.st_dev, placed.st_ino) != (written.st_dev, written.st_ino):
            raise Refused(f"{out} is not the file written: it was swapped before it was in place")
    finally:
        os.close(descriptor)
    print(len(data))


def read(path):
    with open(path, "rb") as file:
        return file.read()


def main(arguments):
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # the partial file goes with it
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(1))
    commands = {"signatures": 4, "commit": 1, "same-build": 2, "unsigned": 1, "output": 2,
                "write": 3}
    if not arguments or commands.get(arguments[0]) != len(arguments) - 1:
        print(__doc__, file=sys.stderr)
        return 2
    command, paths = arguments[0], arguments[1:]
    try:
        if command == "signatures":
            import authenticode
            print(authenticode.prove(pe.Image(read(paths[0])), *paths[1:]))
        elif command == "commit":
            print(named_commit(pe.Image(read(paths[0]))))
        elif command == "same-build":
            given, built = read(paths[0]), read(paths[1])
            signed = pe.Image(given)
            signed.certificate_table()  # one entry, the file's end
            rebuilt = pe.Image(built).with_table(given[signed.table_at:])
            if rebuilt != given:
                print(f"they differ in {differences(given, rebuilt)}")
                return 1
        elif command == "unsigned":
            if pe.Image(read(paths[0])).is_signed():
                raise Refused(f"{paths[0]} is signed already: sign the unsigned build, so that "
                              "no signature is replaced unseen")
        elif command == "output":
            descriptor, name = open_output_folder(paths[0])
            try:
                check_not_input(descriptor, name, paths[0], paths[1])
            finally:
                os.close(descriptor)
        else:
            write(*paths)
    except Refused as refused:
        print(refused)
        return 1
    except OSError as error:
        print(f"cannot read or write: {error}")
        return 2
    except Exception as error:  # what no check foresaw: refused all the same, in one line
        print(f"refused: it cannot be read as expected ({type(error).__name__}: "
              f"{printable(str(error))[:200]})")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

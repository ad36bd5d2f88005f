#!/usr/bin/env python3
"""Writes vesk's event-template block and points a built vesk at it.

vesk carries its event templates as a block of bytes in a section of its
own, ".vesk_templates", that the link fills from the block file (the build
compiles an .incbin of it). The section is read-only and loaded, so strip,
strip --strip-all and objcopy --strip-debug neither drop nor move it. The
program's read-only data holds a locator: the 16 bytes "VESK_TEMPLATE_DB"
followed by the block's u32 file offset, its u32 length and the 16-byte MD5
digest of its bytes (all zero in a freshly linked binary). This tool compiles
the template sources (data/templates/*.txt) into that block and, after the
link, fills the locator from the ELF section headers.

Python 3 standard library only: it runs at build time on a plain Debian.
"""

import collections
import hashlib
import os
import re
import struct
import sys
import tempfile

USAGE = """\
usage: template_block.py write <sources dir> <out block>
       template_block.py locate <binary> <block>

write   compiles every <sources dir>/*.txt, in file-name order, into the
        template block and writes it to <out block>. A malformed source line
        stops it (status 1) with the file and line named.
locate  finds the section .vesk_templates of the linked <binary>, checks
        that it holds <block>, and writes the section's file offset, its
        length and the block's digest into the binary's locator. Rerunning
        is harmless; the binary keeps its mode.
"""

MARKER = b"VESK_TEMPLATE_DB"
LOCATOR_SIZE = len(MARKER) + 8 + 16  # marker, u32 offset, u32 length, MD5
SECTION = b".vesk_templates"

# A table count or string length is one byte below 0x80, else two bytes with
# the top bit set: 15 bits at most.
MAX_COUNT = 0x7FFF
# Selector, id and field counts in a chunk are single bytes.
MAX_PER_TEMPLATE = 0xFF
MAX_U16 = 0xFFFF
MAX_U32 = 0xFFFFFFFF
# The reader refuses a block shorter than this...
MIN_BLOCK = 36
# ...and stops reading chunks when this many bytes or fewer are left.
CHUNK_TAIL = 16
# The reader takes no block that starts within the file's first 4096 bytes
# (the ELF header and program headers lie there); the section is aligned to
# 4096, so it never does.
MIN_OFFSET = 4096

# The -templates reader refuses a file with a template or provider line of
# more than MAX_LINE_BYTES (blanks around it not counted) or a provider or
# field name of more than MAX_NAME_BYTES: names are written into every row of
# their events.
MAX_LINE_BYTES = 1 << 20
MAX_NAME_BYTES = 1024

BLANKS = " \t\r\n\v\f"
GUID_RE = re.compile(
    r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\Z")
MAX_ERRORS = 50


class Refusal(Exception):
    """A source, block or binary this tool will not use; the text says why."""


class SourceError(Refusal):
    def __init__(self, where, what):
        super().__init__("%s: error: %s" % (where, what))


class SourceErrors(Refusal):
    """Every malformed line found, each already naming its file and line."""


def trim(text):
    return text.strip(BLANKS)


def pieces(text, sep):
    """Splits at `sep`, trims each piece and drops the empty ones."""
    return [p for p in (trim(p) for p in text.split(sep)) if p]


def parse_number(text, what, where):
    """A decimal number, hex after "0x" or "x", octal after "o"; at most 65535."""
    t = trim(text)
    low = t.lower()
    if low.startswith("0x"):
        digits, base = low[2:], 16
    elif low.startswith("x"):
        digits, base = low[1:], 16
    elif low.startswith("o"):
        digits, base = low[1:], 8
    else:
        digits, base = low, 10
    allowed = "0123456789abcdef"[:base]
    if not digits or any(c not in allowed for c in digits):
        raise SourceError(where, '%s "%s" is not a number' % (what, t))
    value = int(digits, base)
    if value > MAX_U16:
        # Stored in 16 bits: a larger value would silently become another one.
        raise SourceError(where, "%s %s is above 65535" % (what, t))
    return value


def parse_guid(text, where):
    """The 16 bytes of a dashed GUID in Windows layout: Data1, Data2 and Data3
    little-endian, then the eight Data4 bytes as written."""
    t = trim(text.replace("{", "").replace("}", ""))
    if not GUID_RE.match(t):
        raise SourceError(where, '"%s" is not a GUID '
                          "(xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx)" % t)
    h = t.replace("-", "")
    return (struct.pack("<IHH", int(h[0:8], 16), int(h[8:12], 16), int(h[12:16], 16))
            + bytes.fromhex(h[16:32]))


def check_name(text, what, where):
    if len(text.encode("utf-8")) > MAX_NAME_BYTES:
        raise SourceError(where, "%s is longer than %d bytes" % (what, MAX_NAME_BYTES))


class Template:
    def __init__(self, where, guid):
        self.where = where
        self.guid = guid
        self.selectors = []
        self.id_range = None  # (first, last) or None
        self.ids = []
        self.fields = []  # (type word, field name or "")


def parse_ids(id_text, where):
    """ "a-b", "a-b;c;d", "c;d;e" or "c": an optional range first, then single ids."""
    id_text = trim(id_text)
    if not id_text:
        raise SourceError(where, "no event id after the id marker")
    parts = [trim(p) for p in id_text.split(";")]
    id_range = None
    ids = []
    for n, part in enumerate(parts):
        if not part:
            raise SourceError(where, 'empty event id in "%s"' % id_text)
        if "-" in part:
            if n != 0:
                raise SourceError(where, 'only the first id of "%s" may be a range' % id_text)
            ends = part.split("-")
            if len(ends) != 2:
                raise SourceError(where, 'event id range "%s" is not first-last' % part)
            first = parse_number(ends[0], "event id", where)
            last = parse_number(ends[1], "event id", where)
            if first > last:
                raise SourceError(where, "event id range %s runs backwards" % part)
            if last == 0:
                # a last id of 0 means "no range" to every reader: the range
                # would vanish without a word
                raise SourceError(where, "event id range %s ends at 0" % part)
            id_range = (first, last)
        else:
            ids.append(parse_number(part, "event id", where))
    if len(ids) > MAX_PER_TEMPLATE:
        raise SourceError(where, "more than %d single event ids" % MAX_PER_TEMPLATE)
    return id_range, ids


def parse_template(line, where):
    parts = pieces(line, "!")
    if len(parts) < 2:
        raise SourceError(where, 'a template line needs "<provider guid> ! <text>$<ids>, <items>"')
    if len(parts[0]) < 36:
        raise SourceError(where, '"%s" is too short for a provider GUID' % parts[0])
    t = Template(where, parse_guid(parts[0], where))
    body = parts[1]
    mark = body.find("$")
    if mark < 0:
        mark = body.find("%")
    if mark < 0:
        raise SourceError(where, 'no id marker ("$" or "%") in "' + body + '"')
    rest = body[mark + 1:]
    # The -templates reader skips a line without a "," after its ids or with
    # nothing after that ",": written into the block, such a line would
    # register ids the same file given to -templates does not.
    comma = rest.find(",")
    if comma < 0:
        raise SourceError(where, 'no "," after the event ids in "%s"' % body)
    id_text, items = rest[:comma], trim(rest[comma + 1:])
    if not items:
        raise SourceError(where, 'nothing after the event ids in "%s"' % body)
    t.id_range, t.ids = parse_ids(id_text, where)

    pending = None
    for item in pieces(items, ","):
        if item[0] == "#":
            if len(item) > 1:
                t.selectors.append(parse_number(item[1:], "selector", where))
        elif item[0] == "L":
            if len(item) > 1:
                pending = item[1:]  # replaces a name that got no type word
        elif item[0] == "C":
            pass
        else:
            name = pending if pending is not None else ""
            check_name(name, 'field name "%s..."' % name[:40], where)
            t.fields.append((parse_number(item, "type word", where), name))
            pending = None
    if len(t.selectors) > MAX_PER_TEMPLATE:
        raise SourceError(where, "more than %d selectors" % MAX_PER_TEMPLATE)
    if len(t.fields) > MAX_PER_TEMPLATE:
        raise SourceError(where, "more than %d fields" % MAX_PER_TEMPLATE)
    return t


def parse_provider(line, where):
    parts = pieces(line, "!")
    guid = parse_guid(trim(parts[0].replace("#", "")) if parts else "", where)
    name = ""
    if len(parts) >= 2:
        name = trim(re.split(r"[,|;]", parts[1], maxsplit=1)[0])
    if not name:
        raise SourceError(where, 'a provider line needs "#<provider guid> ! <name>"')
    check_name(name, 'provider name "%s..."' % name[:40], where)
    return guid, name


class Sources:
    def __init__(self):
        self.templates = []
        self.provider_names = {}  # GUID bytes -> (name, where); the first line decides
        self.errors = []

    def read_file(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if data.startswith(b"\xef\xbb\xbf"):
            data = data[3:]
        for number, raw in enumerate(data.split(b"\n"), 1):
            where = "%s:%d" % (path, number)
            if raw.endswith(b"\r"):
                raw = raw[:-1]
            try:
                try:
                    line = trim(raw.decode("utf-8"))
                except UnicodeDecodeError:
                    raise SourceError(where, "the line is not UTF-8 text")
                self.read_line(line, where)
            except Refusal as e:
                self.errors.append(str(e))

    def read_line(self, line, where):
        size = len(line.encode("utf-8"))
        if size < 16 or line.startswith("/"):
            return
        if size > MAX_LINE_BYTES:
            raise SourceError(where, "the line is longer than %d bytes" % MAX_LINE_BYTES)
        if line.startswith("#"):
            guid, name = parse_provider(line, where)
            self.provider_names.setdefault(guid, (name, where))
        else:
            self.templates.append(parse_template(line, where))


def count_bytes(value):
    if value < 0x80:
        return bytes([value])
    return bytes([0x80 | (value >> 8), value & 0xFF])


class NameTable:
    """Strings in first-use order; index 0 is fixed."""

    def __init__(self, first, what):
        self.names = [first]
        self.index = {first: 0}
        self.what = what

    def add(self, name, where):
        if name not in self.index:
            if len(self.names) >= MAX_COUNT:
                raise SourceError(where, "the %s table would hold more than %d entries"
                                  % (self.what, MAX_COUNT))
            self.index[name] = len(self.names)
            self.names.append(name)
        return self.index[name]

    def encode(self):
        out = bytearray(count_bytes(len(self.names)))
        for name in self.names:
            b = name.encode("utf-8")
            out += count_bytes(len(b)) + b
        return out


def chunk(t, name_index, field_indexes):
    body = bytearray([len(t.selectors)])
    for s in t.selectors:
        body += struct.pack("<H", s)
    body += t.guid
    body += struct.pack("<H", name_index)
    if t.id_range is None:
        body.append(0)
    else:
        body.append(1)
        body += struct.pack("<HH", *t.id_range)
    body.append(len(t.ids))
    for i in t.ids:
        body += struct.pack("<H", i)
    body.append(len(t.fields))
    for type_word, _ in t.fields:
        body += struct.pack("<H", type_word)
    for index in field_indexes:
        body += struct.pack("<H", index)
    assert len(body) == (22 + 2 * len(t.selectors) + (4 if t.id_range else 0)
                         + 2 * len(t.ids) + 4 * len(t.fields))
    return struct.pack("<H", len(body)) + body


def build_block(src, src_dir):
    if not src.templates:
        # A block of names only gives the reader no template at all: the
        # sources are missing or hold nothing but comments.
        raise Refusal("no template line in %s/*.txt" % src_dir)
    fields = NameTable("", "field name")
    providers = NameTable("unk", "provider name")
    provider_index = {}
    for guid, (name, where) in src.provider_names.items():
        provider_index[guid] = providers.add(name, where)

    chunks = bytearray()
    named = set()
    for t in src.templates:
        indexes = [fields.add(name, t.where) if name else 0 for _, name in t.fields]
        chunks += chunk(t, provider_index.get(t.guid, 0), indexes)
        named.add(t.guid)
    # A provider that is named but has no template still gets an empty chunk,
    # or its name would never reach the reader.
    for guid in src.provider_names:
        if guid not in named:
            chunks += chunk(Template(None, guid), provider_index[guid], [])

    block = fields.encode() + providers.encode() + chunks
    # The reader refuses a block under MIN_BLOCK bytes; the zero bytes that
    # fill a very small one are fewer than CHUNK_TAIL, so the reader never
    # takes them for a chunk.
    if len(block) < MIN_BLOCK:
        assert MIN_BLOCK - len(block) <= CHUNK_TAIL
        block += bytes(MIN_BLOCK - len(block))
    return bytes(block)


def replace_file(path, data, like=None):
    """Writes `path` through a temporary file in the same folder, so a failed
    run never leaves half a file and a running program keeps its old image.
    With `like`, the new file takes that stat's mode (and owner, when allowed)."""
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".tmp-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        if like is None:
            # mkstemp makes the file private; give it a plain file's mode.
            mask = os.umask(0)
            os.umask(mask)
            os.chmod(tmp, 0o666 & ~mask)
        else:
            os.chmod(tmp, like.st_mode & 0o7777)
            try:
                os.chown(tmp, like.st_uid, like.st_gid)
            except OSError:
                pass
            # chown clears set-id bits: set the mode again.
            os.chmod(tmp, like.st_mode & 0o7777)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def write_command(src_dir, out_path):
    if not os.path.isdir(src_dir):
        raise Refusal("%s is not a folder" % src_dir)
    names = sorted((n for n in os.listdir(src_dir)
                    if n.endswith(".txt") and os.path.isfile(os.path.join(src_dir, n))),
                   key=os.fsencode)
    if not names:
        raise Refusal("no *.txt template sources in %s" % src_dir)
    src = Sources()
    for n in names:
        src.read_file(os.path.join(src_dir, n))
    if src.errors:
        raise SourceErrors("\n".join(src.errors[:MAX_ERRORS] + (
            ["(%d more errors not shown)" % (len(src.errors) - MAX_ERRORS)]
            if len(src.errors) > MAX_ERRORS else [])))
    replace_file(out_path, build_block(src, src_dir))


ElfSection = collections.namedtuple("ElfSection", "name kind flags offset size")

SHT_NOBITS = 8
SHF_ALLOC = 0x2


def elf_sections(data, binary):
    """The sections of a little-endian ELF file, named from its section-name
    table. Refuses a file whose headers lie outside it."""
    if data[:4] != b"\x7fELF" or len(data) < 64:
        raise Refusal("%s: not an ELF file" % binary)
    if data[5] != 1:
        raise Refusal("%s: not a little-endian ELF file" % binary)
    if data[4] == 2:  # 64-bit: e_shoff at 40, e_shentsize at 58; sh_offset at 24, sh_size at 32
        shoff, = struct.unpack_from("<Q", data, 40)
        entsize, count, names_at = struct.unpack_from("<HHH", data, 58)
        layout, want = "<IIQQQQ", 64
    elif data[4] == 1:  # 32-bit: e_shoff at 32, e_shentsize at 46; sh_offset at 16, sh_size at 20
        shoff, = struct.unpack_from("<I", data, 32)
        entsize, count, names_at = struct.unpack_from("<HHH", data, 46)
        layout, want = "<IIIIII", 40
    else:
        raise Refusal("%s: unknown ELF class %d" % (binary, data[4]))
    if entsize != want or count == 0 or names_at >= count or shoff + count * entsize > len(data):
        raise Refusal("%s: no readable section headers" % binary)
    raw = [struct.unpack_from(layout, data, shoff + i * entsize) for i in range(count)]
    # name, type, flags, address, offset, size
    table = raw[names_at]
    names = data[table[4]:table[4] + table[5]]
    sections = []
    for name, kind, flags, _, offset, size in raw:
        end = names.find(b"\0", name)
        sections.append(ElfSection(names[name:end if end >= 0 else len(names)],
                                   kind, flags, offset, size))
    return sections


def md5_digest(data):
    try:
        return hashlib.md5(data, usedforsecurity=False).digest()
    except TypeError:  # Python before 3.9
        return hashlib.md5(data).digest()


def locate_command(binary, block_path):
    with open(block_path, "rb") as f:
        block = f.read()
    if len(block) < MIN_BLOCK:
        raise Refusal("%s: %d bytes is too short for a template block" % (block_path, len(block)))
    # Through a symbolic link, rewrite the file it names, not the link.
    path = os.path.realpath(binary)
    st = os.stat(path)
    with open(path, "rb") as f:
        data = f.read()

    found = [s for s in elf_sections(data, binary) if s.name == SECTION]
    if len(found) != 1:
        raise Refusal("%s: %d sections named %s; the link must make exactly one"
                      % (binary, len(found), SECTION.decode()))
    section = found[0]
    if section.kind == SHT_NOBITS or not section.flags & SHF_ALLOC:
        raise Refusal("%s: section %s is not loaded data" % (binary, SECTION.decode()))
    held = data[section.offset:section.offset + section.size]
    if section.offset + section.size > len(data) or held != block:
        raise Refusal("%s: section %s does not hold %s; was it linked from another block?"
                      % (binary, SECTION.decode(), block_path))
    if section.offset < MIN_OFFSET or section.offset > MAX_U32 or section.size > MAX_U32:
        raise Refusal("%s: section %s lies at %d, where the program cannot take it"
                      % (binary, SECTION.decode(), section.offset))

    # Two markers would leave the reader (which takes its own) and this tool
    # free to disagree about which locator is the real one.
    found = data.count(MARKER)
    if found != 1:
        raise Refusal("%s: the template locator marker %s occurs %d times; it must occur once"
                      % (binary, MARKER.decode(), found))
    locator = data.find(MARKER) + len(MARKER)
    if locator + LOCATOR_SIZE - len(MARKER) > len(data):
        raise Refusal("%s: the template locator is cut off at the end of the file" % binary)

    out = bytearray(data)
    struct.pack_into("<II16s", out, locator, section.offset, section.size, md5_digest(block))
    if out == data:
        return  # already located: leave the file (and its time) alone
    replace_file(path, bytes(out), like=st)


def main(argv):
    if len(argv) == 2 and argv[1] in ("-h", "--help", "help"):
        sys.stdout.write(USAGE)
        return 0
    if len(argv) != 4 or argv[1] not in ("write", "locate"):
        sys.stderr.write(USAGE)
        return 2
    try:
        if argv[1] == "write":
            write_command(argv[2], argv[3])
        else:
            locate_command(argv[2], argv[3])
    except (SourceError, SourceErrors) as e:
        sys.stderr.write("%s\ntemplate_block.py: no template block written\n" % e)
        return 1
    except Refusal as e:
        sys.stderr.write("template_block.py: error: %s\n" % e)
        return 1
    except OSError as e:
        sys.stderr.write("template_block.py: error: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Converts public descriptions of Windows event providers into vesk's
template sources (data/templates/*.txt, the line syntax of the -templates
file), from which the build writes the template block.

Inputs, all in one folder (read only, never copied into the project):
  - instrumentation manifests (*.xml, *.man): <provider name guid> with
    <events><event value version template> and <templates><template tid>
    holding <data name inType length count> and <struct name count>;
  - reduced manifests of the same shape whose <provider> carries a build;
  - publisher-metadata dumps (<Providers><Provider><Name>, <Metadata><Guid>,
    <Event><Id><Version><Template> with the template as XML text);
  - kernel-mof/*.xml: the classic kernel event classes, in versions, and
    kernel-mof/SOURCES.md with the minimum client of each class page;
  - nasbench/provider-names.tsv: GUID and name of registered providers.
The kernel provider table of the program (src/decode/kernel_providers.hpp)
gives each kernel class GUID its hook group, and its hook exception the
one further hook id a class is logged under.

One template line per event id: the newest version's template; where one
provider comes from several Windows builds, each build's template carries
the build as selector and the newest build's is written once more without
selector, so that a log of an unlisted build still decodes. Kernel classes
are chosen by the class version each record carries: every version a
description states is written under its own selector (CLASS_VERSION_BASE +
version), the newest also under 0 (every build) and each older one also
under the builds of the Windows that wrote it, where the descriptions
state them (see "which Windows wrote which version" below), for records
whose version no description holds. A field that no type word expresses
ends the template there: the bytes from there are guessed rather than read
with a wrong layout.

A description that cannot be read or parsed is named and the others are
read on; then the run fails and leaves the sources as they were. The
sources are written beside the output folder first and moved in only when
the whole run succeeded.

Python 3 standard library only. Run by hand (or `make templates`) when the
descriptions change; the build reads only the sources it writes.
"""

import collections
import os
import re
import shutil
import sys
import tempfile
import xml.etree.ElementTree as ET

USAGE = """\
usage: manifest_templates.py <descriptions dir> <kernel_providers.hpp> <out dir>

Writes <out dir>/manifest-<provider>.txt for each provider described,
<out dir>/kernel-classes.txt and <out dir>/provider-names.txt, replacing
earlier ones, and prints a summary: providers, events, templates written,
and every event cut short or left out, with the reason. An input that
cannot be read ends the run with status 1, each one named, and nothing
written.
"""

# The program's type words (src/decode/type_words.hpp names them; a test
# holds these equal to those). Plain in-types by manifest name.
IN_TYPES = {
    "win:UnicodeString": 1, "win:AnsiString": 2, "win:Int8": 3, "win:UInt8": 4,
    "win:Int16": 5, "win:UInt16": 6, "win:Int32": 7, "win:UInt32": 8, "win:Int64": 9,
    "win:UInt64": 10, "win:Float": 11, "win:Double": 12, "win:Boolean": 13,
    "win:Binary": 14, "win:GUID": 15, "win:Pointer": 16, "win:FILETIME": 17,
    "win:SYSTEMTIME": 18, "win:SID": 19, "win:HexInt32": 20, "win:HexInt64": 21,
}
UNICODE, ANSI, BINARY, UINT8, INT8, UINT16, POINTER, SID, UINT32 = 1, 2, 14, 4, 3, 6, 16, 19, 8
GUID = 15

# Extension words (n, bits 8-11, is the distance back to the sizing field).
BYTES_BY_NEXT_WORD = 0xB284   # the next word is the byte count
TEXT_BY_FIELD = {UNICODE: 0xA001, ANSI: 0xA002, BINARY: 0xA084}
ARRAY_BY_FIELD = {UNICODE: 0xA081, ANSI: 0xA082, UINT8: 0xA084, INT8: 0xA084,
                  UINT32: 0xA088, 7: 0xA088, 20: 0xA088, POINTER: 0xA090}
NARROW_TEXT_N = 0xD002        # n bytes (1..15) as 8-bit text
# UTF-16 texts in a fixed slot, by its size in bytes.
UTF16_SLOTS = {6: 145, 8: 161, 32: 0x8005, 512: 177}
RAW16 = 146                   # 16 raw bytes
POINTER_PAIR = 0xD290         # two pointer-sized elements
MAX_BACK = 15
MAX_FIELDS = 255              # fields of one template in the block
MAX_IDS = 0xFFFF
MAX_UNROLL = 64               # elements of a fixed-count array written one by one
# The selector of kernel class version v is CLASS_VERSION_BASE + v (v 0 to
# 255), above every Windows build number (src/decode/template_map.hpp).
CLASS_VERSION_BASE = 0xFF00


class Cut(Exception):
    """The template ends before this field; the text says why."""


class InputError(Exception):
    """An input that cannot be used; the text names the file and says why."""


def local(tag):
    return tag.rsplit("}", 1)[-1]


def clean_name(name):
    # "," and "!" separate items and fields of a template line
    return re.sub(r"[,!]", "_", " ".join((name or "").split()))


def clean_description(text):
    return re.sub(r"[^A-Za-z0-9_./()+-]", "_", text)


def guid_text(text):
    t = (text or "").strip().strip("{}").lower()
    if not re.fullmatch(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}", t):
        return None
    return t


def number(text):
    t = (text or "").strip()
    try:
        return int(t, 16) if t.lower().startswith("0x") else int(t)
    except ValueError:
        return None


class Words:
    """The type words of one template, with what the walk will store for
    each: one field map entry, or an unknown number (arrays)."""

    def __init__(self):
        self.words = []     # (word, name)
        self.entries = []   # field name per entry, or None for an unknown run
        self.sizes = {}     # field name -> index in entries

    def add(self, word, name, entry=True):
        self.words.append((word, name))
        if entry:
            self.sizes[name] = len(self.entries)
            self.entries.append(name)

    def add_unknown_run(self):
        self.entries.append(None)

    def back(self, field):
        """The distance n back to the entry of `field`, counted from the last."""
        if field not in self.sizes:
            raise Cut('its size comes from "%s", which is not a field before it' % field)
        index = self.sizes[field]
        if any(e is None for e in self.entries[index:]):
            raise Cut('an array lies between it and "%s"' % field)
        n = len(self.entries) - index
        if n > MAX_BACK:
            raise Cut('"%s" lies %d fields back (at most %d)' % (field, n, MAX_BACK))
        return n


def fixed_text_words(in_type, length):
    """A text or binary of a fixed length (characters for texts)."""
    if in_type == UNICODE:
        size = 2 * length
        if size in UTF16_SLOTS:
            return [UTF16_SLOTS[size]]
    elif in_type == ANSI and 1 <= length <= 15:
        return [NARROW_TEXT_N | (length << 8)]
    elif in_type == BINARY and length == 16:
        return [RAW16]
    size = 2 * length if in_type == UNICODE else length
    if not 1 <= size <= 0xFFFF:
        raise Cut("a fixed length of %d bytes" % size)
    return [BYTES_BY_NEXT_WORD, size]


def add_value(words, field, name):
    """One value of a manifest field (no count)."""
    in_type = IN_TYPES.get(field.get("inType"))
    if in_type is None:
        raise Cut('in-type "%s"' % field.get("inType"))
    length = field.get("length")
    if length is None:
        if in_type == BINARY:
            raise Cut("binary without a length")
        words.add(in_type, name)
        return
    if in_type not in (UNICODE, ANSI, BINARY):
        words.add(in_type, name)  # a length on a number changes nothing
        return
    fixed = number(length)
    if fixed is not None:
        if fixed == 0:
            raise Cut("a length of 0")
        seq = fixed_text_words(in_type, fixed)
        words.add(seq[0], name)
        for w in seq[1:]:
            words.add(w, "", entry=False)  # the byte count, no field of its own
        return
    n = words.back(length)
    words.add(TEXT_BY_FIELD[in_type] | (n << 8), name)


def add_field(words, field, prefix=""):
    tag = local(field.tag)
    name = clean_name(prefix + (field.get("name") or ""))
    count = field.get("count")
    if tag == "struct":
        members = [m for m in field if local(m.tag) in ("data", "struct")]
        if count is None:
            for m in members:
                add_field(words, m)
            return
        fixed = number(count)
        if fixed is None:
            raise Cut('structure "%s" repeated by a field' % name)
        if fixed > MAX_UNROLL:
            raise Cut('structure "%s" of %d elements' % (name, fixed))
        for i in range(fixed):
            for m in members:
                add_field(words, m, "%s[%d]." % (name, i))
        return
    if tag != "data":
        return
    if count is None:
        add_value(words, field, name)
        return
    fixed = number(count)
    if fixed is not None:
        if fixed > MAX_UNROLL:
            raise Cut('array "%s" of %d elements' % (name, fixed))
        for i in range(fixed):
            add_value(words, field, "%s[%d]" % (name, i))
        return
    in_type = IN_TYPES.get(field.get("inType"))
    if field.get("length") is not None or in_type not in ARRAY_BY_FIELD:
        raise Cut('array "%s" of %s counted by a field' % (name, field.get("inType")))
    n = words.back(count)
    words.add(ARRAY_BY_FIELD[in_type] | (n << 8), name, entry=False)
    words.add_unknown_run()


def template_words(template):
    """The type words of a manifest template and, when it is cut short, why."""
    words = Words()
    reason = None
    for field in template:
        if local(field.tag) not in ("data", "struct"):
            continue
        done = len(words.words)
        try:
            add_field(words, field)
        except Cut as cut:
            del words.words[done:]
            reason = '"%s": %s' % (field.get("name"), cut)
            break
    if len(words.words) > MAX_FIELDS:
        del words.words[MAX_FIELDS:]
        # a byte count must not be left without its word
        if words.words and words.words[-1][0] == BYTES_BY_NEXT_WORD:
            words.words.pop()
        reason = "more than %d fields" % MAX_FIELDS
    return words.words, reason


# ---- manifest readers ----

Event = collections.namedtuple("Event", "id version template")


class Provider:
    def __init__(self, guid, name, build, origin, licence):
        self.guid = guid
        self.name = name
        self.build = build
        self.origin = origin
        self.licence = licence
        self.events = []  # Event, template an element or None


def read_manifest(root, origin, licence):
    """<provider> elements of an instrumentation manifest (full or reduced)."""
    out = []
    for prov in root.iter():
        if local(prov.tag) != "provider":
            continue
        guid = guid_text(prov.get("guid"))
        if guid is None:
            continue
        events_el = [e for e in prov if local(e.tag) == "events"]
        templates_el = [e for e in prov if local(e.tag) == "templates"]
        if not events_el:
            continue
        build = number(prov.get("build")) or 0
        p = Provider(guid, prov.get("name") or "", build, origin, licence)
        templates = {}
        for ts in templates_el:
            for t in ts:
                if local(t.tag) == "template" and t.get("tid") is not None:
                    templates[t.get("tid")] = t
        for ev in events_el[0]:
            if local(ev.tag) != "event":
                continue
            value = number(ev.get("value"))
            if value is None:
                continue
            tid = ev.get("template")
            p.events.append(Event(value, number(ev.get("version")) or 0,
                                  templates.get(tid) if tid else None))
        out.append(p)
    return out


def read_publisher_dump(root, origin, licence, build):
    """<Providers><Provider> dumps: each event's template is XML text."""
    out = []
    for prov in root.iter("Provider"):
        guid = guid_text(prov.findtext("Metadata/Guid"))
        if guid is None:
            continue
        p = Provider(guid, (prov.findtext("Name") or "").strip(), build, origin, licence)
        for ev in prov.iter("Event"):
            value = number(ev.findtext("Id"))
            if value is None:
                continue
            text = (ev.findtext("Template") or "").strip()
            template = ET.fromstring(text) if text else None
            p.events.append(Event(value, number(ev.findtext("Version")) or 0, template))
        out.append(p)
    return out


SOURCE_BUILD = re.compile(r"\|\s*([^|]+\.xml)\s*\|.*?\|\s*(?:Win\d+ \w+ )?(\d{5})\.\d+")


def dump_builds(sources_md):
    """Build numbers of the publisher dumps, from the sources list."""
    builds = {}
    try:
        with open(sources_md, encoding="utf-8") as f:
            for line in f:
                m = SOURCE_BUILD.search(line)
                if m:
                    builds[os.path.basename(m.group(1).strip())] = int(m.group(2))
    except OSError:
        pass
    return builds


def licence_of(folder_root, rel):
    top = rel.split(os.sep)[0]
    licences = {
        "nasbench": "MIT, nasbench/EVTX-ETW-Resources",
        "dotnet-coreclr": "MIT, .NET Foundation and Contributors (dotnet/coreclr)",
        "msquic": "MIT, Microsoft Corporation (microsoft/msquic)",
        "PowerShell": "MIT, Microsoft Corporation (PowerShell/PowerShell)",
    }
    return licences.get(top, "see %s/LICENSES" % os.path.basename(folder_root.rstrip("/")))


def read_providers(folder, errors):
    """Every provider of the manifests and dumps under `folder`. A file that
    cannot be read or parsed is named in `errors` and the others are read."""
    builds = dump_builds(os.path.join(folder, "SOURCES.md"))
    providers = []

    def walk_error(e):
        errors.append("%s: %s" % (e.filename, e.strerror or e))

    for dirpath, _, files in sorted(os.walk(folder, onerror=walk_error)):
        for f in sorted(files):
            if not f.endswith((".xml", ".man")):
                continue
            path = os.path.join(dirpath, f)
            rel = os.path.relpath(path, folder)
            if rel.startswith("kernel-mof" + os.sep):
                continue
            licence = licence_of(folder, rel)
            try:
                root = ET.parse(path).getroot()
                if local(root.tag) == "Providers":
                    providers += read_publisher_dump(root, rel, licence, builds.get(f, 0))
                else:
                    providers += read_manifest(root, rel, licence)
            except (ET.ParseError, OSError, UnicodeDecodeError, ValueError, LookupError) as e:
                # a dump's templates are XML documents of their own: a broken
                # one fails its file too
                errors.append("%s: %s" % (path, e))
    return providers


# ---- kernel classes ----

KERNEL_ROW = re.compile(r'\{\s*0x([0-9A-Fa-f]+)\s*,\s*"([0-9a-f-]{36})"\s*,\s*"([^"]*)"\s*\}')
# The program's one hook id whose provider is not its group's:
# kernel_hook_exception <name> = {0x<hook id>, 0x<group whose provider it names>};
HOOK_EXCEPTION = re.compile(
    r'kernel_hook_exception\s+\w+\s*=\s*\{\s*0x([0-9A-Fa-f]+)\s*,\s*0x([0-9A-Fa-f]+)\s*\}')
KERNEL_ROWS = 31


def kernel_hooks(table_path):
    """The hook group of each kernel provider GUID, and (GUID, event type) ->
    the further hook ids the program finds that provider by.

    A table read short would silently leave system records without
    templates, so fewer rows than the program holds is an error."""
    with open(table_path, encoding="utf-8") as f:
        text = f.read()
    rows = KERNEL_ROW.findall(text)
    if len(rows) < KERNEL_ROWS:
        raise InputError("%s: %d kernel provider rows read, %d expected"
                         % (table_path, len(rows), KERNEL_ROWS))
    groups = {}
    by_group = {}
    for group, guid, _ in rows:
        groups[guid] = int(group, 16)
        by_group[int(group, 16)] = guid
    exceptions = HOOK_EXCEPTION.findall(text)
    if not exceptions:
        raise InputError("%s: no kernel_hook_exception read" % table_path)
    extra = collections.defaultdict(set)
    for hook, group in exceptions:
        hook, group = int(hook, 16), int(group, 16)
        if group not in by_group:
            raise InputError("%s: hook id 0x%04x names the unknown group 0x%04x"
                             % (table_path, hook, group))
        extra[(by_group[group], hook & 0xFF)].add(hook)
    return groups, extra


SOURCE_TYPES = {"FILETIME": 17}  # a uint64 the description says is a time


def mof_words(data):
    """Type words of the kernel class fields, in data id order."""
    words = Words()
    for d in data:
        name = clean_name(d.get("name"))
        kind = d.get("type")
        q = (d.get("qualifiers") or "").lower()
        m = re.search(r"max\((\d+)\)", q)
        count = int(m.group(1)) if m else None
        if d.get("note") is not None:
            raise Cut('"%s": %s' % (name, d.get("note")))
        source = d.get("sourceType")
        if source is not None:
            if source not in SOURCE_TYPES:
                raise Cut('"%s": source type %s' % (name, source))
            words.add(SOURCE_TYPES[source], name)
        elif d.get("content") == "GUID":
            # 16 bytes in the GUID layout, written as bytes for want of a MOF type
            if kind not in ("uint8", "sint8") or count != 16:
                raise Cut('"%s": a GUID held in %s[%s]' % (name, kind, count))
            words.add(GUID, name)
        elif "pointer" in q or 'extension("sizet")' in q:
            words.add(POINTER, name)
        elif 'extension("sid")' in q:
            # TOKEN_USER: two pointer-sized words, then the SID
            words.add(POINTER_PAIR, "", entry=False)
            words.add_unknown_run()
            words.add(SID, name)
        elif 'extension("ipaddrv6")' in q:
            words.add(RAW16, name)
        elif "extension(\"ipaddr" in q:
            words.add(UINT32, name)
        elif 'extension("port")' in q:
            words.add(UINT16, name)
        elif 'extension("wmitime")' in q:
            words.add(10, name)
        elif kind == "string":
            words.add(UNICODE if 'format("w")' in q else ANSI, name)
        elif kind in ("char16", "uint8", "sint8") and count:
            seq = fixed_text_words(UNICODE if kind == "char16" else BINARY, count)
            words.add(seq[0], name)
            for w in seq[1:]:
                words.add(w, "", entry=False)  # the byte count, no field of its own
        elif count:
            raise Cut('"%s": an array of %s' % (name, kind))
        else:
            plain = {"uint8": 4, "sint8": 3, "uint16": 6, "sint16": 5, "uint32": 8,
                     "sint32": 7, "uint64": 10, "sint64": 9, "char16": 6,
                     "boolean": 4}.get(kind)
            if plain is None:
                raise Cut('"%s": type %s' % (name, kind))
            words.add(plain, name)
    return words.words


# ---- which Windows wrote which version of a kernel class ----
#
# A kernel record carries its class version, and each version a description
# states is found by it (its selector CLASS_VERSION_BASE + version). A record
# whose version no description holds is decoded by the logfile header's OS
# build: so the newest version of an event type is also written under 0
# (every build), and each older version also under the builds of the Windows
# that wrote it. Only what the descriptions state places a version:
#  - a class's `windows` attribute ("8 and later (build 9200 on)"): written
#    from that build on (a build it was only seen in states no first
#    Windows);
#  - the minimum client of the version's provider page, from the table of
#    pages in kernel-mof/SOURCES.md: the first Windows that writes it;
#  - the class reference's statement, which kernel-mof/SOURCES.md quotes:
#    "version zero is associated with Windows 2000, version one with Windows
#    XP and Windows Server 2003, and version two with Windows Vista"
#    (VERSION_WINDOWS).
# An older version holds the builds from its first Windows up to the first
# Windows of the next newer version of the same event type; a version that
# only the class reference places holds just the Windows it names. An older
# version is found by its version only, rather than placed by a guess, when
# nothing states its Windows, when its statements disagree (a page's minimum
# client that is not the class reference's Windows for that version), when
# a newer version starts on the same Windows, or when the next newer
# version's Windows is not stated; the summary names each with the reason.
# A class whose version no description states is left out where another
# class of its event type states one. What this gives: Process version 4
# and Image version 3 (build 9200 on) for every build; Process version 3 and
# Image version 2 under Vista and 7 (builds 6000 to 7601); version 1 of
# Process, Thread, Image, FileIo, Registry and TcpIp under XP and Server
# 2003 (2600, 3790); version 0 of Process, Thread, Image, FileIo and
# SystemConfig under 2000 (2195). By their version only: Process and Thread
# version 2 (their pages and the class reference give them Vista, where
# version 3 starts), version 0 of Registry, TcpIp and UdpIp (their pages
# name XP, the class reference 2000), and the SystemConfig versions older
# than IRQ version 3, PnP versions 4 and 5 and Services version 3, whose
# first Windows no description states. Left out: HWConfig and UdpIp_V1 (no
# version stated).

# Released builds of each Windows the descriptions name, oldest first.
RELEASES = (
    ("Windows 2000", (2195,)),
    ("Windows XP", (2600,)),
    ("Windows Server 2003", (3790,)),
    ("Windows Vista", (6000, 6001, 6002, 6003)),  # with Server 2008
    ("Windows 7", (7600, 7601)),                  # with Server 2008 R2
    ("Windows 8", (9200,)),
)
RELEASED_BUILDS = sorted(b for _, builds in RELEASES for b in builds)
VERSION_WINDOWS = {0: ("Windows 2000",), 1: ("Windows XP", "Windows Server 2003"),
                   2: ("Windows Vista",)}


def release_builds(text):
    """The builds of the Windows a text names ("Windows 2000 Professional"), or None."""
    text = (text or "").strip()
    for name, builds in RELEASES:
        if text == name or text.startswith(name + " "):
            return builds
    return None


PAGE_ROW = re.compile(r"^\|\s*([\w.-]+\.md)\s*\|\s*[0-9a-f]{40}\s*\|\s*[\d-]+\s*\|\s*([^|]*?)\s*\|\s*$")


def minimum_clients(sources_md, errors):
    """Page file name -> the first build of its minimum client, from the
    table of pages in the kernel classes' SOURCES.md. Without it the older
    versions would lose their Windows, so it must be read."""
    clients = {}
    try:
        with open(sources_md, encoding="utf-8") as f:
            for line in f:
                m = PAGE_ROW.match(line.strip())
                builds = release_builds(m.group(2)) if m else None
                if builds:
                    clients[m.group(1)] = builds[0]
    except (OSError, UnicodeDecodeError) as e:
        errors.append("%s: %s" % (sources_md, e))
    return clients


KernelClass = collections.namedtuple(
    "KernelClass", "name version data event_name first_build stated_builds conflict")


def stated_windows(cls, provider_page, clients):
    """(first build, builds the class reference names, disagreement or None)
    for one class version, from what the descriptions state."""
    version = number(cls.get("version"))
    windows = cls.get("windows")
    from_attribute = None
    if windows is not None:
        m = re.search(r"build (\d+) on\b", windows)
        from_attribute = int(m.group(1)) if m else None
    page = os.path.basename((provider_page or "").split("#")[0])
    from_page = clients.get(page)
    stated = None
    if version in VERSION_WINDOWS:
        stated = tuple(b for w in VERSION_WINDOWS[version] for b in release_builds(w))
    starts = {s for s in (from_attribute, from_page) if s is not None}
    if stated is not None and starts and starts != {stated[0]}:
        return None, None, "stated from build %d, the class reference names %s" % (
            min(starts), " and ".join(VERSION_WINDOWS[version]))
    if len(starts) > 1:
        return None, None, "its statements give builds %s" % " and ".join(map(str, sorted(starts)))
    first = min(starts) if starts else (stated[0] if stated else None)
    # a first Windows "and later" runs on; the class reference's alone does not
    return first, None if starts else stated, None


def read_kernel_classes(path, clients):
    """(GUID, event type) -> {version (None when not stated): KernelClass};
    a version described twice keeps its first class."""
    root = ET.parse(path).getroot()
    classes = collections.defaultdict(dict)
    for prov in root.iter("provider"):
        guid = guid_text(prov.get("guid"))
        for cls in prov.iter("class"):
            version = number(cls.get("version"))
            data = sorted(cls.findall("data"), key=lambda d: number(d.get("id")) or 0)
            first, stated, conflict = stated_windows(cls, prov.get("page"), clients)
            for et in cls.findall("eventtype"):
                held = classes[(guid, number(et.get("value")))]
                if version not in held:
                    held[version] = KernelClass(cls.get("name"), version, data, et.get("name") or "",
                                                first, stated, conflict)
    return classes


def older_builds(cls, after, newer):
    """The builds an older version `cls` holds below the next newer version
    `after` (version `newer`), or () and why none can be stated."""
    if cls.conflict:
        return (), "the descriptions disagree on its Windows: " + cls.conflict
    if cls.first_build is None:
        return (), "no description states its Windows"
    if after.first_build is None and cls.stated_builds is None:
        return (), "no description states the Windows of version %d" % newer
    end = after.first_build if after.first_build is not None else 1 << 32
    builds = tuple(b for b in (cls.stated_builds or RELEASED_BUILDS) if cls.first_build <= b < end)
    if not builds:
        return (), "version %d starts on its Windows (build %d)" % (newer, after.first_build)
    return builds, None


def place_versions(versions):
    """The versions of one event type to write, newest first, as (class,
    selectors): none when no class states its version; else each version
    under its own selector, the newest also under 0 (every build) and an
    older one also under the builds it holds. Also (class, note) for each
    class left out and each found by its version only."""
    if set(versions) == {None}:
        return [(versions[None], ())], []
    notes = []
    if None in versions:
        notes.append((versions[None], "left out: its version is not stated"))
    known = sorted((v for v in versions if v is not None), reverse=True)
    placed = [(versions[known[0]], (0, CLASS_VERSION_BASE + known[0]))]
    for newer, v in zip(known, known[1:]):
        builds, why = older_builds(versions[v], versions[newer], newer)
        if why:
            notes.append((versions[v], "by its version only: " + why))
        placed.append((versions[v], builds + (CLASS_VERSION_BASE + v,)))
    return placed, notes


# Origin and licence of each kernel class description, for the header of the
# file written from them.
KERNEL_ORIGINS = {
    "kernel-mof.xml": "kernel-mof/kernel-mof.xml, derived from Microsoft Docs win32, "
                      "desktop-src/ETW, (c) Microsoft Corporation. Licence: CC BY 4.0.",
    "kernel-mof-extra.xml": "kernel-mof/kernel-mof-extra.xml, layouts from microsoft/perfview "
                            "src/TraceEvent (MIT, (c) .NET Foundation and Contributors) and "
                            "airbus-cert/etl-parser etl/parsers/kernel (Apache-2.0).",
}


def kernel_lines(folder, groups, extra, summary, errors):
    """Template lines of every kernel class description in <folder>/kernel-mof."""
    mof_dir = os.path.join(folder, "kernel-mof")
    try:
        names = sorted(n for n in os.listdir(mof_dir) if n.endswith(".xml"))
    except OSError as e:
        errors.append("%s: %s" % (mof_dir, e.strerror or e))
        return [], []
    if not names:
        errors.append("%s: no kernel class description (*.xml)" % mof_dir)
        return [], []
    clients = minimum_clients(os.path.join(mof_dir, "SOURCES.md"), errors)
    classes = collections.defaultdict(dict)
    origins = []
    for n in names:
        path = os.path.join(mof_dir, n)
        try:
            read = read_kernel_classes(path, clients)
        except (ET.ParseError, OSError, UnicodeDecodeError, ValueError, LookupError) as e:
            errors.append("%s: %s" % (path, e))
            continue
        for key, versions in read.items():
            for version, cls in versions.items():
                classes[key].setdefault(version, cls)
        origins.append("Origin: " + KERNEL_ORIGINS.get(n, "kernel-mof/%s (licence: see "
                                                          "kernel-mof/SOURCES.md)." % n))
    lines = []
    for (guid, etype), versions in sorted(classes.items()):
        placed, notes = place_versions(versions)
        for cls, note in notes:
            version = "" if cls.version is None else " v%d" % cls.version
            summary.note("kernel class %s %d%s" % (cls.name, etype, version), note)
        for n, (cls, selectors) in enumerate(placed):
            where = "kernel class %s %d" % (cls.name, etype)
            if not cls.data:
                summary.note(where, "left out: no fields (nothing to name)")
                continue
            try:
                words = mof_words(cls.data)
            except Cut as cut:
                summary.note(where, "left out: " + str(cut))
                continue
            ids = {etype} | extra.get((guid, etype), set())
            if guid in groups:
                ids.add(groups[guid] | etype)  # the hook id of system records
            description = "%s/%s" % (cls.name, cls.event_name or etype)
            lines.append(template_line(guid, description, sorted(ids), selectors, words))
            if n == 0:
                summary.kernel_types += 1
            else:
                summary.kernel_older += 1
                if min(selectors) < CLASS_VERSION_BASE:
                    summary.kernel_by_build += 1
    header = ["Templates of the classic kernel event classes, converted by tools/manifest_templates.py,",
              "keyed by event type (classic records) and by hook id (system records); each stated",
              "class version under its selector 0xff00 + version, the newest also under 0 (every",
              "build), older ones also under the OS builds that wrote them."]
    return header + origins, lines


# ---- writing ----

def template_line(guid, description, ids, selectors, words):
    items = ["$" + ";".join(str(i) for i in ids)]
    # a class version's selector in hexadecimal, 0xff00 + the version
    items += ["#0x%x" % s if s >= CLASS_VERSION_BASE else "#%d" % s for s in selectors]
    for word, name in words:
        if name:
            items.append("L" + name)
        items.append("0x%04x" % word)
    return "%s!%s%s" % (guid, clean_description(description), ",".join(items))


def provider_file_name(name):
    return "manifest-" + re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-") + ".txt"


class Summary:
    def __init__(self):
        self.providers = 0
        self.events = 0
        self.templates = 0
        self.kernel_types = 0
        self.kernel_older = 0
        self.kernel_by_build = 0
        self.notes = []

    def note(self, where, what):
        self.notes.append("%s: %s" % (where, what))


def layout(event):
    """What a record of `event` decodes to: its words and names, None without template."""
    return None if event.template is None else tuple(template_words(event.template)[0])


def newest_events(provider):
    """Event id (16 bits) -> the newest version of the event a record with
    that id is, and the ids left out as ambiguous (id -> the values).

    A record carries the low 16 bits of the event value. Providers written
    for the classic event log also list full 32-bit message ids (severity
    bits above bit 15) whose low bits repeat another event's id: a value
    that fits 16 bits is the event records carry and wins; two wider values
    of different layouts leave the id without template, so that guessing
    shows the bytes rather than another event's field names."""
    by_id = collections.defaultdict(list)
    for ev in provider.events:
        by_id[ev.id & MAX_IDS].append(ev)
    chosen, ambiguous = {}, {}
    for eid, events in by_id.items():
        candidates = [ev for ev in events if ev.id == eid] or events
        newest = {}
        for ev in candidates:
            if ev.id not in newest or ev.version >= newest[ev.id].version:
                newest[ev.id] = ev
        if len({layout(ev) for ev in newest.values()}) > 1:
            ambiguous[eid] = sorted(newest)
        else:
            chosen[eid] = newest[max(newest)]
    return chosen, ambiguous


def provider_lines(group, summary):
    """Lines for one provider GUID described by one or more builds."""
    group = sorted(group, key=lambda p: p.build)
    newest = group[-1]
    several = len({p.build for p in group}) > 1
    lines = ["#%s!%s" % (newest.guid, clean_name(newest.name))]
    short = clean_description(newest.name.split("-")[-1] or newest.name)
    for p in group:
        targets = [p.build] if several else []
        if p is newest:
            targets.append(0)
        chosen, ambiguous = newest_events(p)
        if p is newest:
            for eid, values in sorted(ambiguous.items()):
                summary.note("%s %d" % (p.name, eid), "left out: the event values %s share the id "
                             "and differ in layout" % " and ".join(str(v) for v in values))
        for eid, ev in sorted(chosen.items()):
            if ev.template is None:
                if p is newest:
                    summary.note("%s %d" % (p.name, eid), "left out: no template")
                continue
            words, reason = template_words(ev.template)
            if reason and p is newest:
                summary.note("%s %d v%d" % (p.name, eid, ev.version), "cut at " + reason)
            if not words:
                continue
            for selector in targets:
                lines.append(template_line(p.guid, "%s/%d v%d" % (short, eid, ev.version),
                                           [eid], [selector] if selector else [], words))
                summary.templates += 1
        summary.events += len(chosen) + len(ambiguous)
    return lines


def write_file(path, header, lines):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        for h in header:
            f.write("// " + h + "\n")
        for line in lines:
            f.write(line + "\n")


def is_written_here(name):
    """A source file this converter writes (and replaces on each run)."""
    return ((name.startswith("manifest-") and name.endswith(".txt"))
            or name in ("kernel-classes.txt", "provider-names.txt"))


def name_lines(folder, errors):
    """Provider-name lines from nasbench/provider-names.tsv."""
    names = os.path.join(folder, "nasbench", "provider-names.tsv")
    lines = []
    try:
        with open(names, encoding="utf-8") as f:
            for row in f:
                parts = row.rstrip("\n").split("\t")
                if len(parts) >= 2 and guid_text(parts[0]) and clean_name(parts[1]):
                    lines.append("#%s!%s" % (guid_text(parts[0]), clean_name(parts[1])))
    except (OSError, UnicodeDecodeError) as e:
        errors.append("%s: %s" % (names, e))
    return lines


def convert(folder, kernel_table, out_dir):
    """Reads every description, then writes the sources. Returns the summary
    and the inputs that could not be read (each naming its file); with any
    of those nothing is written and the sources in <out dir> stay as they
    were."""
    summary = Summary()
    errors = []
    if not os.path.isdir(folder):
        errors.append("%s: not a folder of provider descriptions" % folder)
        return summary, errors
    if not os.path.isdir(out_dir):
        errors.append("%s: not a folder" % out_dir)
        return summary, errors
    files = {}  # file name -> (header, lines)

    by_guid = collections.OrderedDict()
    for p in read_providers(folder, errors):
        by_guid.setdefault(p.guid, []).append(p)
    for guid, group in by_guid.items():
        summary.providers += 1
        newest = max(group, key=lambda p: p.build)
        origins = sorted({"%s (%s)" % (p.origin, "build %d" % p.build if p.build else "no build")
                          for p in group})
        header = ["Templates of %s {%s}, converted by tools/manifest_templates.py." % (newest.name, guid),
                  "Origin: " + "; ".join(origins) + ". Licence: " + newest.licence + "."]
        files[provider_file_name(newest.name or guid)] = (header, provider_lines(group, summary))

    try:
        groups, extra = kernel_hooks(kernel_table)
    except (InputError, OSError, UnicodeDecodeError) as e:
        errors.append(str(e) if isinstance(e, InputError) else "%s: %s" % (kernel_table, e))
        groups, extra = {}, {}
    header, lines = kernel_lines(folder, groups, extra, summary, errors)
    files["kernel-classes.txt"] = (header, lines)
    files["provider-names.txt"] = (
        ["Names of the providers registered on Windows 11 22H2 (build 22621).",
         "Origin: nasbench/provider-names.tsv, from nasbench/EVTX-ETW-Resources",
         "(ETWProvidersManifests/.../WEPExplorer/All.xml). Licence: MIT."], name_lines(folder, errors))
    if errors:
        return summary, errors

    # Written beside the sources first and moved in only once every file is
    # whole, so a failed run leaves the committed sources as they were.
    out_dir = os.path.abspath(out_dir)
    staging = tempfile.mkdtemp(prefix=".manifest-templates-", dir=os.path.dirname(out_dir))
    try:
        for name, (header, lines) in files.items():
            write_file(os.path.join(staging, name), header, lines)
        for name in files:
            os.replace(os.path.join(staging, name), os.path.join(out_dir, name))
        for old in os.listdir(out_dir):
            if is_written_here(old) and old not in files:
                os.remove(os.path.join(out_dir, old))  # a provider no longer described
    except OSError as e:
        errors.append("%s: %s" % (e.filename or out_dir, e.strerror or e))
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return summary, errors


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(USAGE)
        return 2
    folder, table, out_dir = argv[1:]
    summary, errors = convert(folder, table, out_dir)
    if errors:
        for e in errors:
            sys.stderr.write("manifest_templates.py: error: %s\n" % e)
        sys.stderr.write("manifest_templates.py: no template source written\n")
        return 1
    print("providers %d, events %d, templates written %d; kernel class event types %d, "
          "older versions %d (%d also under their builds)" %
          (summary.providers, summary.events, summary.templates, summary.kernel_types,
           summary.kernel_older, summary.kernel_by_build))
    print("cut short or left out: %d" % len(summary.notes))
    for n in summary.notes:
        print("  " + n)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

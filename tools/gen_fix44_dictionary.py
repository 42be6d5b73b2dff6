#!/usr/bin/env python3
"""Generate the FIX 4.4 data dictionary that Vantrel carries inside the library.

Usage:
    gen_fix44_dictionary.py [--include-dir /usr/include/quickfix] [--output FILE|-]
                            [--verbose]

The output is an XML document in the format that QuickFIX's FIX::DataDictionary
reads: root <fix major="4" minor="4">, then the sections header, trailer,
messages, components and fields, in that order. It has no XML declaration and
LF line ends, and it is a pure function of the installed headers: running the
script twice on the same headers gives byte-identical output.

Where the facts come from
-------------------------
Everything is read from the headers installed with the QuickFIX dependency:

* FixFieldNumbers.h  tag number of every field name (all FIX versions; a tag
                     may have several names, e.g. an old and a new spelling).
* FixFields.h        the DEFINE_<KIND>(Name) macro of every field name, which
                     gives its type.
* FixValues.h        the value constants, <FieldName>_<DESCRIPTION> = value.
* fix44/Message.h    the FIX 4.4 Header and Trailer classes.
* fix44/<Msg>.h      one class per FIX 4.4 message: its MsgType, its fields in
                     order (FIELD_SET) and its repeating groups, declared as
                     nested classes built with
                     FIX::Group(count, delimiter, FIX::message_order(...)).

Which fields are FIX 4.4 fields
-------------------------------
FixFields.h covers FIX 4.0 to 5.0 SP2. A field belongs to the dictionary when
the FIX 4.4 header, trailer or a FIX 4.4 message class (top level or inside a
group, at any depth) sets it. This takes each tag under the name the FIX 4.4
classes use for it (tag 63 is SettlType, not the older SettlmntTyp) and leaves
out both the fields that only earlier versions use (e.g. ExecTransType, 20)
and the fields that only 5.0 added. FIX 4.4 fields that no FIX 4.4 message
carries cannot be told apart from fields of other versions in these headers,
so they are not listed; a message that carries one still decodes, because
tags the dictionary does not define are kept as plain fields.

Field types
-----------
The DEFINE_<KIND> macro names the type. FixFields.h holds a single, most
recent type per field, so for a field whose type changed after 4.4 the newest
one is what the header says. Kinds that FIX 4.4 does not have are mapped back
to the FIX 4.4 type they replaced (TYPE_MAP below): MULTIPLECHARVALUE and
MULTIPLESTRINGVALUE (introduced by 5.0 to split MULTIPLEVALUESTRING) become
MULTIPLEVALUESTRING, CHECKSUM becomes STRING, and the remaining 5.0-only kinds
(none of which a FIX 4.4 class uses today) map to their 4.4 counterparts. A
type change of an individual field that did not also introduce a new kind
cannot be seen in the headers; such a field keeps its newer type. Types only
matter to QuickFIX's decoding for DATA fields (the length comes from the
preceding field) and NUMINGROUP fields, and those are the same in all versions
the headers cover. An unknown kind stops the generator.

Value lists
-----------
A field's values are the FixValues.h constants whose prefix is the field's
FIX 4.4 name; the description is the rest of the constant name (Side_BUY gives
enum "1", description "BUY"). Constants of older names of the same tag are not
used. When several constants carry the same value (aliases kept from older
versions), the value is listed once, where it first appears, with the
description of the last constant, which is the current name. Values that
cannot belong to the field's FIX 4.4 type are dropped: a CHAR or BOOLEAN field
keeps single-character values only, an INT-like field integer values only.
MsgType keeps only the MsgTypes of the FIX 4.4 message classes, described by
the constant that bears the class name. Beyond that the headers do not tell
which version added a value, so later values of a 4.4 field stay listed;
values are not checked when Vantrel decodes.

Messages, groups and components
-------------------------------
Each FIX 4.4 message class becomes a <message>; msgcat is "admin" for the
session messages (MsgType 0, 1, 2, 3, 4, 5, A), "app" otherwise. XMLnonFIX (n)
is not listed: its class declares no fields, it has no body definition, and
without one it decodes the same way. Its MsgType value stays in the MsgType
value list. Groups keep the count field, delimiter and member order of the
class, nested groups included, so that QuickFIX parses a message with this
dictionary exactly as its own FIX 4.4 classes split it. Members are written
in FIELD_SET order; the generator checks that this order agrees with the
class's message_order (which lists every plain member but not always the
count fields of nested groups), and that the delimiter is the first member.

The classes inline components. The FIX 4.4 components are found again in them
(COMPONENTS below): a group component is every group with the given count
field; a run component is the run of members from a first to a last member
name in the same member list (a first member with no last member after it is
a plain field there, e.g. OrderQty in the NoOrders group of
AllocationInstruction, and stays inline). Every occurrence of a component must
have the same content or the generator stops; the content written to <components> is the one the classes
declare. Replacing an inlined run by a component reference does not change
how QuickFIX parses: it expands components back into the same fields.

Required flags: only where the Vantrel definitions below say so, and for the
first member of every group when that member is a field (the delimiter has to
be present in each entry). Everything else is N. Required flags play no part
in decoding.

Vantrel's own definitions, applied on top
-----------------------------------------
The header (27 entries and their required flags), the trailer, the
MarketDataSnapshotFullRefresh (W) layout with its NoMDEntries member order,
the user messages U1 and U2, the user fields 7003 to 7007, the MsgType values
U1 and U2, the OrdType value Q (QUOTE_VELMO, replacing a later version's
meaning of Q) and the MDEntryType value list (0 to C). Where the headers
disagree with these definitions the definitions win; --verbose lists each
such place on stderr.
"""

import argparse
import os
import re
import sys

# ----------------------------------------------------------------------------
# Vantrel's definitions

# (name, required) in order; NoHops is a group whose members come from the headers.
HEADER = [
    ("BeginString", True), ("BodyLength", True), ("MsgType", True),
    ("SenderCompID", True), ("TargetCompID", True), ("OnBehalfOfCompID", False),
    ("DeliverToCompID", False), ("SecureDataLen", False), ("SecureData", False),
    ("MsgSeqNum", True), ("SenderSubID", False), ("SenderLocationID", False),
    ("TargetSubID", False), ("TargetLocationID", False), ("OnBehalfOfSubID", False),
    ("OnBehalfOfLocationID", False), ("DeliverToSubID", False),
    ("DeliverToLocationID", False), ("PossDupFlag", False), ("PossResend", False),
    ("SendingTime", True), ("OrigSendingTime", False), ("XmlDataLen", False),
    ("XmlData", False), ("MessageEncoding", False),
    ("LastMsgSeqNumProcessed", False), ("NoHops", False),
]

TRAILER = [("SignatureLength", False), ("Signature", False), ("CheckSum", True)]

ADMIN_MSGTYPES = {"0", "1", "2", "3", "4", "5", "A"}

# Entry layout of NoMDEntries in MarketDataSnapshotFullRefresh; the quote reader
# relies on exactly this order. MDEntryType (269) is the delimiter.
MD_ENTRY_TAGS = [269, 270, 15, 271, 272, 273, 274, 275, 336, 625, 276, 277, 282,
                 283, 284, 286, 59, 432, 126, 110, 18, 287, 37, 299, 288, 289,
                 346, 290, 546, 811, 58, 354, 355]

MDENTRYTYPE_VALUES = [
    ("0", "BID"), ("1", "OFFER"), ("2", "TRADE"), ("3", "INDEX_VALUE"),
    ("4", "OPENING_PRICE"), ("5", "CLOSING_PRICE"), ("6", "SETTLEMENT_PRICE"),
    ("7", "TRADING_SESSION_HIGH_PRICE"), ("8", "TRADING_SESSION_LOW_PRICE"),
    ("9", "TRADING_SESSION_VWAP_PRICE"), ("A", "IMBALANCE"),
    ("B", "TRADE_VOLUME"), ("C", "OPEN_INTEREST"),
]

# (number, name, type, values)
USER_FIELDS = [
    (7003, "NotifPriority", "INT",
     [("0", "INFO"), ("1", "WARNING"), ("2", "ERROR"), ("3", "ALERT")]),
    (7004, "AccountName", "STRING", []),
    (7005, "Leverage", "FLOAT", []),
    (7006, "UsableMargin", "FLOAT", []),
    (7007, "Equity", "FLOAT", []),
]

# (name, msgtype, fields in order, all required)
USER_MESSAGES = [
    ("VelmoCurrentAccountStateU1", "U1", ["NotifPriority", "Text"]),
    ("VelmoCurrentAccountStateU2", "U2",
     ["AccountName", "Currency", "Leverage", "UsableMargin", "Equity"]),
]

ORDTYPE_EXTRA = ("Q", "QUOTE_VELMO")

# FIX 4.4 components, in the order they are written. ("group", count field)
# or ("run", first member, last member). Group components are found first, so
# a run may end in a reference to one.
COMPONENTS = [
    ("Instrument", ("run", "Symbol", "InterestAccrualDate")),
    ("UnderlyingInstrument", ("run", "UnderlyingSymbol", "UnderlyingStipulations")),
    ("InstrumentLeg", ("run", "LegSymbol", "LegInterestAccrualDate")),
    ("InstrumentExtension", ("run", "DeliveryForm", "NoInstrAttrib")),
    ("OrderQtyData", ("run", "OrderQty", "RoundingModulus")),
    ("CommissionData", ("run", "Commission", "FundRenewWaiv")),
    ("Parties", ("group", "NoPartyIDs")),
    ("NestedParties", ("group", "NoNestedPartyIDs")),
    ("NestedParties2", ("group", "NoNested2PartyIDs")),
    ("NestedParties3", ("group", "NoNested3PartyIDs")),
    ("SettlParties", ("group", "NoSettlPartyIDs")),
    ("SpreadOrBenchmarkCurveData", ("run", "Spread", "BenchmarkSecurityIDSource")),
    ("LegBenchmarkCurveData", ("run", "LegBenchmarkCurveCurrency", "LegBenchmarkPriceType")),
    ("Stipulations", ("group", "NoStipulations")),
    ("UnderlyingStipulations", ("group", "NoUnderlyingStips")),
    ("LegStipulations", ("group", "NoLegStipulations")),
    ("YieldData", ("run", "YieldType", "YieldRedemptionPriceType")),
    ("PositionQty", ("group", "NoPositions")),
    ("PositionAmountData", ("group", "NoPosAmt")),
    ("TrdRegTimestamps", ("group", "NoTrdRegTimestamps")),
    ("SettlInstructionsData", ("run", "SettlDeliveryType", "NoDlvyInst")),
    ("PegInstructions", ("run", "PegOffsetValue", "PegScope")),
    ("DiscretionInstructions", ("run", "DiscretionInst", "DiscretionScope")),
    ("FinancingDetails", ("run", "AgreementDesc", "MarginRatio")),
]

# DEFINE_<KIND> of FixFields.h -> FIX 4.4 dictionary type name.
TYPE_MAP = {
    "STRING": "STRING", "INT": "INT", "CHAR": "CHAR", "NUMINGROUP": "NUMINGROUP",
    "PRICE": "PRICE", "QTY": "QTY", "LOCALMKTDATE": "LOCALMKTDATE", "AMT": "AMT",
    "BOOLEAN": "BOOLEAN", "PERCENTAGE": "PERCENTAGE",
    "UTCTIMESTAMP": "UTCTIMESTAMP", "FLOAT": "FLOAT", "LENGTH": "LENGTH",
    "CURRENCY": "CURRENCY", "DATA": "DATA", "PRICEOFFSET": "PRICEOFFSET",
    "SEQNUM": "SEQNUM", "MULTIPLEVALUESTRING": "MULTIPLEVALUESTRING",
    "EXCHANGE": "EXCHANGE", "MONTHYEAR": "MONTHYEAR", "COUNTRY": "COUNTRY",
    "UTCDATEONLY": "UTCDATEONLY", "UTCTIMEONLY": "UTCTIMEONLY",
    # Kinds that FIX 4.4 does not have, mapped to the type they replaced.
    "MULTIPLECHARVALUE": "MULTIPLEVALUESTRING",
    "MULTIPLESTRINGVALUE": "MULTIPLEVALUESTRING",
    "CHECKSUM": "STRING",
    "DAYOFMONTH": "INT",
    "UTCDATE": "UTCDATEONLY",
    "TZTIMEONLY": "UTCTIMEONLY",
    "TZTIMESTAMP": "UTCTIMESTAMP",
    "LANGUAGE": "STRING",
    "XMLDATA": "DATA",
}

SINGLE_CHAR_TYPES = {"CHAR", "BOOLEAN"}
INTEGER_TYPES = {"INT", "NUMINGROUP", "SEQNUM", "LENGTH"}

# ----------------------------------------------------------------------------
# Model


class GenError(Exception):
    pass


class Member:
    """A field, group or component reference inside a message, group or component."""

    __slots__ = ("kind", "name", "required", "members", "layout")

    def __init__(self, kind, name, required=False, members=None):
        self.kind = kind          # "field", "group" or "component"
        self.name = name
        self.required = required
        self.members = members if members is not None else []
        self.layout = None        # groups read from a class: (count, delim, order)

    def shape(self):
        """Structure without required flags, for comparing occurrences."""
        if self.kind == "group":
            return ("group", self.name, tuple(m.shape() for m in self.members))
        return (self.kind, self.name)

    def copy(self):
        return Member(self.kind, self.name, self.required,
                      [m.copy() for m in self.members])


def field(name, required=False):
    return Member("field", name, required)


def group(name, members, required=False):
    return Member("group", name, required, members)


def component(name, required=False):
    return Member("component", name, required)


def shapes(members):
    return tuple(m.shape() for m in members)


def describe(members, indent="  "):
    out = []
    for m in members:
        out.append("%s%s %s" % (indent, m.kind, m.name))
        if m.kind == "group":
            out.extend(describe(m.members, indent + "  "))
    return out

# ----------------------------------------------------------------------------
# Header reading


def read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError as e:
        raise GenError("cannot read %s: %s" % (path, e.strerror))


def read_field_numbers(inc):
    text = read(os.path.join(inc, "FixFieldNumbers.h"))
    numbers = {}
    for name, num in re.findall(r"const int (\w+) = (\d+);", text):
        numbers[name] = int(num)
    if not numbers:
        raise GenError("no field numbers in FixFieldNumbers.h")
    return numbers


def read_field_kinds(inc):
    text = read(os.path.join(inc, "FixFields.h"))
    kinds = {}
    for kind, name in re.findall(r"DEFINE_(\w+)\((\w+)\);", text):
        kinds[name] = kind
    if not kinds:
        raise GenError("no field definitions in FixFields.h")
    return kinds


VALUE_RE = re.compile(
    r"const (?:char (\w+?)_(\w+) = '(.)';"
    r"|char (\w+?)_(\w+)\[\] = \"([^\"]*)\";"
    r"|int (\w+?)_(\w+) = (-?\d+);)")


def read_values(inc):
    """Field name -> list of (value, description) in declaration order."""
    text = read(os.path.join(inc, "FixValues.h"))
    values = {}
    for m in VALUE_RE.finditer(text):
        g = m.groups()
        for i in (0, 3, 6):
            if g[i] is not None:
                values.setdefault(g[i], []).append((g[i + 2], g[i + 1]))
                break
    return values


TOKEN_RE = re.compile(
    r"(?P<cls>class\s+(?P<clsname>\w+)\s*:\s*public\s+(?P<base>[\w:]+))"
    r"|(?P<grp>FIX::Group\((?P<count>\d+),(?P<delim>\d+),"
    r"FIX::message_order\((?P<order>[\d,\s]*)\)\))"
    r"|(?P<set>FIELD_SET\(\*this,\s*FIX::(?P<field>\w+)\))"
    r"|(?P<msgtype>FIX::MsgType\(\"(?P<mt>\w+)\"\))"
    r"|(?P<end>^\s*\};)", re.M)


class ParsedClass:
    def __init__(self, name, base):
        self.name = name
        self.base = base
        self.msgtype = None
        self.members = []
        self.group_def = None     # (count, delim, order) for groups
        self.group_member = None  # the Member that stands for this group in its parent


def parse_classes(path):
    """Top-level classes of a fix44 header with their members and nested groups."""
    text = read(path)
    top = []
    stack = []
    for m in TOKEN_RE.finditer(text):
        if m.group("cls"):
            cls = ParsedClass(m.group("clsname"), m.group("base"))
            if m.group("base") == "FIX::Group":
                if not stack:
                    raise GenError("%s: group class %s outside a class" % (path, cls.name))
                parent = stack[-1]
                if not parent.members or parent.members[-1].name != cls.name \
                        or parent.members[-1].kind != "field":
                    raise GenError("%s: group %s not preceded by its count field"
                                   % (path, cls.name))
                cls.group_member = group(cls.name, cls.members)
                parent.members[-1] = cls.group_member
            else:
                if stack:
                    raise GenError("%s: nested non-group class %s" % (path, cls.name))
                top.append(cls)
            stack.append(cls)
        elif m.group("grp"):
            if not stack:
                raise GenError("%s: group constructor outside a class" % path)
            order = [int(x) for x in m.group("order").replace(" ", "").split(",") if x]
            if not order or order[-1] != 0:
                raise GenError("%s: message_order not terminated by 0" % path)
            stack[-1].group_def = (int(m.group("count")), int(m.group("delim")), order[:-1])
        elif m.group("set"):
            if not stack:
                raise GenError("%s: FIELD_SET outside a class" % path)
            stack[-1].members.append(field(m.group("field")))
        elif m.group("msgtype"):
            if stack:
                stack[-1].msgtype = m.group("mt")
        elif m.group("end"):
            if stack:
                finished = stack.pop()
                if finished.base == "FIX::Group":
                    if finished.group_def is None:
                        raise GenError("%s: group %s without constructor"
                                       % (path, finished.name))
                    finished.group_member.layout = finished.group_def
    if stack:
        raise GenError("%s: unbalanced class declarations" % path)
    return top


def check_groups(members, numbers, where):
    """Each group's FIELD_SETs must follow its message_order, delimiter first."""
    for m in walk(members):
        if m.kind != "group":
            continue
        count, delim, order = m.layout
        if numbers.get(m.name) != count:
            raise GenError("%s: group %s has count tag %d" % (where, m.name, count))
        # message_order lists every plain member; the count field of a nested
        # group is listed in some classes and left out in others (QuickFIX then
        # writes it after the listed members). Either way the member order
        # must agree with the FIELD_SET order.
        plain = [numbers[x.name] for x in m.members if x.kind == "field"]
        tags = [numbers[x.name] for x in m.members if numbers[x.name] in order]
        if tags != order or not set(plain) <= set(order):
            raise GenError("%s: group %s members %s differ from message_order %s"
                           % (where, m.name, tags, order))
        if not order or order[0] != delim:
            raise GenError("%s: group %s delimiter %d is not its first member"
                           % (where, m.name, delim))


def walk(members):
    for m in members:
        yield m
        if m.kind == "group":
            yield from walk(m.members)

# ----------------------------------------------------------------------------
# Components


def member_lists(members):
    """Every member list reachable from members, the given one included."""
    yield members
    for m in members:
        if m.kind == "group":
            yield from member_lists(m.members)


def extract_components(messages, notes):
    """Replace inlined components by references; return name -> members."""
    defined = {}
    # Group components first: runs may end in one (UnderlyingInstrument).
    todo = [c for c in COMPONENTS if c[1][0] == "group"] + \
           [c for c in COMPONENTS if c[1][0] == "run"]
    for cname, rule in todo:
        occurrences = []
        holders = list(messages.values()) + list(defined.values())
        for top in holders:
            for lst in member_lists(top):
                i = 0
                while i < len(lst):
                    m = lst[i]
                    if rule[0] == "group":
                        if m.kind == "group" and m.name == rule[1]:
                            occurrences.append(([m.copy()], lst, i, i + 1))
                        i += 1
                        continue
                    if m.name != rule[1] or m.kind == "component":
                        i += 1
                        continue
                    end = next((j for j in range(i, len(lst)) if lst[j].name == rule[2]), None)
                    if end is None:
                        note = ("%s: %s without %s, left inline"
                                % (cname, rule[1], rule[2]))
                        if note not in notes:
                            notes.append(note)
                        i += 1
                        continue
                    occurrences.append(([x.copy() for x in lst[i:end + 1]], lst, i, end + 1))
                    i = end + 1
        if not occurrences:
            raise GenError("component %s does not occur in the FIX 4.4 classes" % cname)
        body = occurrences[0][0]
        for members, _, _, _ in occurrences:
            if shapes(members) != shapes(body):
                raise GenError("component %s occurs with different contents:\n%s\n--\n%s"
                               % (cname, "\n".join(describe(body)),
                                  "\n".join(describe(members))))
        # Replace from the back so that earlier indices of the same list stay valid.
        for members, lst, start, end in reversed(occurrences):
            lst[start:end] = [component(cname)]
        defined[cname] = body
    return defined

# ----------------------------------------------------------------------------
# Required flags


def mark_group_delimiters(members):
    for m in members:
        if m.kind == "group":
            if m.members and m.members[0].kind == "field":
                m.members[0].required = True
            mark_group_delimiters(m.members)

# ----------------------------------------------------------------------------
# XML output


def esc(s):
    return (s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def yn(b):
    return "Y" if b else "N"


def write_members(out, members, depth):
    pad = "  " * depth
    for m in members:
        if m.kind == "group":
            out.append('%s<group name="%s" required="%s">' % (pad, esc(m.name), yn(m.required)))
            write_members(out, m.members, depth + 1)
            out.append("%s</group>" % pad)
        else:
            out.append('%s<%s name="%s" required="%s"/>'
                       % (pad, m.kind, esc(m.name), yn(m.required)))


def render(header, trailer, messages, components, fields):
    out = ['<fix major="4" minor="4">']
    out.append("  <header>")
    write_members(out, header, 2)
    out.append("  </header>")
    out.append("  <trailer>")
    write_members(out, trailer, 2)
    out.append("  </trailer>")
    out.append("  <messages>")
    for name, msgtype, msgcat, members in messages:
        out.append('    <message name="%s" msgtype="%s" msgcat="%s">'
                   % (esc(name), esc(msgtype), msgcat))
        write_members(out, members, 3)
        out.append("    </message>")
    out.append("  </messages>")
    out.append("  <components>")
    for name, members in components:
        out.append('    <component name="%s">' % esc(name))
        write_members(out, members, 3)
        out.append("    </component>")
    out.append("  </components>")
    out.append("  <fields>")
    for number, name, ftype, values in fields:
        if values:
            out.append('    <field number="%d" name="%s" type="%s">' % (number, esc(name), ftype))
            for enum, desc in values:
                out.append('      <value enum="%s" description="%s"/>' % (esc(enum), esc(desc)))
            out.append("    </field>")
        else:
            out.append('    <field number="%d" name="%s" type="%s"/>' % (number, esc(name), ftype))
    out.append("  </fields>")
    out.append("</fix>")
    return "\n".join(out) + "\n"

# ----------------------------------------------------------------------------
# Assembly


def msgtype_key(mt):
    return (len(mt), mt)


def value_fits(ftype, value):
    if ftype in SINGLE_CHAR_TYPES:
        return len(value) == 1
    if ftype in INTEGER_TYPES:
        return re.fullmatch(r"-?\d+", value) is not None
    return True


def build(inc):
    notes = []
    numbers = read_field_numbers(inc)
    kinds = read_field_kinds(inc)
    constants = read_values(inc)
    fix44 = os.path.join(inc, "fix44")

    # Header and trailer classes.
    base = {c.name: c for c in parse_classes(os.path.join(fix44, "Message.h"))}
    if "Header" not in base or "Trailer" not in base:
        raise GenError("fix44/Message.h lacks the Header or Trailer class")
    hdr_cls, trl_cls = base["Header"].members, base["Trailer"].members

    # Message classes.
    try:
        names = sorted(os.listdir(fix44))
    except OSError as e:
        raise GenError("cannot list %s: %s" % (fix44, e.strerror))
    classes = []
    for fn in names:
        if not fn.endswith(".h") or fn in ("Message.h", "MessageCracker.h"):
            continue
        for cls in parse_classes(os.path.join(fix44, fn)):
            if cls.base != "Message" or cls.msgtype is None:
                raise GenError("%s: %s is not a FIX 4.4 message class" % (fn, cls.name))
            classes.append(cls)
    if not classes:
        raise GenError("no FIX 4.4 message classes in %s" % fix44)

    # Field set: every name the FIX 4.4 classes set, anywhere.
    used = set()
    for members in [hdr_cls, trl_cls] + [c.members for c in classes]:
        for m in walk(members):
            used.add(m.name)
    for name in sorted(used):
        if name not in numbers or name not in kinds:
            raise GenError("field %s used by the FIX 4.4 classes is not defined" % name)
    by_number = {}
    for name in used:
        if numbers[name] in by_number:
            raise GenError("tag %d used under two names: %s, %s"
                           % (numbers[name], by_number[numbers[name]], name))
        by_number[numbers[name]] = name
    check_groups(hdr_cls, numbers, "Header")
    for c in classes:
        check_groups(c.members, numbers, c.name)

    ftypes = {}
    for name in used:
        kind = kinds[name]
        if kind not in TYPE_MAP:
            raise GenError("field %s has unknown type kind %s" % (name, kind))
        ftypes[name] = TYPE_MAP[kind]

    # Messages, without XMLnonFIX, which declares no body.
    msgtypes_44 = {}
    messages = {}
    meta = {}
    for cls in classes:
        if cls.msgtype in msgtypes_44:
            raise GenError("MsgType %s declared by %s and %s"
                           % (cls.msgtype, msgtypes_44[cls.msgtype], cls.name))
        msgtypes_44[cls.msgtype] = cls.name
        if cls.name == "XMLnonFIX" and not cls.members:
            continue
        messages[cls.name] = cls.members
        meta[cls.name] = cls.msgtype

    # Header: Vantrel's list; NoHops members from the class.
    if [m.name for m in hdr_cls] != [n for n, _ in HEADER]:
        notes.append("header class differs from the header definition; definition used")
    hdr_groups = {m.name: m for m in hdr_cls if m.kind == "group"}
    header = []
    for name, req in HEADER:
        if name in hdr_groups:
            header.append(group(name, [x.copy() for x in hdr_groups[name].members], req))
        else:
            if name not in used:
                raise GenError("header field %s unknown" % name)
            header.append(field(name, req))
    if [m.name for m in trl_cls] != [n for n, _ in TRAILER]:
        notes.append("trailer class differs from the trailer definition; definition used")
    trailer = [field(n, r) for n, r in TRAILER]

    components = extract_components(messages, notes)
    # The header's group is not a component; leave it inline.

    # MarketDataSnapshotFullRefresh as Vantrel defines it.
    w_name = msgtypes_44.get("W")
    if w_name is None:
        raise GenError("no FIX 4.4 class for MsgType W")
    for tag in MD_ENTRY_TAGS:
        if tag not in by_number:
            raise GenError("NoMDEntries member %d is not a FIX 4.4 field" % tag)
    md_entries = [field(by_number[t], t == 269) for t in MD_ENTRY_TAGS]
    w_def = [
        field("MDReqID"),
        component("Instrument", True),
        group("NoUnderlyings", [component("UnderlyingInstrument")]),
        group("NoLegs", [component("InstrumentLeg")]),
        field("FinancialStatus"),
        field("CorporateAction"),
        field("NetChgPrevDay"),
        group("NoMDEntries", md_entries, True),
        field("ApplQueueDepth"),
        field("ApplQueueResolution"),
    ]
    if shapes(messages[w_name]) != shapes(w_def):
        notes.append("%s class differs from the W definition; definition used:\n"
                     "class:\n%s\ndefinition:\n%s"
                     % (w_name, "\n".join(describe(messages[w_name])),
                        "\n".join(describe(w_def))))

    for members in list(messages.values()) + list(components.values()) + [header]:
        mark_group_delimiters(members)
    messages[w_name] = w_def

    # Field table.
    user_names = {name for _, name, _, _ in USER_FIELDS}
    clash = user_names & used
    if clash or any(n in by_number for n, _, _, _ in USER_FIELDS):
        raise GenError("user fields clash with FIX 4.4 fields: %s" % sorted(clash))
    fields = []
    dropped = 0
    for number in sorted(by_number):
        name = by_number[number]
        ftype = ftypes[name]
        vals = {}
        for value, desc in constants.get(name, []):
            vals[value] = desc
        if name == "MsgType":
            vals = {}
            for value, desc in constants.get(name, []):
                if value in msgtypes_44 and (value not in vals or desc == msgtypes_44[value]):
                    vals[value] = desc
            missing = set(msgtypes_44) - set(vals)
            for value in sorted(missing, key=msgtype_key):
                vals[value] = msgtypes_44[value]
            for mname, mt, _ in USER_MESSAGES:
                vals[mt] = mname
        elif name == "MDEntryType":
            if ftype != "CHAR":
                notes.append("MDEntryType: type %s replaced by CHAR" % ftype)
                ftype = "CHAR"
            fromhdr = list(vals.items())
            vals = dict(MDENTRYTYPE_VALUES)
            extra = [v for v, _ in fromhdr if v not in vals]
            if extra:
                notes.append("MDEntryType: values %s of later FIX versions left out"
                             % " ".join(extra))
        elif name == "OrdType":
            old = vals.get(ORDTYPE_EXTRA[0])
            if old is not None and old != ORDTYPE_EXTRA[1]:
                notes.append("OrdType: value %s %s replaced by %s"
                             % (ORDTYPE_EXTRA[0], old, ORDTYPE_EXTRA[1]))
            vals[ORDTYPE_EXTRA[0]] = ORDTYPE_EXTRA[1]
        kept = [(v, d) for v, d in vals.items() if value_fits(ftype, v)]
        dropped += len(vals) - len(kept)
        fields.append((number, name, ftype, kept))
    for number, name, ftype, values in USER_FIELDS:
        fields.append((number, name, ftype, values))
    if dropped:
        notes.append("%d values dropped for not fitting their field's FIX 4.4 type" % dropped)

    # Messages in MsgType order, user messages included.
    for mname, mt, fnames in USER_MESSAGES:
        for fname in fnames:
            if fname not in used and fname not in user_names:
                raise GenError("%s: unknown field %s" % (mname, fname))
        messages[mname] = [field(f, True) for f in fnames]
        meta[mname] = mt
    ordered = sorted(messages, key=lambda n: msgtype_key(meta[n]))
    msg_out = [(n, meta[n], "admin" if meta[n] in ADMIN_MSGTYPES else "app", messages[n])
               for n in ordered]
    comp_out = [(name, components[name]) for name, _ in COMPONENTS]

    # Every name written must be defined.
    known = {name for _, name, _, _ in fields}
    for members in [header, trailer] + [m for _, _, _, m in msg_out] + [m for _, m in comp_out]:
        for m in walk(members):
            if m.kind == "component":
                if m.name not in components:
                    raise GenError("reference to undefined component %s" % m.name)
            elif m.name not in known:
                raise GenError("reference to undefined field %s" % m.name)

    text = render(header, trailer, msg_out, comp_out, fields)
    return text, notes


def main(argv=None):
    ap = argparse.ArgumentParser(description="Generate the FIX 4.4 data dictionary "
                                             "from the installed QuickFIX headers.")
    ap.add_argument("--include-dir", default="/usr/include/quickfix",
                    help="QuickFIX header directory (default: %(default)s)")
    ap.add_argument("--output", default="-", help="output file, - for stdout (default)")
    ap.add_argument("--verbose", action="store_true",
                    help="print on stderr where the headers and Vantrel's definitions differ")
    args = ap.parse_args(argv)
    try:
        text, notes = build(args.include_dir)
    except GenError as e:
        print("gen_fix44_dictionary: error: %s" % e, file=sys.stderr)
        return 1
    if args.verbose:
        for n in notes:
            print("gen_fix44_dictionary: note: %s" % n, file=sys.stderr)
    data = text.encode("utf-8")
    if args.output == "-":
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
    else:
        tmp = args.output + ".tmp"
        try:
            with open(tmp, "wb") as f:
                f.write(data)
            os.replace(tmp, args.output)
        except OSError as e:
            print("gen_fix44_dictionary: error: cannot write %s: %s"
                  % (args.output, e.strerror), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

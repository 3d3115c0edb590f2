"""Call records as the capture shows them, against the records the console
printed: the library's decoding of the same bytes."""

# The console's name of each field the dissector shows, and its type.
FIELDS = {
    "qcdr.number_a": ("numberA", int), "qcdr.number_b": ("numberB", int), "qcdr.number_c": ("numberC", int),
    "qcdr.number_d": ("numberD", int), "qcdr.digits_a": ("textA", str), "qcdr.digits_b": ("textB", str),
    "qcdr.digits_c": ("textC", str), "qcdr.text": ("text", str), "qcdr.duration": ("duration", int),
    "qcdr.value_a": ("valueA", int), "qcdr.value_b": ("valueB", int), "qcdr.address": ("addressText", str),
    "qcdr.word_a": ("wordA", int), "qcdr.word_b": ("wordB", int),
}
# What the console shows for a field that a record's kind does not carry.
ABSENT = {"numberA": -1, "numberB": -1, "numberC": -1, "textA": "", "textB": "", "textC": "", "text": "",
          "addressText": ""}
DATE = ("second", "minute", "hour", "day", "month", "year")


def records_in(packets):
    """Every call record of the capture, in stream order, with the frame it
    was completed in."""
    return [(p, proto) for p in packets for proto in p.ours()
            if proto.name == "qcdr" and proto.own("qcdr.kind") is not None]


def check_records(checks, packets, printed):
    """Each record in the capture against the console's record at the same
    place: its kind, date, every field its kind carries, and the absence of
    the others; and each record's three checks good.  Returns how many."""
    found = records_in(packets)
    checks.equal(len(found), len(printed), "call records in the capture and printed by the console")
    for i, ((packet, record), note) in enumerate(zip(found, printed)):
        where = "record %d (frame %d)" % (i + 1, packet.number())
        checks.equal(record.own("qcdr.kind_letter"), note["kindLetter"], where + " kind")
        date = record.first("qcdr.date")
        got = {part: int(date.own("qcdr.date." + part)) for part in DATE}
        got["year"] += 2000
        checks.equal(got, {part: note[part] for part in DATE}, where + " date")
        for field in record.children:
            if field.name in FIELDS:
                name, kind = FIELDS[field.name]
                checks.equal(kind(field.show), note[name], "%s %s" % (where, name))
        unread = record.first("qcdr.unread")
        for field in unread.children if unread else []:
            if field.name in FIELDS:
                name = FIELDS[field.name][0]
                checks.equal(note[name], ABSENT.get(name, 0), "%s %s, not carried by its kind" % (where, name))
        for status in ("qcdr.marker.status", "qcdr.sum.status", "qcdr.check.status", "qcdr.valid"):
            checks.equal(record.value(status), "1", "%s %s" % (where, status))
    return len(found)

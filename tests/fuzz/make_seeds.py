#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/ from the readable cases below.

The targets split their input with libFuzzer's FuzzedDataProvider: strings are taken from the front
(a backslash is doubled, a backslash and one more byte end a string), numbers and switches from the
back, the last byte first. Run it after editing a case; it rewrites only the seeds named here.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def text(s):
    """A string field ended for ConsumeRandomLengthString."""
    b = s.encode("latin-1") if isinstance(s, str) else s
    return b.replace(b"\\", b"\\\\") + b"\\ "


def rest(s):
    return s.encode("latin-1") if isinstance(s, str) else s


def back(*numbers):
    """(value, byte count) pairs in the order the target consumes them. Numbers are taken from the
    end, the first one last in the file; of a wider one the last byte is the high one."""
    out = b""
    for value, width in numbers:
        out = value.to_bytes(width, "little") + out
    return out


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


INI_FILES = {
    "editor_saved": "[General]\r\nPriDBType=1\r\nPriConnectionString=TAVOK6285:8\r\n"
                    "SecDBType=3\r\nSecLocalTextFile=/var/spool/dbrelay/queue.txt\r\n"
                    "EmailSubject=DbRelay failed\r\nKey=12abc\r\n",
    "hand_edited_lf": "; written by hand\n[general]\n  key =  \"quoted value\"  \nOther='x'\n",
    "bom_first": "\xef\xbb\xbf[General]\r\nKey=1\r\nOther=2\r\n",
    "two_sections": "[General]\nOther=1\n[Other]\nKey=elsewhere\n[General]\nKey=second\n",
    "no_final_newline": "[General]\r\nKey=last",
    "junk_and_nul": "\x00\xff[Gen\x00eral]\nKey=a\x00b\n[General\nKey\n=v\n[General]\nKey=-4294967297\n",
    "long_value": "[General]\nKey=" + "x" * 5000 + "\n",
    "empty": "",
    "cr_only": "; saved with CR\r[General]\rKey=cr\rOther=2\r",
    "utf16_le": b"\xff\xfe" + "[General]\r\nKey=1\r\nOther=\u00e9\r\n".encode("utf-16-le"),
}
for i, (name, contents) in enumerate(INI_FILES.items()):
    key_from_list = i % 2 == 0
    value = ["new value", "", "  padded", "\"q\"", "a=b;c", "x" * 4100, "line\nbreak", "7",
             "after cr", "8"][i]
    if key_from_list:
        data = text(contents) + rest(value) + back((1, 1), (i % 5, 1))
    else:
        data = text(contents) + text(["Other", "New Key", "[bad", "k=v"][i // 2 % 4]) + rest(value) \
            + back((0, 1))
    write("ini_reader", name, data)

CODEC = {
    "abc": b"abc",
    "encoded_abc": b"TAVOK6285:8",
    "odd_body": b"TAVOK6285:",
    "marker_only": b"TAVOK",
    "lower_marker": b"tavok6285:8",
    "high_bytes": bytes(range(0x80, 0x100)),
    "zero_bytes": b"a\x00b\x00",
    "wrap_past_50": b"Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;Database=Orders;Uid=sa;Pwd=p;",
    "damaged_body": b"TAVOKzz\x00\xff~",
}
for name, data in CODEC.items():
    write("setting_codec", name, data)

CONNECTION_TEXTS = {
    "composed": ("server=", "Provider=SQLOLEDB.1;Server=HOST\\SQLEXPRESS;Database=Orders;Uid=sa;Pwd=Secret;"),
    "any_case_any_order": ("database=", "DATABASE=Orders;SERVER=b"),
    "last_without_semicolon": ("server=", "Server=b"),
    "oledb_keywords": ("uid=", "Data Source=h;User ID=u;Password=p"),
    "key_inside_other_key": ("uid=", "Provider=x;XUid=inner;Uid=outer"),
    "empty_value": ("pwd=", "Pwd=;"),
}
for name, (key, s) in CONNECTION_TEXTS.items():
    # text mode, then the key as its own string
    write("connection_value", name, text(key) + rest(s) + back((1, 1), (0, 1)))
FIELDS = {
    "fields_plain": ("HOST\\SQLEXPRESS", "Orders", "sa", "Secret"),
    "fields_empty": ("", "", "", ""),
    "fields_semicolon": ("h", "d", "u", "pa;ss"),
    "fields_key_in_value": ("pwd", "server", "uid", "database"),
}
for name, (a, b, c, d) in FIELDS.items():
    write("connection_value", name, text(a) + text(b) + text(c) + rest(d) + back((0, 1)))

NAMES = {
    "plain_switch_off": (False, False, "", "/var/spool/dbrelay/queue.txt"),
    "stamped": (True, False, "", "/var/spool/dbrelay/queue.txt"),
    "forced": (False, False, "batch7", "/out/queue.txt"),
    "forced_with_extension": (True, False, "batch7.sql", "/out/queue.txt"),
    "dot_in_folder": (True, False, "", "/my.dir/q"),
    "no_folder": (True, False, "batch", "queue.txt"),
    "utf8_names": (True, True, "Stapel\xc3\xa4", "/\xc3\xa9t\xc3\xa9/Warteschlange.\xc3\xbcxt"),
    "broken_utf8": (True, True, "\xe2/", "/a\xe2\x80/b\xc3.t\xff.x"),
    "empty_path": (True, False, "x", ""),
}
for name, (stamped, utf8, forced, configured) in NAMES.items():
    # consumed in order: stamped, locale, year-1 (2 bytes), month-1, day-1, hour, minute, second,
    # millisecond (2 bytes)
    numbers = [(int(stamped), 1), (int(utf8), 1), (2024 - 1, 2), (3 - 1, 1), (5 - 1, 1), (14, 1),
               (7, 1), (9, 1), (42, 2)]
    write("text_file_name", name, text(forced) + rest(configured) + back(*numbers))

BODIES = {
    "report_lf": ("DbRelay failed", "Primary DB connection failed with error:\nLogin failed\n"
                  "GetLastError = 0\n\nTrying secondary connection\n"),
    "mixed_line_ends": ("Line ends", "a\r\nb\rc\nd\r\r\n\n\re"),
    "dots": ("Dots", ".\n..\nx\n.\r\n.end"),
    "long_line": ("Long", "y" * 1200 + "\nshort\n"),
    "exactly_998": ("Limit", "z" * 998 + "\r\n" + "z" * 997),
    "just_over_998": ("Over", "z" * 999),
    "nul_byte": ("Nul", "before\x00after\n"),
    "utf8_subject": ("Fehler beim \xc3\x9cbertragen der Anweisung \xe2\x80\x94 " * 3, "K\xc3\xb6rper\n"),
    "utf8_subject_two_byte": ("\xc3\xa4" * 40, "\xc3\xa4\n"),  # 45 bytes per word fall mid-character
    "encoded_word_lookalike": ("=?UTF-8?B?eA==?=", "body"),
    "empty": ("", ""),
}
for name, (subject, body) in BODIES.items():
    utf8 = "\xc3" in subject or "\xc3" in body
    write("mail_body", name, text(subject) + rest(body) + back((int(utf8), 1)))

# The boundaries file a replay reads: the text file's size is the 3 bytes at the end.
HEADER = b"DbRelay boundaries 1 0123456789abcdef0123456789abcdef\n"
BOUNDARIES = {
    "two_records": (HEADER + b"0 5 1a2b3c4d\n5 7 0\n", 12),
    "record_cut_short": (HEADER + b"0 5 1a2b3c4d\n5 7 0\n", 9),
    "torn_last_line": (HEADER + b"0 5 1a2b3c4d\n5 7", 5),
    "gap": (HEADER + b"0 5 0\n6 7 1\n", 13),
    "damaged_line": (HEADER + b"0 5 0\n5 x 1\n", 12),
    "not_ours": (b"INSERT INTO t VALUES (1)\r\n", 26),
    "huge_numbers": (HEADER + b"18446744073709551615 2 0\n", 3),
}
for name, (contents, text_size) in BOUNDARIES.items():
    write("record_boundaries", name, rest(contents) + back((text_size, 3)))

# Two statements the replay may join: the first a string field, the second the rest.
JOINED = {
    "plain": ("INSERT INTO t VALUES (1)", "UPDATE t SET n = n + 1 WHERE id = 1;"),
    "quoted_semicolons": ("INSERT INTO t VALUES ('a;--/*b')", "DELETE FROM \"odd;\"\"t\" WHERE x = ';'"),
    "crlf_and_final_semicolon": ("\r\n insert into t values ('x\r\ny') ;\r\n ", "INSERT INTO t VALUES (2)"),
    "escape_string_without_backslash": ("INSERT INTO t VALUES (E'it''s')", "INSERT INTO t VALUES (U&'d!0061t' UESCAPE '!')"),
    "open_quote_then_closing": ("INSERT INTO items (body) VALUES ('x", "INSERT '), ('y'); INSERT INTO items (body) VALUES ('z')"),
    "comment_then_statement": ("INSERT INTO t VALUES (1) /* ", "INSERT INTO t VALUES (2) */"),
    "not_utf8": ("INSERT INTO t VALUES ('\xff\xfe')", "INSERT INTO t VALUES ('\x81\x40')"),
    "open_parenthesis": ("INSERT INTO t VALUES ('\xff\xfe')", "INSERT INTO t VALUES (U&'d!0061t'UES "),
}
for name, (first, second) in JOINED.items():
    write("joined_statements", name, text(first) + rest(second))

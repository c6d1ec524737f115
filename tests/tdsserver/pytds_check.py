#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The test server read by a client that shares no code with it or with FreeTDS: pytds.

Starts tallowby-demo-server on a free port with a database of every declared type, reads each
table at TDS 7.1, 7.2, 7.3 and 7.4 and compares every value with what SQLite holds, as pytds
gives it for the type SQL Server sends to a client of that version. Also checks the row counts
of SET NOCOUNT, the transactions a client begins and ends, and an error's line number.

usage: pytds_check.py DEMO_SERVER
"""

import datetime
import decimal
import os
import select
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import uuid

try:
    import pytds
    from pytds import tds_base
except ImportError:
    sys.exit("pytds is missing: install the Debian package python3-tds")

VERSIONS = {"7.1": tds_base.TDS71, "7.2": tds_base.TDS72, "7.3": tds_base.TDS73,
            "7.4": tds_base.TDS74}
LONG = 100000
failures = []


def check(what, got, expected):
    if got != expected or type(got) is not type(expected):
        shown = lambda v: repr(v) if len(repr(v)) < 200 else repr(v)[:200] + "..."
        failures.append(f"{what}: got {shown(got)}, expected {shown(expected)}")


class Offset(datetime.tzinfo):
    def __init__(self, minutes):
        self.minutes = minutes

    def utcoffset(self, dt):
        return datetime.timedelta(minutes=self.minutes)


# Each column: declared type, SQLite values, and a function giving what pytds reads for a value
# at a TDS version (v >= 0x73 for 7.3 and later).
def when(old, new):
    return lambda v: new if v >= 0x73 else old


def real(x):
    return struct.unpack("f", struct.pack("f", x))[0]


COLUMNS = [
    ("int", ["-2147483648", "2147483647"], [lambda v: -2147483648, lambda v: 2147483647]),
    ("bigint", ["-9223372036854775808", "0"], [lambda v: -9223372036854775808, lambda v: 0]),
    ("smallint", ["-32768", "7"], [lambda v: -32768, lambda v: 7]),
    ("tinyint", ["255", "0"], [lambda v: 255, lambda v: 0]),
    ("bit", ["1", "0"], [lambda v: True, lambda v: False]),
    # A numeric affinity would make the long decimal a double: a blob keeps its digits.
    ("decimal(38,4)", ["CAST('-12345678901234567890123456789012.5' AS BLOB)", "'0.0001'"],
     [lambda v: decimal.Decimal("-12345678901234567890123456789012.5000"),
      lambda v: decimal.Decimal("0.0001")]),
    ("numeric(5,0)", ["99999", "-1"], [lambda v: decimal.Decimal(99999), lambda v: decimal.Decimal(-1)]),
    ("money", ["CAST('-922337203685477.5808' AS BLOB)", "'12.34'"],
     [lambda v: decimal.Decimal("-922337203685477.5808"), lambda v: decimal.Decimal("12.3400")]),
    ("smallmoney", ["'214748.3647'", "'0'"],
     [lambda v: decimal.Decimal("214748.3647"), lambda v: decimal.Decimal("0.0000")]),
    ("float", ["0.1", "-1.7976931348623157e308"], [lambda v: 0.1, lambda v: -1.7976931348623157e308]),
    ("real", ["0.1", "2.5"], [lambda v: real(0.1), lambda v: 2.5]),
    ("date", ["'0001-01-01'", "'9999-12-31'"],
     [when("0001-01-01", datetime.date(1, 1, 1)), when("9999-12-31", datetime.date(9999, 12, 31))]),
    ("time(3)", ["'13:45:07.123'", "'00:00:00'"],
     [when("13:45:07.123", datetime.time(13, 45, 7, 123000)),
      when("00:00:00.000", datetime.time(0, 0))]),
    ("time(0)", ["'23:59:59'", "'00:00:00.4'"],
     [when("23:59:59", datetime.time(23, 59, 59)), when("00:00:00", datetime.time(0, 0))]),
    ("datetime", ["'2024-02-29 13:45:07.997'", "'1753-01-01 00:00:00'"],
     [lambda v: datetime.datetime(2024, 2, 29, 13, 45, 7, 997000),
      lambda v: datetime.datetime(1753, 1, 1)]),
    ("smalldatetime", ["'2079-06-06 23:59:00'", "'1900-01-01 00:00:29'"],
     [lambda v: datetime.datetime(2079, 6, 6, 23, 59), lambda v: datetime.datetime(1900, 1, 1)]),
    ("datetime2(6)", ["'9999-12-31 23:59:59.999999'", "'0001-01-01 00:00:00'"],
     [when("9999-12-31 23:59:59.999999", datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)),
      when("0001-01-01 00:00:00.000000", datetime.datetime(1, 1, 1))]),
    ("datetimeoffset(3)", ["'2024-03-01 00:30:00.5 +01:00'", "'2024-02-29 13:45:07 -14:00'"],
     [when("2024-03-01 00:30:00.500 +01:00",
           datetime.datetime(2024, 3, 1, 0, 30, 0, 500000, Offset(60))),
      when("2024-02-29 13:45:07.000 -14:00",
           datetime.datetime(2024, 2, 29, 13, 45, 7, 0, Offset(-840)))]),
    ("uniqueidentifier", ["'6F9619FF-8B86-D011-B42D-00C04FC964FF'", "x'00112233445566778899aabbccddeeff'"],
     [lambda v: uuid.UUID("6F9619FF-8B86-D011-B42D-00C04FC964FF"),
      lambda v: uuid.UUID(bytes_le=bytes.fromhex("00112233445566778899aabbccddeeff"))]),
    ("char(4)", ["'ab'", "'é€ĉ'"], [lambda v: "ab  ", lambda v: "é€? "]),
    ("varchar(10)", ["''", "'café, \"€\"'"], [lambda v: "", lambda v: 'café, "€"']),
    ("nchar(3)", ["'😀'", "'a'"], [lambda v: "😀 ", lambda v: "a  "]),
    ("nvarchar(20)", ["'ñ 😀 ĉ'", "''"], [lambda v: "ñ 😀 ĉ", lambda v: ""]),
    ("binary(3)", ["x'01'", "x''"], [lambda v: b"\x01\x00\x00", lambda v: b"\x00\x00\x00"]),
    ("varbinary(8)", ["x'00ff10'", "x''"], [lambda v: b"\x00\xff\x10", lambda v: b""]),
    ("[varchar(max)]", [f"replace(printf('%0{LONG}d', 0), '0', 'é')", "'€'"],
     [lambda v: "é" * LONG, lambda v: "€"]),
    ("[nvarchar(max)]", [f"replace(printf('%0{LONG // 2}d', 0), '0', '😀')", "''"],
     [lambda v: "😀" * (LONG // 2), lambda v: ""]),
    ("[varbinary(max)]", [f"zeroblob({LONG})", "x'01'"], [lambda v: bytes(LONG), lambda v: b"\x01"]),
    ("text", [f"replace(printf('%0{LONG}d', 0), '0', 't')", "'code page: ĉ€'"],
     [lambda v: "t" * LONG, lambda v: "code page: ?€"]),
    ("ntext", [f"replace(printf('%0{LONG}d', 0), '0', 'ĉ')", "'😀'"],
     [lambda v: "ĉ" * LONG, lambda v: "😀"]),
    ("image", [f"zeroblob({LONG})", "x'0001ff'"],
     [lambda v: bytes(LONG), lambda v: b"\x00\x01\xff"]),
    ("xml", [f"'<a>' || replace(printf('%0{LONG}d', 0), '0', 'x') || '</a>'", "'<b c=\"é\">😀</b>'"],
     [lambda v: "<a>" + "x" * LONG + "</a>", lambda v: '<b c="é">😀</b>']),
]

# sql_variant: one column per value, so that each shows which value a difference is in.
VARIANTS = [
    ("42", lambda v: 42),
    ("99999999999", lambda v: 99999999999),
    ("1.5", lambda v: 1.5),
    ("'tëxt 😀'", lambda v: "tëxt 😀"),
    ("x'00ff'", lambda v: b"\x00\xff"),
    ("'CAST(''-12.50'' AS decimal(10,2))'", lambda v: decimal.Decimal("-12.50")),
    ("'CAST(''12.5'' AS numeric(5,1))'", lambda v: decimal.Decimal("12.5")),
    ("'CAST(''2024-02-29 13:45:07.997'' AS datetime)'",
     lambda v: datetime.datetime(2024, 2, 29, 13, 45, 7, 997000)),
    ("'CAST(1 AS bit)'", lambda v: True),
    ("'CAST(7 AS tinyint)'", lambda v: 7),
    ("'CAST(0.5 AS real)'", lambda v: 0.5),
    ("'CAST(''12.5'' AS money)'", lambda v: decimal.Decimal("12.5000")),
    ("'CAST(''6F9619FF-8B86-D011-B42D-00C04FC964FF'' AS uniqueidentifier)'",
     lambda v: uuid.UUID("6F9619FF-8B86-D011-B42D-00C04FC964FF")),
    ("'CAST(''2024-01-02'' AS date)'", when("2024-01-02", datetime.date(2024, 1, 2))),
    ("'CAST(''13:45:07.5'' AS time(2))'", when("13:45:07.50", datetime.time(13, 45, 7, 500000))),
    ("'CAST(''2024-02-29 13:45:07.25 -05:00'' AS datetimeoffset(2))'",
     when("2024-02-29 13:45:07.25 -05:00",
          datetime.datetime(2024, 2, 29, 13, 45, 7, 250000, Offset(-300)))),
    ("'CAST(''café'' AS varchar(10))'", lambda v: "café"),
    ("'CAST(0x0102 AS varbinary(4))'", lambda v: b"\x01\x02"),
]


def make_database(folder):
    db = sqlite3.connect(os.path.join(folder, "types.sqlite"))
    names = [f"C{i}" for i in range(len(COLUMNS))]
    db.execute("CREATE TABLE T (" + ", ".join(f"{n} {c[0]}" for n, c in zip(names, COLUMNS)) + ")")
    for row in range(2):
        db.execute("INSERT INTO T VALUES (" + ", ".join(c[1][row] for c in COLUMNS) + ")")
    db.execute("INSERT INTO T DEFAULT VALUES")  # NULL in every column
    db.execute("CREATE TABLE V (" + ", ".join(f"V{i} sql_variant" for i in range(len(VARIANTS))) + ")")
    db.execute("INSERT INTO V VALUES (" + ", ".join(v[0] for v in VARIANTS) + ")")
    db.execute("INSERT INTO V DEFAULT VALUES")
    db.commit()
    db.close()


def start_server(program, folder):
    # No TLS: pytds has no CA file here.
    args = [program, "--data", folder, "--port", "0", "--encryption", "none"]
    server = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    line = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([server.stdout], [], [], 1)
        if ready:
            line = server.stdout.readline()
            if line.startswith(b"Listening on 127.0.0.1:"):
                return server, int(line.split(b":")[-1])
            if not line:
                break
    server.kill()
    sys.exit(f"the demo server did not say where it listens (last line: {line!r})")


def read_types(port, name, version):
    v = version >> 24
    with pytds.connect("127.0.0.1", "types", "demo", "demo", port=port, tds_version=version,
                       autocommit=True, login_timeout=10, timeout=60) as conn:
        cursor = conn.cursor()
        cursor.execute("SELECT * FROM T")
        rows = cursor.fetchall()
        check(f"{name} rows of T", len(rows), 3)
        check(f"{name} row count of T", cursor.rowcount, 3)
        for r, row in enumerate(rows[:2]):
            for c, column in enumerate(COLUMNS):
                check(f"{name} {column[0]} row {r + 1}", row[c], column[2][r](v))
        check(f"{name} NULL row", list(rows[2]), [None] * len(COLUMNS))

        cursor.execute("SELECT * FROM V")
        rows = cursor.fetchall()
        for c, (source, expected) in enumerate(VARIANTS):
            check(f"{name} sql_variant {source}", rows[0][c], expected(v))
        check(f"{name} NULL variants", list(rows[1]), [None] * len(VARIANTS))

        # SET NOCOUNT ON: the count is sent but marked as not to be used.
        cursor.execute("SET NOCOUNT ON")
        cursor.execute("SELECT * FROM V")
        cursor.fetchall()
        check(f"{name} row count under NOCOUNT", cursor.rowcount, -1)
        cursor.execute("SET NOCOUNT OFF")
        cursor.execute("SELECT * FROM V")
        cursor.fetchall()
        check(f"{name} row count after NOCOUNT OFF", cursor.rowcount, 2)

        # An error names its line, in the line number's size of the version; the session goes on.
        try:
            cursor.execute("SET NOCOUNT OFF\n\nSELECT FROM")
            failures.append(f"{name}: a syntax error went unreported")
        except pytds.ProgrammingError as e:
            check(f"{name} error number", e.msg_no, 102)
            check(f"{name} error line", e.line, 3)
        cursor.execute("SELECT * FROM V")
        check(f"{name} rows after an error", len(cursor.fetchall()), 2)

        # Transactions begun and ended in batches: from 7.2 on the client learns of each.
        cursor.execute("BEGIN TRAN")
        begun = conn._conn.tds72_transaction
        cursor.execute("BEGIN TRANSACTION inner_one")
        check(f"{name} nested begin keeps the transaction", conn._conn.tds72_transaction, begun)
        cursor.execute("COMMIT")
        check(f"{name} inner commit keeps it", conn._conn.tds72_transaction, begun)
        cursor.execute("COMMIT TRANSACTION")
        check(f"{name} outer commit ends it", conn._conn.tds72_transaction, 0)
        if v >= 0x72:
            check(f"{name} transaction descriptor", begun > 1, True)
        try:
            cursor.execute("ROLLBACK")
            failures.append(f"{name}: a rollback without a transaction went unreported")
        except pytds.OperationalError as e:
            check(f"{name} rollback without a transaction", e.msg_no, 3903)

    # A client that leaves autocommit: its begin, commit and rollback requests.
    with pytds.connect("127.0.0.1", "types", "demo", "demo", port=port, tds_version=version,
                       autocommit=False, login_timeout=10, timeout=60) as conn:
        cursor = conn.cursor()
        cursor.execute("SELECT * FROM V")
        cursor.fetchall()
        first = conn._conn.tds72_transaction
        conn.commit()
        second = conn._conn.tds72_transaction
        conn.rollback()
        third = conn._conn.tds72_transaction
        if v >= 0x72:
            check(f"{name} each transaction has its own descriptor",
                  len({first, second, third}) == 3 and min(first, second, third) > 1, True)
        cursor.execute("SELECT * FROM V")
        check(f"{name} rows in a transaction", len(cursor.fetchall()), 2)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as folder:
        make_database(folder)
        server, port = start_server(sys.argv[1], folder)
        try:
            for name, version in VERSIONS.items():
                try:
                    read_types(port, "TDS " + name, version)
                except Exception as e:  # a protocol fault: the rest of the version is unread
                    failures.append(f"TDS {name}: {type(e).__name__}: {e}")
        finally:
            server.terminate()
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
    for f in failures:
        print(f)
    print(f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""End-to-end tests of the oxmail program: each test runs the built program on its own temporary
device root and checks its output, its exit code and the files it leaves. The fetch, send and feed
tests run it against Dovecot, Exim and nginx started on 127.0.0.1 by the repo's scripts."""

import base64, json, os, pty, re, shlex, shutil, signal, socket, subprocess, tempfile, time, unittest  # noqa: E401

OXMAIL = os.environ.get("OXMAIL", "oxmail")
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TESTDATA = os.environ.get("OXMIDDLE_TESTDATA") or os.path.join(SOURCE, "..", "shared", "testdata")
PHONE_STATUS_DLL = os.environ.get("OXM_PHONE_STATUS_DLL", "")
ENV = dict(os.environ, OXMIDDLE_SYNC="0")
SERVERS = ("/usr/sbin/dovecot", "/usr/sbin/exim4", "/usr/sbin/nginx")

PLAIN = (b"From: Hanako <hanako@example.jp>\r\nTo: taro@example.jp, jiro@example.jp\r\n"
         b"Cc: saburo@example.jp\r\nSubject: Lunch\r\nDate: Thu, 03 Dec 2026 12:15:00 +0900\r\n"
         b"Message-ID: <lunch@example.jp>\r\n\r\nSoba on Friday?\r\n")
CSV = b"date,place\n2026-12-11,Tokyo\n"
ATTACHED = (b"From: Jiro <jiro@example.com>\r\nTo: taro@example.jp\r\nSubject: Schedule\r\n"
            b"Date: Sat, 05 Dec 2026 18:00:00 +0900\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\nContent-Type: text/plain\r\n\r\n"
            b"Attached.\r\n--b1\r\nContent-Type: text/csv; name=\"schedule.csv\"\r\n"
            b"Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"schedule.csv\"\r\n\r\n" +
            base64.b64encode(CSV) + b"\r\n--b1--\r\n")
JAPANESE = ("From: =?ISO-2022-JP?B?GyRCOzNFRDJWO1IbKEI=?= <hanako@example.jp>\r\n"
            "To: taro@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=\r\n"
            "Date: Fri, 04 Dec 2026 09:30:00 +0900\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n").encode() + \
    "明日の会議は10時からです。\r\n".encode("iso2022_jp")
NO_FROM = b"To: taro@example.jp\r\nSubject: nobody\r\nDate: Fri, 04 Dec 2026 09:30:00 +0900\r\n\r\nx\r\n"
ZIP_MAIL = (b"From: app@example.com\r\nSubject: report\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n"
            b"--m\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>see the file</p>\r\n"
            b"--m\r\nContent-Type: application/zip; name=report.zip\r\nContent-Transfer-Encoding: base64\r\n"
            b"Content-Disposition: attachment; filename=report.zip\r\nContent-ID: <f1@example.com>\r\n\r\n"
            b"UEsDBHppcA==\r\n--m--\r\n")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def on_terminal(cmd, answer=None, env=None, timeout=120):
    """Runs cmd with standard error on a pseudo-terminal (standard input too when `answer` is to be
    typed at the certificate question). Returns the exit code, what the terminal showed, standard
    output and whether the question was asked."""
    master, slave = pty.openpty()
    proc = subprocess.Popen(cmd, stdin=slave if answer else subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=slave, env=dict(ENV, **(env or {})))
    os.close(slave)
    seen, asked = b"", False
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal closed
            chunk = b""
        if not chunk:
            break
        seen += chunk
        if answer and not asked and b"accept this certificate? [y/N] " in seen:
            os.write(master, answer.encode() + b"\n")
            asked = True
    out, _ = proc.communicate(timeout=timeout)
    os.close(master)
    return proc.returncode, seen.decode(errors="replace"), out.decode(), asked


class Root(unittest.TestCase):
    """A fresh device root per test, initialised unless the class says otherwise."""
    init = True

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="oxmail-e2e.")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.files = os.path.join(self.dir, "files")
        os.mkdir(self.files)
        self.use_root("root", self.init)

    def use_root(self, name, init=True):
        self.root = os.path.join(self.dir, name)
        if init:
            self.cmd("init")

    def run_oxmail(self, *args, env=None, **kw):
        """Runs oxmail without a terminal on its standard input; `env` adds variables."""
        return subprocess.run([OXMAIL, "--root", self.root, *args], capture_output=True, stdin=subprocess.DEVNULL,
                              env=dict(ENV, **(env or {})), timeout=120, **kw)

    def cmd(self, line, code=0, want=None, **kw):
        """Runs a command line (a string is split like a shell's) and checks its exit code and `want`
        against standard output, or standard error on failure (which starts "oxmail: "): a text it
        holds, a pattern it matches or, after --json, a dict (or list of dicts) each record includes.
        Returns that output: text, or the JSON records."""
        args = shlex.split(line) if isinstance(line, str) else list(line)
        r = self.run_oxmail(*args, **kw)
        self.assertEqual(r.returncode, code, f"oxmail {args}: {r.stdout!r} {r.stderr!r}")
        out = (r.stderr if code else r.stdout).decode()
        if code:
            self.assertTrue(out.startswith("oxmail: "), out)
        elif args[0] == "--json":
            out = [json.loads(line) for line in out.splitlines() if line.strip()]
        if isinstance(want, str):
            self.assertIn(want, out)
        elif isinstance(want, re.Pattern):
            self.assertRegex(out, want)
        elif isinstance(want, dict):
            self.assertEqual({k: out[0].get(k) for k in want}, want)
        elif want is not None:
            self.assertEqual([{k: o.get(k) for k in w} for o, w in zip(out, want)] + out[len(want):], want)
        return out

    def ids(self, account, folder):
        return [r["id"] for r in self.cmd(["--json", "ls", account, folder])]

    def show(self, account, ident, *options):
        return self.cmd(["--json", "show", account, str(ident), *options])[0]

    def raw(self, account, ident):
        return self.run_oxmail("show", account, str(ident), "--raw").stdout

    def write(self, name, data):
        return write(os.path.join(self.files, name), data)

    def saved(self, account, ident):
        """Saves the message's attachments into a new folder and returns the folder."""
        out = tempfile.mkdtemp(dir=self.dir)
        self.cmd(["show", account, str(ident), "--save-attachments", out])
        return out

    def snapshot(self):
        """Every file under the root with its bytes, to show that nothing changed."""
        return {os.path.relpath(os.path.join(base, n), self.root): read(os.path.join(base, n))
                for base, _, names in os.walk(self.root) for n in names if "/Locks/" not in base + "/"}

    def account(self, name="Work"):
        self.cmd(["account", "add", name, "--address", "taro@example.jp", "--name", "Taro"])


class CommandLineTest(Root):
    # (exit code, command line, what standard error names): each refused, the root left as it was.
    REFUSED = [
        (2, "frobnicate", "unknown command 'frobnicate'"), (2, "--frob ls", "unknown option --frob"),
        (2, "ls", "missing ACCOUNT"), (2, "show Work 12x", "'12x' is not a valid message identifier"),
        (2, "rm Work -3", None), (2, "ls Work inbox extra", "unexpected argument 'extra'"),
        (2, "compose Work --subject s --body b", "missing --to"), (2, "export Work inbox", "missing --to"),
        (2, "account set Work noSuchKey=1", "'noSuchKey' is not an account setting"),
        (2, "account set Work uiPopServerPort=many", None),
        (2, "mark Work 1 sideways", "not read, unread, keep or nokeep"),
        (2, "folder create", "usage: oxmail folder"), (2, f"folder create Work {'y' * 300}", "at most 252 bytes"),
        (2, "init --codepage 1252", "give 932 or utf-8"), (2, "error zz", None),
        (2, "fetch Work --select", None), (2, "fetch Work 7", None), (2, "timer set 0", None),
        (2, "log sideways", None), (2, "feed add News ftp://127.0.0.1/feed.xml", "http://HOST[:PORT]/PATH"),
        (2, "feed add News http://127.0.0.1", None), (2, "feed reget News", "missing ID"),
        (2, "feed fetch News --manual x", "unexpected argument 'x'"),
        (2, "feed frob News", "'frob' is not add, fetch or reget"),
        (1, "feed add Work http://127.0.0.1:9/feed.xml", "'Work' is a mail account"),
        (1, "feed fetch News", "no feed account named 'News'"), (1, "feed fetch Work", "no feed account named 'Work'"),
        (1, "error 0x02FFFFFF", "not a code of the library"), (1, "account add Work", "exists already"),
        (1, "account add a/b", "cannot be an account name"), (1, "account add a:b", "cannot be an account name"),
        (1, "account add 'a\nb'", "control character"), (1, f"account add {'x' * 256}", "longer than 255 bytes"),
        (1, "account rename Work 'a|b'", "cannot be an account name"),
        (1, "account delete Nobody", "no account named 'Nobody'"),
        (1, "folder create Work a/b", "cannot be a folder name"), (1, "folder remove Work inbox", "trays"),
        (1, "folder remove Work Nope", "has no folder 'Nope'"),
        (1, "import Work inbox /nonexistent.eml", "cannot read"),
        (1, "compose Work --to a@example.jp --subject s --body b --attach /nonexistent.txt",
         "cannot read the attachment file"),
        (1, "compose Work --mailto http://example.jp/", "not a mailto URL"),
        (1, "export Work inbox --to /nonexistent", "'/nonexistent' is not a directory"),
        (1, f"signature Work set --first {'x' * 4097}", None), (1, "timer set 15 --account Nobody", None),
        (1, "log show", "the protocol log is off"),
    ]

    def test_refusals_exit_1_or_2_say_why_and_change_nothing(self):
        self.account()
        before = self.snapshot()
        r = self.run_oxmail()
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"usage: oxmail", r.stderr)
        for code, line, says in self.REFUSED:
            with self.subTest(line=line):
                self.cmd(line, code, says)
        self.assertEqual(self.snapshot(), before)

    def test_help_and_error_names(self):
        out = self.cmd("--help")
        for command in ("init account folder ls show compose reply import export rules signature recover feed "
                        "demo").split():
            self.assertIn("  " + command, out)
        self.cmd("help compose", 0, "usage: oxmail compose")
        self.cmd("ls --help", 0, "usage: oxmail ls")
        self.cmd("error 0x02000807", 0, re.compile(
            r"^a folder already holds 1000 messages \(OXMDL_ERR_STG_FOLDER_FULL, 0x02000807\)\n$"))


class InitTest(Root):
    init = False
    LATIN = (b"From: a@example.com\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_=F0=9F=8E=85?=\r\n"
             b"Content-Type: text/plain; charset=utf-8\r\n\r\nhei\xc3\x9fe\r\n")

    def registry(self, hive):
        return read(os.path.join(self.root, "Registry", hive + ".reg")).decode()

    def test_init_is_asked_for_repeatable_and_sets_a_damaged_registry_aside(self):
        self.cmd("account list", 1, "run 'oxmail init' first")
        self.cmd("init")
        for piece in ('"DataPath"="\\\\Application Data\\\\OxenMail\\\\Account\\\\"', '"SystemInfoPath"=',
                      '"PluginPath"='):
            self.assertIn(piece, self.registry("HKEY_CURRENT_USER"))
        self.assertIn('"ACP"="65001"', self.registry("HKEY_LOCAL_MACHINE"), "a new root reads mail as UTF-8")
        self.assertTrue(os.path.isdir(os.path.join(self.root, "Application Data", "OxenMail", "Account")))
        before = self.snapshot()
        self.cmd("init")
        self.assertEqual(self.snapshot(), before)
        reg = write(os.path.join(self.root, "Registry", "HKEY_CURRENT_USER.reg"), b"\x00garbage\xff")
        r = self.run_oxmail("init")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"warning: the registry file was damaged", r.stderr)
        self.assertEqual(read(reg + ".damaged"), b"\x00garbage\xff")
        self.account()

    def test_the_code_page_chosen_at_init_decides_what_received_mail_keeps(self):
        # init on an existing root switches its code page, init without one keeps it; 932 loses what it lacks.
        for name, inits, acp, shown in [("utf8", ["--codepage utf-8"], "65001", ("Grüße 🎅", "heiße")),
                                        ("sjis", ["", "--codepage 932", ""], "932", ("Gr??e ?", "hei?e"))]:
            self.use_root(name, init=False)
            for args in inits:
                self.cmd("init " + args)
            self.assertIn(f'"ACP"="{acp}"', self.registry("HKEY_LOCAL_MACHINE"), name)
            self.account()
            self.cmd(["import", "Work", "inbox", self.write("latin.eml", self.LATIN)])
            got = self.show("Work", self.ids("Work", "inbox")[0])
            self.assertEqual((got["subject"], got["body"].rstrip("\n")), shown, name)

    def test_unwritable_root_fails_init_and_is_named(self):
        self.cmd("init")
        os.chmod(self.dir, 0o755)
        dirs = []
        for base, _, names in os.walk(self.root):  # readable by every user, no folder writable
            dirs.append(base)
            os.chmod(base, 0o555)
            for n in names:
                os.chmod(os.path.join(base, n), 0o644)
        self.addCleanup(lambda: [os.chmod(d, 0o755) for d in dirs])
        other = {}
        if os.geteuid() == 0:  # permissions do not bind the superuser: init runs as 'nobody'
            import pwd
            try:
                other = dict(user="nobody", group=pwd.getpwnam("nobody").pw_gid, extra_groups=[])
            except KeyError:
                self.skipTest("running as root and there is no user 'nobody' to run as")
        try:
            self.cmd("init", 1, "Permission denied", **other)
        except PermissionError as e:  # the program itself is out of that user's reach
            self.skipTest(f"user 'nobody' cannot run {OXMAIL}: {e}")


class MessageTest(Root):
    def setUp(self):
        super().setUp()
        self.account()

    def test_accounts_from_creation_to_deletion(self):
        self.cmd("--json account list", 0, [{"name": "Work"}])
        shown = self.cmd("--json account show Work", 0, {"strSenderAddress": "taro@example.jp",
                                                         "uiPopServerPort": "110"})
        self.cmd("--json folder list Work", 0, {"folder": "受信トレイ", "id": int(shown[0]["ulJusinTrayID"])})
        self.cmd("account set Work strPopServerName=pop.example.jp uiPopServerPort=995 bAPOPEnabled=true "
                 "strPopPasswd=secret")
        self.cmd("--json account show Work", 0, {"strPopServerName": "pop.example.jp", "uiPopServerPort": "995",
                                                 "bAPOPEnabled": "true", "strPopPasswd": "******"})
        self.cmd("account show Work --show-passwords", 0, "secret")
        self.cmd("account show Work", 0, "strPopServerName:")
        self.cmd("account rename Work 仕事")
        self.cmd("--json account list", 0, [{"name": "仕事"}])
        self.cmd("ls Work", 1, "no account named 'Work'")
        self.cmd("account delete 仕事")
        self.cmd("--json account list", 0, [])

    def test_folder_tree(self):
        self.cmd("--json folder list Work", 0, [{"folder": f} for f in "受信トレイ 送信待ちトレイ 送信済みトレイ 下書きトレイ "
                                                                     "部分受信トレイ 未読メールトレイ".split()])
        made = self.cmd("--json folder create Work Projects")[0]
        self.cmd("folder create Work 2026 --in Projects")
        self.cmd("folder rename Work Projects/2026 Y2026")
        self.cmd("folder move Work Projects/Y2026 inbox")
        self.assertIn("Y2026", [r["folder"] for r in self.cmd("--json folder list Work")])
        self.cmd("folder list Work", 0, "  Y2026")  # nested folders are indented
        self.cmd(f"folder remove Work {made['id']}")
        self.assertNotIn("Projects", [r["folder"] for r in self.cmd("--json folder list Work")])

    def test_import_list_show_mark_move_remove_export(self):
        # A message the importer refuses is skipped with its code; the others still land.
        err = self.cmd(["import", "Work", "inbox", self.write("bad.eml", NO_FROM), self.write("a.eml", PLAIN),
                        self.write("b.eml", ATTACHED), self.write("c.eml", JAPANESE)], 1, "skipped")
        self.assertIn("0x02000805", err)
        rows = {r["subject"]: r for r in self.cmd("--json ls Work inbox", 0, [{}] * 3)}
        self.assertEqual(set(rows), {"Lunch", "Schedule", "会議のお知らせ"})
        self.assertEqual((rows["Schedule"]["flags"], rows["Lunch"]["flags"], rows["Lunch"]["from"]),
                         ("UA--", "U---", "Hanako"))
        ja, lunch = rows["会議のお知らせ"]["id"], rows["Lunch"]["id"]
        self.cmd(f"--json show Work {ja}", 0, {"from": "山田花子 <hanako@example.jp>", "body": "明日の会議は10時からです。"})
        self.assertEqual(self.raw("Work", ja), JAPANESE)
        self.cmd(f"mark Work {lunch} read")
        self.cmd(f"mark Work {lunch} keep")
        self.assertEqual({r["id"]: r["flags"] for r in self.cmd("--json ls Work inbox")}[lunch], "---K")
        self.assertEqual(len(self.cmd("--json ls Work unread")), 2)
        trays = self.cmd("--json folder list Work")
        self.assertIn({"folder": "未読メールトレイ", "messages": 2, "unread": 2},
                      [{k: r[k] for k in ("folder", "messages", "unread")} for r in trays])
        self.cmd("folder create Work Archive")
        self.cmd(f"mv Work {lunch} Archive")
        self.assertEqual((self.ids("Work", "Archive"), lunch in self.ids("Work", "inbox")), ([lunch], False))
        self.cmd(f"rm Work {lunch}")
        self.assertEqual(self.ids("Work", "Archive"), [])
        self.cmd(f"show Work {lunch}", 1)
        exported = tempfile.mkdtemp(dir=self.dir)
        self.cmd(["export", "Work", "inbox", "--to", exported])
        self.assertEqual(sorted(os.listdir(exported)), ["EML00000.eml", "EML00001.eml"])
        self.assertEqual({read(os.path.join(exported, f)) for f in os.listdir(exported)}, {ATTACHED, JAPANESE})

    def test_attachments_are_listed_and_saved(self):
        # (mail, a line of the shown text, the JSON attachments and related files, the saved file and its bytes)
        for mail, line, lists, name, data in [
                (ATTACHED, "[1] schedule.csv (", (["schedule.csv"], []), "schedule.csv", CSV),
                (ATTACHED.replace(b'; name="schedule.csv"', b""), "[1] schedule.csv (", (["schedule.csv"], []),
                 "schedule.csv", CSV),  # named in Content-Disposition only
                (ZIP_MAIL, "[1] report.zip (application/zip) inline\n", ([], ["report.zip"]), "report.zip",
                 b"PK\x03\x04zip")]:  # a zip with a Content-ID in an HTML mail is a related file
            before = set(self.ids("Work", "inbox"))
            self.cmd(["import", "Work", "inbox", self.write("m.eml", mail)])
            [ident] = set(self.ids("Work", "inbox")) - before
            self.cmd(f"show Work {ident}", 0, line)
            shown = self.show("Work", ident)
            self.assertEqual((shown["attachments"], shown["related"]), lists, name)
            self.assertEqual(read(os.path.join(self.saved("Work", ident), name)), data)

    def test_compose_reply_forward(self):
        self.cmd(["compose", "Work", "--to", "jiro@example.jp", "--to", "hanako@example.jp", "--cc",
                  "saburo@example.jp", "--subject", "予定", "--body", "明日は休みです。\n", "--attach",
                  self.write("notes.txt", b"remember the milk\n")])
        [row] = self.cmd("--json ls Work outbox", 0, [{"subject": "予定"}])
        self.assertEqual(row["flags"][1], "A")
        raw = self.raw("Work", row["id"])
        for piece in (b"From: ", b"To: jiro@example.jp,\r\n hanako@example.jp", b"Content-Disposition: attachment;",
                      base64.b64encode(b"remember the milk\n")):
            self.assertIn(piece, raw)
        self.cmd("compose Work --mailto 'mailto:jiro@example.jp?subject=Hello%20there&body=Hi'")
        self.assertIn("Hello there", [r["subject"] for r in self.cmd("--json ls Work outbox")])
        self.cmd(["import", "Work", "inbox", self.write("p.eml", PLAIN), self.write("a.eml", ATTACHED)])
        plain, attached = sorted(self.ids("Work", "inbox"))
        for line in (f"reply Work {plain}", f"reply-all Work {plain}", f"forward Work {attached}"):
            self.cmd(line)
        drafts = self.cmd("--json ls Work drafts", 0, [{"subject": "Re: Lunch"}, {"subject": "Re: Lunch"},
                                                       {"subject": "Fw: Schedule"}])
        reply_all = self.show("Work", drafts[1]["id"])
        self.assertEqual((reply_all["to"], reply_all["cc"]),
                         ("hanako@example.jp", "taro@example.jp, jiro@example.jp, saburo@example.jp"))
        self.assertIn(">Soba on Friday?", reply_all["body"])
        self.assertEqual(self.show("Work", drafts[2]["id"])["attachments"], ["schedule.csv"])

    def test_rules_signature_recover(self):
        self.cmd("folder create Work Lists")
        self.cmd("rules Work add --field From --keyword news@ --folder Lists")
        self.cmd("rules Work add --field subject --keyword sale --folder Lists --target both --name Sales")
        self.cmd("--json rules Work list", 0, [dict(name="news@", field="From", keyword="news@", target="received"),
                                               dict(name="Sales", field="件名", keyword="sale", target="both")])
        self.cmd(["import", "Work", "inbox", self.write("news.eml", PLAIN.replace(b"hanako@", b"news@")),
                  self.write("other.eml", PLAIN)])
        self.cmd("--json rules Work apply", 0, {"checked": 2, "moved": 1})
        self.assertEqual(len(self.ids("Work", "Lists")), 1)
        self.cmd("rules Work remove 1")
        self.assertEqual(len(self.cmd("--json rules Work list")), 1)
        self.cmd("rules Work remove 5", 1, "there is no rule 5")
        self.cmd(["signature", "Work", "set", "--first", "Taro Suzuki\nExample Corp."])
        self.cmd("--json signature Work show", 0, {"first": "Taro Suzuki\nExample Corp."})
        # Message lists and folder files deleted: recover finds every message again.
        for base, _, names in os.walk(os.path.join(self.root, "Application Data", "OxenMail", "Account")):
            for n in names:
                if n.endswith((".msg", ".fdb")):
                    os.remove(os.path.join(base, n))
        self.cmd("recover Work")
        self.assertEqual((len(self.ids("Work", "inbox")), len(self.ids("Work", "Lists"))), (1, 1))

    def test_folder_full(self):
        self.cmd("folder create Work Full")
        self.cmd(["import", "Work", "Full"] + [self.write(f"m{i:04}.eml", PLAIN.replace(b"Lunch", b"Lunch %d" % i))
                                               for i in range(1000)])
        self.cmd(["import", "Work", "inbox", self.write("one.eml", PLAIN)])
        self.cmd(f"mv Work {self.ids('Work', 'inbox')[0]} Full", 1, "(OXMDL_ERR_STG_FOLDER_FULL, 0x02000807)")
        self.cmd(["import", "Work", "Full", self.write("more.eml", PLAIN)], 1, "room for 0 more")

    def test_large_plain_bodies_show_as_when_decoded_whole(self):
        line = "明日の会議は10時からです。 " * 3 + "\r\n"
        big_ja = JAPANESE.split(b"\r\n\r\n")[0] + b"\r\n\r\n" + (line * 40000).encode("iso2022_jp")
        qp = (b"From: a@example.jp\r\nTo: b@example.jp\r\nSubject: qp\r\nDate: Fri, 04 Dec 2026 09:30:00 +0900\r\n"
              b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
              b"Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
              b"=E6=98=8E=E6=97=A5 long line that is soft-broken =\r\nand joined again\r\n" * 30000)
        self.cmd(["import", "Work", "inbox", self.write("ja.eml", big_ja), self.write("qp.eml", qp)])
        for mid in self.ids("Work", "inbox"):
            shown = self.cmd(f"show Work {mid}")
            self.assertGreater(len(shown), 1 << 20)
            self.assertEqual(shown.split("\n\n", 1)[1], self.show("Work", mid)["body"] + "\n", mid)

    def test_corpus_import_shows_progress_and_lands_every_message(self):
        mail = os.path.join(TESTDATA, "mail")
        if not os.path.isdir(mail):
            self.skipTest(f"no test data at {mail}")
        paths = sorted(os.path.join(b, n) for b, _, names in os.walk(mail) for n in names)
        _, seen, out, _ = on_terminal([OXMAIL, "--root", self.root, "import", "Work", "inbox"] + paths, timeout=600)
        self.assertIn("\rimporting [", seen, "a progress bar on the terminal")
        self.assertIn(f"{len(paths)}/{len(paths)}", seen)
        stored = len(self.ids("Work", "inbox"))
        self.assertEqual(stored + seen.count("oxmail: skipped "), len(paths))
        self.assertIn(f"imported {stored} of {len(paths)} files", out)
        for line in seen.split("\n"):  # only what the importer refuses by its rules is skipped
            if "skipped" in line:
                self.assertIn("0x02000805", line)
        self.cmd("folder create Work Again")
        self.assertNotIn(b"importing [", self.run_oxmail("import", "Work", "Again", paths[0]).stderr,
                         "no bar off a terminal")


class DamagedStoreTest(Root):
    """The store after a damaged disk or a crash: recover mends it and says what it did; commands
    that meet the damage say to run it."""

    def setUp(self):
        super().setUp()
        self.account()
        self.cmd("folder create Work Lists")
        self.cmd(["import", "Work", "inbox"] + [self.write(f"m{i}.eml", PLAIN.replace(b"Lunch", b"Lunch %d" % i))
                                                for i in range(6)])
        self.cmd(["import", "Work", "Lists", self.write("l.eml", JAPANESE)])
        self.store = [os.path.dirname(base) for base, _, names in os.walk(self.root) if "Entry.dat" in names][0]
        self.listed = self.listing()

    def listing(self):
        return {f: sorted(r["subject"] for r in self.cmd(["--json", "ls", "Work", f])) for f in ("inbox", "Lists")}

    def patch(self, rel, data, at=0):
        with open(os.path.join(self.store, rel), "r+b") as f:
            f.seek(at)
            f.write(data)

    def test_recover_says_consistent_only_when_it_changed_nothing(self):
        self.cmd("recover Work", 0, "is consistent")
        self.patch("DATA/00/00.eml", b"X", 3)  # one wrong header byte: repaired from the text, never deleted
        self.cmd("recover Work", 0, "1 message files repaired from their text")
        self.assertEqual(self.listing(), self.listed)
        self.cmd("--json recover Work", 0, {"consistent": True})
        self.patch("DATA/Entry.dat", b"\0" * 262144)  # the entry index zeroed: each message listed again in its folder
        self.assertEqual(self.listing(), self.listed)
        self.cmd("recover Work", 0, "consistent")
        fld = "TREE/00/00.fld"  # the root's child list zeroed: the folders come back under the root
        self.patch(fld, b"\0" * os.path.getsize(os.path.join(self.store, fld)))
        self.cmd("--json recover Work", 0, {"folders_restored": 5, "consistent": False})
        self.assertEqual(len(self.ids("Work", "inbox")), 6)

    def test_damaged_status_files_and_lists(self):
        for status in ("DATA/Status.txt", "TREE/Status.txt"):
            write(os.path.join(self.store, status), b"0\t")
            self.assertEqual(self.listing(), self.listed, status)
        write(os.path.join(self.store, "TREE", "01", "00.msg"), b"garbage\r\n")
        self.cmd("ls Work inbox", 1, "run 'oxmail recover Work'")
        self.assertNotIn("consistent", self.cmd("recover Work"))
        self.assertEqual(self.listing(), self.listed)


class ServerTest(Root):
    """Tests against a server the class starts with one of the repo's scripts, on free ports."""
    script = binary = package = None
    as_root = tls = True

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(cls.binary) or (cls.as_root and os.geteuid()) or \
                (cls.tls and not shutil.which("openssl")):
            raise unittest.SkipTest(f"needs {cls.binary} (Debian package {cls.package})" +
                                    (", root" if cls.as_root else "") + (" and openssl" if cls.tls else ""))
        cls.srv = tempfile.mkdtemp(prefix="oxmail-e2e-server.")
        os.chmod(cls.srv, 0o755)
        cls.home, cls.certs = os.path.join(cls.srv, "server"), os.path.join(cls.srv, "certs")
        if cls.tls:
            subprocess.run([os.path.join(SOURCE, "scripts", "certs.sh"), cls.certs], check=True, capture_output=True)
            os.chmod(cls.certs, 0o755)
        cls.ports = [free_port() for _ in range(4)]
        with open(os.path.join(cls.srv, "start.log"), "w+b") as log:  # a file: the daemon keeps it open
            r = subprocess.run([os.path.join(SOURCE, "scripts", cls.script), "start", cls.home] + cls.start_args(),
                               stdout=log, stderr=subprocess.STDOUT)
            if r.returncode != 0:
                cls.tearDownClass()
                raise RuntimeError(f"{cls.script} did not start: {read(log.name).decode()}")

    @classmethod
    def tearDownClass(cls):
        subprocess.run([os.path.join(SOURCE, "scripts", cls.script), "stop", cls.home], capture_output=True)
        shutil.rmtree(cls.srv, ignore_errors=True)


class FetchTest(ServerTest):
    """fetch, timer and log against Dovecot: plain POP3 on ports[0], TLS from the first byte on ports[1]."""
    script, binary, package = "dovecot.sh", "/usr/sbin/dovecot", "dovecot-pop3d"
    added = 0

    @classmethod
    def start_args(cls):
        return [str(cls.ports[0]), str(cls.ports[1]), os.path.join(cls.certs, "localhost.crt"),
                os.path.join(cls.certs, "localhost.key")]

    def setUp(self):
        super().setUp()
        import pwd
        mail = pwd.getpwnam("mail")
        self.owner, self.maildir = (mail.pw_uid, mail.pw_gid), os.path.join(self.home, "home", "alice", "Maildir")
        for d in ("", "cur", "new", "tmp"):
            os.makedirs(os.path.join(self.maildir, d), exist_ok=True)
            os.chown(os.path.join(self.maildir, d), *self.owner)
        for d in ("cur", "new"):  # every test starts on an empty mailbox
            for n in os.listdir(os.path.join(self.maildir, d)):
                os.unlink(os.path.join(self.maildir, d, n))

    def deliver(self, count, lines=3):
        """Puts messages into alice's maildir; returns their texts as the server serves them."""
        served = []
        for _ in range(count):
            FetchTest.added += 1
            i = FetchTest.added
            body = "".join(f"line {k} of message {i}\n" for k in range(1, lines + 1))
            text = (f"From: sender{i}@example.com\nTo: alice@example.com\nSubject: msg {i}\n"
                    f"Date: Thu, 01 Jan 2026 00:00:00 +0000\n\n{body}")
            name = f"{1600000000 + i}.M{i}P1.e2e,S={len(text)}:2,"
            os.chown(write(os.path.join(self.maildir, "tmp", name), text.encode()), *self.owner)
            os.rename(os.path.join(self.maildir, "tmp", name), os.path.join(self.maildir, "cur", name))
            served.append(text.replace("\n", "\r\n"))
        return served

    def on_server(self):
        return sum(len(os.listdir(os.path.join(self.maildir, d))) for d in ("cur", "new"))

    def pop_account(self, name, options="", password="secret1", server=None):
        self.cmd(f"account add {name} --pop {server or f'127.0.0.1:{self.ports[0]}'} --user alice "
                 f"--password {password} {options}")

    def test_fetch_new_messages_once_with_json_lines_summary_and_log(self):
        served = self.deliver(3)
        self.pop_account("Pop")
        self.cmd("log on")
        lines = self.cmd("--json fetch Pop", 0, [{"status": "whole"}] * 3 + [{"fetched": 3}])
        self.assertEqual(lines[-1]["bytes"], sum(r["bytes"] for r in lines[:-1]))
        self.assertEqual([self.raw("Pop", i) for i in self.ids("Pop", "inbox")], [t.encode() for t in served])
        shown = self.cmd("log show")  # the protocol log masks the password
        for piece in ("USER alice", "PASS *******", "RETR 1"):
            self.assertIn(piece, shown)
        self.assertNotIn("secret1", shown)
        self.cmd("log off")
        self.assertFalse(os.path.exists(os.path.join(self.root, "Application Data", "OxenMail", "OxMailLog.txt")))
        # Known ones do not come again; a new one does.
        self.cmd("fetch Pop", 0, re.compile(r"^fetched 0 messages \(0 bytes\) in [0-9.]+ s\n$"))
        self.deliver(1)
        self.cmd("fetch Pop", 0, re.compile(r"^fetched 1 messages \(\d+ bytes\) in [0-9.]+ s\n$"))
        self.assertEqual((len(self.ids("Pop", "inbox")), self.on_server()), (4, 4))
        # A wrong password: the library's code, exit 1, nothing stored; the right one given on the command line.
        self.pop_account("Wrong", password="nope")
        self.cmd("fetch Wrong", 1, "(POP_AUTH_ERR, 0x02002002)")
        self.assertEqual(self.ids("Wrong", "inbox"), [])
        self.cmd("fetch Wrong --password secret1", 0, "fetched 4 messages")

    def test_partial_completion_delete_and_clear(self):
        served = self.deliver(2, lines=12)
        self.pop_account("Part", "--partial 2 --apop")
        self.cmd("--json account show Part", 0, {"bAPOPEnabled": "true", "bPartialRetrievingEnabled": "true",
                                                 "uiPartialRetrievingLines": "2"})
        self.cmd("--json fetch Part", 0, [{"status": "partial"}] * 2 + [{"fetched": 2}])
        ids = self.ids("Part", "partial")
        self.assertEqual(len(ids), 2)
        self.assertNotIn(b"line 3 of", self.raw("Part", ids[0]))
        # Completed in place: same identifiers, whole text, no longer partial.
        self.cmd(["fetch", "Part", "--select", *map(str, ids)], 0, "fetched 2 messages")
        self.assertEqual((self.ids("Part", "partial"), self.ids("Part", "inbox")), ([], ids))
        self.assertEqual(self.raw("Part", ids[1]), served[1].encode())
        # Clearing the server deletes what was received, nothing newer; --delete-from-server deletes once stored.
        self.deliver(1)
        self.cmd("fetch Part --clear-server")
        self.assertEqual(self.on_server(), 1)
        self.pop_account("Del", "--delete-from-server")
        self.cmd("--json account show Del", 0, {"bMessageLeavingEnabled": "true"})
        self.cmd("fetch Del", 0, "fetched 1 messages")
        self.assertEqual(self.on_server(), 0)

    def test_untrusted_certificate_refused_without_a_terminal_and_asked_on_one(self):
        # Port 995 (TLS from the first byte) goes to Dovecot's TLS port; no CA knows its self-signed certificate.
        self.deliver(2)
        tls = {"OXMIDDLE_PORT_REDIRECT": f"995={self.ports[1]}"}
        self.pop_account("Tls", server="localhost:995")
        err = self.cmd("fetch Tls", 1, "refused (no terminal to ask; --accept-certificate accepts it)", env=tls)
        self.assertIn("(POP_CONNECT_ERR, 0x", err)
        self.assertEqual((self.ids("Tls", "inbox"), self.on_server()), ([], 2))
        self.cmd("fetch Tls --accept-certificate", 0, "fetched 2 messages", env=tls)
        self.assertEqual(len(self.ids("Tls", "inbox")), 2)
        # On a terminal, on a root that never saw the certificate: "n" refuses, "y" accepts and remembers.
        self.use_root("asked")
        self.pop_account("Tls", server="localhost:995")
        fetch = [OXMAIL, "--root", self.root, "fetch", "Tls"]
        code, seen, _, asked = on_terminal(fetch, "n", env=tls)
        self.assertEqual((code, asked, "POP_CONNECT_ERR" in seen, self.ids("Tls", "inbox")), (1, True, True, []), seen)
        code, seen, out, asked = on_terminal(fetch, "y", env=tls)
        self.assertEqual((code, asked), (0, True), seen)
        self.assertIn("fetched 2 messages", out)
        self.deliver(1)
        r = self.run_oxmail("fetch", "Tls", env=tls)  # no question, no terminal, no flag needed any more
        self.assertEqual((r.returncode, b"certificate" in r.stderr), (0, False), r.stderr)
        self.assertEqual(len(self.ids("Tls", "inbox")), 3)

    def test_progress_bar_on_a_terminal(self):
        self.deliver(5, lines=200)
        self.pop_account("Bar")
        code, seen, out, _ = on_terminal([OXMAIL, "--root", self.root, "fetch", "Bar"])
        self.assertEqual(code, 0, seen)
        self.assertIn("\rfetching [", seen)
        self.assertIn("fetched 5 messages", out)

    def test_timer_set_run_off(self):
        self.pop_account("Timed")
        if PHONE_STATUS_DLL:
            os.makedirs(os.path.join(self.root, "Windows"), exist_ok=True)
            shutil.copy(PHONE_STATUS_DLL, os.path.join(self.root, "Windows", "TmPhoneStatus.dll"))
        db, log = os.path.join(self.root, "Notify", "Notifications.txt"), os.path.join(self.dir, "phone.log")

        def run_due(code, says, **kw):
            """Moves the timer into the past, runs what is due and checks that the next timer is set."""
            head, entry = read(db).decode().splitlines()
            fields = entry.split("\t")
            fields[3] = "2020-01-01 00:00:00.000"
            write(db, (head + "\n" + "\t".join(fields) + "\n").encode())
            self.cmd("timer run", code, says, **kw)
            again = read(db).decode().splitlines()
            self.assertEqual(len(again), 2)
            self.assertNotIn("2020-01-01", again[1])

        self.cmd("timer set 15 --account Timed", 0, re.compile(r"^periodic retrieval every 15 minutes\n$"))
        self.cmd("timer set 20")
        lines = read(db).decode().splitlines()
        self.assertEqual((lines[0], len(lines)), ("OxMiddle user notifications 1", 2), "exactly one receive timer")
        self.assertTrue(lines[1].endswith("\t\\Windows\\OxRecvTimer.exe\t-t"), lines[1])
        self.cmd("timer run", 0, re.compile(r"^nothing due\n$"))
        # Due: the periodic retrieval runs, the indicators are set, the next timer is set.
        self.deliver(2)
        run_due(0, "fetched 2 messages", env={"OXM_PHONE_STATUS_LOG": log})
        self.assertEqual(len(self.ids("Timed", "inbox")), 2)
        if PHONE_STATUS_DLL:
            self.assertEqual(read(log).decode().splitlines(), ["10 1", "13 0"])
        # The next timer is set before the retrieval: a retrieval that fails keeps the cycle.
        self.pop_account("Gone")
        self.cmd("timer set 15 --account Gone")
        self.cmd("account delete Gone")
        run_due(1, "Gone")
        self.cmd("timer set off", 0, re.compile(r"^periodic retrieval off\n$"))
        self.assertEqual(read(db), b"OxMiddle user notifications 1\n")


class SendTest(ServerTest):
    """send against Exim: ports[0] plain, ports[1] submission with AUTH, ports[3] TLS from the first byte."""
    script, binary, package = "exim.sh", "/usr/sbin/exim4", "exim4-daemon-light"

    @classmethod
    def start_args(cls):
        return [cls.certs] + [str(p) for p in cls.ports]

    def setUp(self):
        super().setUp()
        self.deliveries()

    def deliveries(self, expected=0):
        """The delivered (RCPT line, message) pairs, removed once read, after waiting at most 10 s for
        `expected` of them: Exim delivers just after its reply to the data."""
        out = os.path.join(self.home, "out", "new")
        for _ in range(500):
            if len(os.listdir(out) if os.path.isdir(out) else []) >= expected:
                break
            time.sleep(0.02)
        found = []
        for name in sorted(os.listdir(out)) if os.path.isdir(out) else []:
            env, data = read(os.path.join(out, name)).split(b"\r\n\r\n", 1)
            found.append((env.split(b"\r\n")[1], data))
            os.unlink(os.path.join(out, name))
        return found

    def smtp_account(self, name, server, auth, password="secret1"):
        self.cmd(f"account add {name} --address alice@example.jp --smtp {server} --smtp-auth {auth}" +
                 ("" if auth == "none" else f" --smtp-user alice --smtp-password {password}"))
        self.cmd(["compose", name, "--to", "bob@example.jp", "--subject", name, "--body", "x"])

    def test_outbox_with_a_refused_recipient(self):
        self.cmd(f"account add Work --address taro@example.jp --smtp 127.0.0.1:{self.ports[0]} --smtp-auth none")
        for i in range(3):
            self.cmd(["compose", "Work", "--to", "hanako@example.jp", "--subject", f"hello {i}", "--body", "b\n.\n"])
        self.cmd("compose Work --to refused@example.jp --subject 'bad one' --body x")
        r = self.run_oxmail("send", "Work")
        self.assertEqual(r.returncode, 1)
        self.assertRegex(r.stdout.decode(), r"^sent 3 of 4 messages in [0-9.]+ s\n$")
        for piece in (b"(SMTP_ADDRESS_ERR, 0x0200210E)", b'"bad one" stayed in the outbox'):
            self.assertIn(piece, r.stderr)
        got = self.deliveries(3)
        self.assertEqual([rcpt for rcpt, _ in got], [b"RCPT TO:<hanako@example.jp>"] * 3)
        for _, data in got:
            self.assertIn(b"\r\n\r\nb\r\n.\r\n", data)  # the body line "." arrives as "."
        self.assertEqual((len(self.ids("Work", "sent")), len(self.ids("Work", "outbox"))), (3, 1))
        # Again, as JSON: the refused message is tried first and stays; the new one goes.
        self.cmd("compose Work --to jiro@example.jp --subject again --body y")
        r = self.run_oxmail("--json", "send", "Work")
        lines = [json.loads(line) for line in r.stdout.decode().splitlines()]
        self.assertEqual(lines[0], {"sent": 1, "of": 2})
        self.assertEqual({k: lines[-1][k] for k in ("sent", "messages", "errors", "left")},
                         {"sent": 1, "messages": 2, "errors": ["0x0200210E"], "left": self.ids("Work", "outbox")})
        self.assertEqual(len(self.deliveries(1)), 1)

    def test_untrusted_certificate_over_implicit_tls(self):
        tls = {"OXMIDDLE_PORT_REDIRECT": f"465={self.ports[3]}"}  # the hook sends port 465 to Exim's SMTPS port
        self.smtp_account("Tls", "localhost:465", "login")
        err = self.cmd("send Tls", 1, "refused (no terminal to ask; --accept-certificate accepts it)", env=tls)
        self.assertIn("(SMTP_CONNECT_ERR, 0x", err)
        self.assertIn('"Tls" stayed in the outbox', err)
        self.assertEqual(self.deliveries(), [])
        self.cmd("send Tls --accept-certificate", 0, re.compile(r"^sent 1 of 1 messages in "), env=tls)
        self.assertEqual([rcpt for rcpt, _ in self.deliveries(1)], [b"RCPT TO:<bob@example.jp>"])
        self.assertEqual(self.ids("Tls", "outbox"), [])

    def test_authentication_choices(self):
        for name, auth, password, code in [("Login", "login", "secret1", 0), ("Cram", "cram-md5", "secret1", 0),
                                           ("Auto", "auto", "secret1", 0), ("Wrong", "cram-md5", "nope", 1)]:
            self.smtp_account(name, f"127.0.0.1:{self.ports[1]}", auth, password)
            self.cmd(f"send {name}", code, "SMTP_AUTH_ERR" if code else re.compile(r"^sent 1 of 1 messages in "))
            self.assertEqual(len(self.ids(name, "outbox")), code)
        self.cmd("send Wrong --password secret1")  # a wrong stored password, replaced for one run
        self.assertEqual(len(self.deliveries(4)), 4)


class FeedTest(ServerTest):
    """feed add, fetch, reget and show against nginx serving the class's www folder on ports[0]."""
    script, binary, package = "nginx.sh", "/usr/sbin/nginx", "nginx"
    as_root = tls = False

    @classmethod
    def start_args(cls):
        return [str(cls.ports[0])]

    def put(self, name, data):
        os.chmod(write(os.path.join(self.home, "www", name), data), 0o644)

    def url(self, path):
        return f"http://127.0.0.1:{self.ports[0]}/{path}"

    def item(self, title, picture):
        return (f"<item><title>{title}</title><link>{self.url(title)}</link><description>about {title}"
                f"</description><pubDate>Mon, 07 Dec 2026 07:30:00 +0900</pubDate><image><url>{self.url(picture)}"
                f"</url><width>40</width><height>30</height></image></item>")

    def test_add_fetch_show_and_reget(self):
        picture = read(os.path.join(self.root, "Windows", "TIDAL.jpg"))
        self.put("a.jpg", picture)
        self.put("feed.xml", ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel>"
                              "<title>Chan</title><link>http://chan.invalid/</link><description>d</description>" +
                              self.item("first", "a.jpg") + self.item("second", "later.jpg") +
                              "</channel></rss>").encode())
        self.cmd(f"feed add News {self.url('feed.xml')}", 0, "set up the feed account 'News'")
        lines = self.cmd("--json feed fetch News", 0, [{}, {}, {"fetched": 2, "partial": 0}])
        self.assertEqual(lines[:-1], [{"item": 1, "status": "whole"}, {"item": 2, "status": "whole"}])
        ids = self.ids("News", "inbox/News")
        items = {self.show("News", i)["title"]: i for i in ids}
        self.assertEqual(sorted(items), ["first", "second"])
        self.cmd(f"--json show News {items['first']}", 0, {
            "link": self.url("first"), "date": "Mon, 07 Dec 2026 07:30:00 +0900", "category": "news", "channel": "Chan",
            "pictures": ["image.jpg", "image_small.jpg", "image_large.jpg"]})
        saved = self.saved("News", items["first"])
        self.assertEqual(read(os.path.join(saved, "image.jpg")), picture)
        self.assertEqual(read(os.path.join(saved, "image_small.jpg"))[:2], b"\xff\xd8")
        # The second picture was missing: the item keeps its address, shown until a re-get.
        second = self.cmd(f"show News {items['second']}", 0, "\nabout second\n")
        self.assertIn(f"Picture:  {self.url('later.jpg')} (not fetched: oxmail feed reget)", second)
        self.put("later.jpg", picture)
        self.cmd(f"feed reget News {items['second']}", 0,
                 re.compile(r"^re-got 1 items \(0 without picture or contents\) in [0-9.]+ s\n$"))
        self.assertEqual(self.ids("News", "inbox/News"), ids)
        self.cmd(f"show News {items['second']}", 0, "Pictures: image.jpg, image_small.jpg, image_large.jpg")
        # A document the server does not have: the library's code, nothing stored lost.
        self.cmd(f"feed add News {self.url('gone.xml')}")
        self.cmd("feed fetch News", 1, "(OXMDL_ERR_RSS_HTTP_STATUS, 0x0200230A)")
        self.assertEqual(self.ids("News", "inbox/News"), ids)


class DemoTest(unittest.TestCase):
    def demo(self, *args):
        r = subprocess.run([OXMAIL, "demo", *args], capture_output=True, env=ENV, timeout=300)
        out = r.stdout.decode()
        root = out.split("a fresh device root at ")[1].split("\n")[0]
        self.assertTrue(os.path.isdir(root))
        shutil.rmtree(root)
        return r.returncode, out, r.stderr.decode()

    def test_demo_runs_the_local_part_then_the_whole_road(self):
        code, out, err = self.demo()
        self.assertEqual(code, 0, err)
        pieces = ["$ oxmail import Demo inbox", "会議のお知らせ", "明日の会議は10時から", "Re: ", "exported 4 messages"]
        if not all(map(os.path.exists, SERVERS)) or os.geteuid() != 0:
            pieces.append("the local part only")
        else:
            pieces += ["sent 1 of 1 messages", "fetched 1 messages", "Subject: 来週の予定", "来週の予定を添付します。",
                       "[1] 予定表.txt (text/plain)", "fetched 3 items (0 without", "駅前に新しい図書館", "Title:    初雪の便り",
                       "Pictures: image.jpg, image_small.jpg, image_large.jpg",
                       "The servers are stopped and their folder removed."]
            self.assertFalse(os.path.exists(out.split("(in ")[1].split(")")[0]))
        for piece in pieces:
            self.assertIn(piece, out)

    def test_ctrl_c_stops_the_servers(self):
        if os.geteuid() != 0 or not all(map(os.path.exists, SERVERS[:2])):
            self.skipTest("needs root, dovecot (dovecot-pop3d) and exim4 (exim4-daemon-light)")
        proc = subprocess.Popen([OXMAIL, "demo"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=ENV,
                                preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))  # even in background
        self.addCleanup(proc.stdout.close)
        out = b""
        while b"Dovecot POP3 on" not in out:
            chunk = proc.stdout.read1(65536)
            self.assertTrue(chunk, out)
            out += chunk
        servers = out.decode().split("(in ")[1].split(")")[0]
        self.addCleanup(shutil.rmtree, out.decode().split("a fresh device root at ")[1].split("\n")[0], True)
        self.assertTrue(os.path.isdir(servers))
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=60), -signal.SIGINT)
        for _ in range(600):  # the servers' script stops them and removes their folder
            if not os.path.exists(servers):
                break
            time.sleep(0.05)
        self.assertFalse(os.path.exists(servers))

    def test_demo_without_servers_or_when_they_fail(self):
        # The servers script's first answer decides: a missing package keeps to the local part (exit 0), a server
        # that does not start stops the demo (exit 1); the servers' folder is the script's to remove.
        scripts = tempfile.mkdtemp(prefix="oxmail-e2e-scripts.")
        self.addCleanup(shutil.rmtree, scripts, True)
        for answer, code, says in [
                ("missing nginx exim4-daemon-light", 0, "Not installed (Debian packages): nginx exim4-daemon-light; "
                                                        "the local part only."),
                ("missing root", 0, "Dovecot and Exim run as root here"),
                ("failed exim", 1, "oxmail: the local servers did not start (failed exim)")]:
            write(os.path.join(scripts, "demo_servers.sh"), f"rmdir \"$1\"\necho '{answer}'\n".encode())
            got, out, err = self.demo("--scripts", scripts)
            self.assertEqual(got, code, err)
            self.assertIn(says, out + err)
        got, out, _ = self.demo("--scripts", os.path.join(scripts, "none"))
        self.assertEqual(got, 0)
        self.assertIn("The server scripts are not at", out)


if __name__ == "__main__":
    unittest.main()

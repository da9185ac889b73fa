#!/usr/bin/env python3
"""End-to-end tests of the oxmail program: each test runs the built program in its own
temporary device root and checks its output, its exit code and the files it leaves."""

import base64
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

OXMAIL = os.environ.get("OXMAIL", "oxmail")
TESTDATA = os.environ.get("OXMIDDLE_TESTDATA") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "testdata")

PLAIN = (b"From: Hanako <hanako@example.jp>\r\nTo: taro@example.jp, jiro@example.jp\r\n"
         b"Cc: saburo@example.jp\r\nSubject: Lunch\r\nDate: Thu, 03 Dec 2026 12:15:00 +0900\r\n"
         b"Message-ID: <lunch@example.jp>\r\n\r\nSoba on Friday?\r\n")
CSV = b"date,place\n2026-12-11,Tokyo\n"
ATTACHED = (b"From: Jiro <jiro@example.com>\r\nTo: taro@example.jp\r\nSubject: Schedule\r\n"
            b"Date: Sat, 05 Dec 2026 18:00:00 +0900\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n"
            b"Content-Type: text/plain\r\n\r\nAttached.\r\n--b1\r\n"
            b"Content-Type: text/csv; name=\"schedule.csv\"\r\nContent-Transfer-Encoding: base64\r\n"
            b"Content-Disposition: attachment; filename=\"schedule.csv\"\r\n\r\n" +
            base64.b64encode(CSV) + b"\r\n--b1--\r\n")
JAPANESE = ("From: =?ISO-2022-JP?B?GyRCOzNFRDJWO1IbKEI=?= <hanako@example.jp>\r\n"
            "To: taro@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=\r\n"
            "Date: Fri, 04 Dec 2026 09:30:00 +0900\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n").encode() + \
    "明日の会議は10時からです。\r\n".encode("iso2022_jp")
NO_FROM = b"To: taro@example.jp\r\nSubject: nobody\r\nDate: Fri, 04 Dec 2026 09:30:00 +0900\r\n\r\nx\r\n"


class Root(unittest.TestCase):
    """A fresh device root, initialised unless the test says otherwise."""

    init = True

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="oxmail-e2e.")
        self.root = os.path.join(self.dir, "root")
        self.files = os.path.join(self.dir, "files")
        os.mkdir(self.files)
        if self.init:
            self.ok("init")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_oxmail(self, *args, json_out=False, stderr=None, env=None, preexec_fn=None):
        """Runs oxmail without a terminal on its standard input; `env` adds variables."""
        cmd = [OXMAIL, "--root", self.root] + (["--json"] if json_out else []) + list(args)
        env = dict(os.environ, OXMIDDLE_SYNC="0", **(env or {}))
        return subprocess.run(cmd, capture_output=stderr is None, stderr=stderr, stdin=subprocess.DEVNULL, env=env,
                              preexec_fn=preexec_fn, timeout=120)

    def answer_on_terminal(self, answer, *args, env=None):
        """Runs oxmail with standard input and error on a pseudo-terminal and types `answer` at
        the certificate prompt. Returns the exit code, what the terminal showed and stdout."""
        master, slave = pty.openpty()
        proc = subprocess.Popen([OXMAIL, "--root", self.root] + list(args), stdin=slave, stdout=subprocess.PIPE,
                                stderr=slave, env=dict(os.environ, OXMIDDLE_SYNC="0", **(env or {})))
        os.close(slave)
        seen = b""
        answered = False
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
            if not answered and b"accept this certificate? [y/N] " in seen:
                os.write(master, answer.encode() + b"\n")
                answered = True
        out, _ = proc.communicate(timeout=120)
        os.close(master)
        self.assertTrue(answered, seen)
        return proc.returncode, seen.decode(errors="replace"), out.decode()

    def ok(self, *args, json_out=False):
        r = self.run_oxmail(*args, json_out=json_out)
        self.assertEqual(r.returncode, 0, f"oxmail {' '.join(args)}: {r.stderr.decode(errors='replace')}")
        return r.stdout.decode()

    def records(self, *args):
        return [json.loads(line) for line in self.ok(*args, json_out=True).splitlines() if line.strip()]

    def fails(self, code, *args, says=None, **run):
        r = self.run_oxmail(*args, **run)
        self.assertEqual(r.returncode, code, f"oxmail {' '.join(args)}: {r.stdout!r} {r.stderr!r}")
        err = r.stderr.decode()
        self.assertTrue(err.startswith("oxmail: "), err)
        if says:
            self.assertIn(says, err)
        return err

    def write(self, name, data):
        path = os.path.join(self.files, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def snapshot(self):
        """Every file under the root with its bytes, to show that nothing changed."""
        out = {}
        for base, _, names in os.walk(self.root):
            for n in names:
                p = os.path.join(base, n)
                if "/Locks/" in p:
                    continue
                with open(p, "rb") as f:
                    out[os.path.relpath(p, self.root)] = f.read()
        return out

    def account(self, name="Work"):
        self.ok("account", "add", name, "--address", "taro@example.jp", "--name", "Taro")

    def ids(self, account, folder):
        return [r["id"] for r in self.records("ls", account, folder)]


class UsageTest(Root):
    def test_usage_errors_exit_2_and_change_nothing(self):
        self.account()
        before = self.snapshot()
        r = self.run_oxmail()
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"usage: oxmail", r.stderr)
        self.fails(2, "frobnicate", says="unknown command 'frobnicate'")
        self.fails(2, "--frob", "ls", says="unknown option --frob")
        self.fails(2, "ls", says="missing ACCOUNT")
        self.fails(2, "show", "Work", "12x", says="'12x' is not a valid message identifier")
        self.fails(2, "rm", "Work", "-3")
        self.fails(2, "ls", "Work", "inbox", "extra", says="unexpected argument 'extra'")
        self.fails(2, "compose", "Work", "--subject", "s", "--body", "b", says="missing --to")
        self.fails(2, "export", "Work", "inbox", says="missing --to")
        self.fails(2, "account", "set", "Work", "noSuchKey=1", says="'noSuchKey' is not an account setting")
        self.fails(2, "account", "set", "Work", "uiPopServerPort=many")
        self.fails(2, "mark", "Work", "1", "sideways", says="not read, unread, keep or nokeep")
        err = self.fails(2, "folder", "create")
        self.assertIn("usage: oxmail folder", err)
        self.assertEqual(self.snapshot(), before)

    def test_help(self):
        out = self.ok("--help")
        for command in ("init", "account", "folder", "ls", "show", "compose", "reply", "import", "export",
                        "rules", "signature", "recover", "feed", "demo"):
            self.assertIn("  " + command, out)
        self.assertIn("usage: oxmail compose", self.ok("help", "compose"))
        self.assertIn("usage: oxmail ls", self.ok("ls", "--help"))

    def test_error_codes_are_named(self):
        self.assertEqual(self.ok("error", "0x02000807").strip(),
                         "a folder already holds 1000 messages (OXMDL_ERR_STG_FOLDER_FULL, 0x02000807)")
        self.fails(1, "error", "0x02FFFFFF", says="not a code of the library")
        self.fails(2, "error", "zz")


class NotInitialisedTest(Root):
    init = False

    def test_commands_ask_for_init_and_init_is_repeatable(self):
        self.fails(1, "account", "list", says="run 'oxmail init' first")
        self.ok("init")
        with open(os.path.join(self.root, "Registry", "HKEY_CURRENT_USER.reg"), encoding="utf-8") as f:
            reg = f.read()
        self.assertIn('"DataPath"="\\\\Application Data\\\\OxenMail\\\\Account\\\\"', reg)
        self.assertIn('"SystemInfoPath"=', reg)
        self.assertIn('"PluginPath"=', reg)
        self.assertTrue(os.path.isdir(os.path.join(self.root, "Application Data", "OxenMail", "Account")))
        before = self.snapshot()
        self.ok("init")
        self.assertEqual(self.snapshot(), before)


class CodePageTest(Root):
    """The device code page chosen at init, and what it changes for received mail."""
    init = False
    LATIN = (b"From: a@example.com\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_=F0=9F=8E=85?=\r\n"
             b"Content-Type: text/plain; charset=utf-8\r\n\r\nhei\xc3\x9fe\r\n")

    def acp(self):
        with open(os.path.join(self.root, "Registry", "HKEY_LOCAL_MACHINE.reg"), encoding="utf-8") as f:
            return re.search(r'"ACP"="(\d+)"', f.read()).group(1)

    def test_init_chooses_the_code_page_and_keeps_it(self):
        self.ok("init")
        self.assertEqual(self.acp(), "65001", "a new root reads mail as UTF-8")
        self.ok("init", "--codepage", "932")
        self.ok("init")
        self.assertEqual(self.acp(), "932", "init again keeps the root's code page")
        before = self.snapshot()
        self.fails(2, "init", "--codepage", "1252", says="give 932 or utf-8")
        self.assertEqual(self.snapshot(), before)
        self.account()
        self.ok("import", "Work", "inbox", self.write("latin.eml", self.LATIN))
        shown = self.records("show", "Work", str(self.ids("Work", "inbox")[0]))[0]
        self.assertEqual((shown["subject"], shown["body"].rstrip("\n")), ("Gr??e ?", "hei?e"),
                         "932: what Shift_JIS lacks is lost, as on the device")

    def test_utf8_root_keeps_every_character(self):
        self.ok("init", "--codepage", "utf-8")
        self.account()
        self.ok("import", "Work", "inbox", self.write("latin.eml", self.LATIN))
        shown = self.records("show", "Work", str(self.ids("Work", "inbox")[0]))[0]
        self.assertEqual((shown["subject"], shown["body"].rstrip("\n")), ("Gr\u00fc\u00dfe \U0001f385", "hei\u00dfe"))


class RelatedFileTest(Root):
    ZIP = b"PK\x03\x04zip"
    MAIL = (b"From: app@example.com\r\nSubject: report\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n"
            b"--m\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>see the file</p>\r\n"
            b"--m\r\nContent-Type: application/zip; name=report.zip\r\nContent-Transfer-Encoding: base64\r\n"
            b"Content-Disposition: attachment; filename=report.zip\r\nContent-ID: <f1@example.com>\r\n\r\n"
            b"UEsDBHppcA==\r\n--m--\r\n")

    def test_a_content_id_zip_of_an_html_mail_is_listed_and_saved(self):
        self.account()
        self.ok("import", "Work", "inbox", self.write("zip.eml", self.MAIL))
        ident = str(self.ids("Work", "inbox")[0])
        self.assertIn("[1] report.zip (application/zip) inline\n", self.ok("show", "Work", ident))
        shown = self.records("show", "Work", ident)[0]
        self.assertEqual((shown["attachments"], shown["related"]), ([], ["report.zip"]))
        out = os.path.join(self.dir, "att")
        os.mkdir(out)
        self.ok("show", "Work", ident, "--save-attachments", out)
        with open(os.path.join(out, "report.zip"), "rb") as f:
            self.assertEqual(f.read(), self.ZIP)


class AccountTest(Root):
    def test_accounts_from_creation_to_deletion(self):
        self.account("Work")
        self.assertEqual([r["name"] for r in self.records("account", "list")], ["Work"])
        self.fails(1, "account", "add", "Work", says="exists already")
        before = self.snapshot()
        self.fails(1, "account", "add", "a/b", says="cannot be an account name")
        self.fails(1, "account", "add", "a:b", says="cannot be an account name")
        self.assertEqual(self.snapshot(), before)
        shown = self.records("account", "show", "Work")[0]
        self.assertEqual(shown["strSenderAddress"], "taro@example.jp")
        self.assertEqual(shown["uiPopServerPort"], "110")
        inbox = self.records("folder", "list", "Work")[0]
        self.assertEqual((inbox["folder"], str(inbox["id"])), ("受信トレイ", shown["ulJusinTrayID"]))
        self.ok("account", "set", "Work", "strPopServerName=pop.example.jp", "uiPopServerPort=995",
                "bAPOPEnabled=true", "strPopPasswd=secret")
        shown = self.records("account", "show", "Work")[0]
        self.assertEqual((shown["strPopServerName"], shown["uiPopServerPort"], shown["bAPOPEnabled"]),
                         ("pop.example.jp", "995", "true"))
        self.assertEqual(shown["strPopPasswd"], "******")
        self.assertIn("secret", self.ok("account", "show", "Work", "--show-passwords"))
        text = self.ok("account", "show", "Work")
        self.assertIn("strPopServerName:", text)
        self.fails(1, "account", "rename", "Work", "a|b", says="cannot be an account name")
        self.ok("account", "rename", "Work", "仕事")
        self.assertEqual([r["name"] for r in self.records("account", "list")], ["仕事"])
        self.fails(1, "ls", "Work", says="no account named 'Work'")
        self.ok("account", "delete", "仕事")
        self.assertEqual(self.records("account", "list"), [])
        self.fails(1, "account", "delete", "仕事", says="no account named")


class FolderAndMessageTest(Root):
    def setUp(self):
        super().setUp()
        self.account()

    def test_folder_tree(self):
        rows = self.records("folder", "list", "Work")
        self.assertEqual([r["folder"] for r in rows],
                         ["受信トレイ", "送信待ちトレイ", "送信済みトレイ", "下書きトレイ", "部分受信トレイ", "未読メールトレイ"])
        made = self.records("folder", "create", "Work", "Projects")[0]
        self.ok("folder", "create", "Work", "2026", "--in", "Projects")
        self.ok("folder", "rename", "Work", "Projects/2026", "Y2026")
        self.ok("folder", "move", "Work", "Projects/Y2026", "inbox")
        names = [r["folder"] for r in self.records("folder", "list", "Work")]
        self.assertIn("Y2026", names)
        text = self.ok("folder", "list", "Work")
        self.assertIn("  Y2026", text, "nested folders are indented")
        self.fails(1, "folder", "remove", "Work", "inbox", says="trays")
        self.fails(1, "folder", "remove", "Work", "Nope", says="has no folder 'Nope'")
        self.ok("folder", "remove", "Work", str(made["id"]))
        self.assertNotIn("Projects", [r["folder"] for r in self.records("folder", "list", "Work")])

    def test_import_list_show_mark_move_remove_export(self):
        paths = [self.write("a.eml", PLAIN), self.write("b.eml", ATTACHED), self.write("c.eml", JAPANESE)]
        self.ok("import", "Work", "inbox", *paths)
        rows = self.records("ls", "Work", "inbox")
        self.assertEqual(len(rows), 3)
        by_subject = {r["subject"]: r for r in rows}
        self.assertEqual(set(by_subject), {"Lunch", "Schedule", "会議のお知らせ"})
        self.assertEqual(by_subject["Schedule"]["flags"], "UA--")
        self.assertEqual(by_subject["Lunch"]["flags"], "U---")
        self.assertEqual(by_subject["Lunch"]["from"], "Hanako")
        ja = by_subject["会議のお知らせ"]["id"]
        shown = self.records("show", "Work", str(ja))[0]
        self.assertEqual(shown["from"], "山田花子 <hanako@example.jp>")
        self.assertEqual(shown["body"].rstrip("\n"), "明日の会議は10時からです。")
        raw = self.run_oxmail("show", "Work", str(ja), "--raw").stdout
        self.assertEqual(raw, JAPANESE)
        sched = by_subject["Schedule"]["id"]
        out = os.path.join(self.dir, "att")
        os.mkdir(out)
        self.ok("show", "Work", str(sched), "--save-attachments", out)
        self.assertEqual(open(os.path.join(out, "schedule.csv"), "rb").read(), CSV)
        self.assertIn("[1] schedule.csv (", self.ok("show", "Work", str(sched)))

        lunch = by_subject["Lunch"]["id"]
        self.ok("mark", "Work", str(lunch), "read")
        self.ok("mark", "Work", str(lunch), "keep")
        flags = {r["id"]: r["flags"] for r in self.records("ls", "Work", "inbox")}
        self.assertEqual(flags[lunch], "---K")
        self.assertEqual(len(self.records("ls", "Work", "unread")), 2)
        unread_tray = [r for r in self.records("folder", "list", "Work") if r["folder"] == "未読メールトレイ"][0]
        self.assertEqual((unread_tray["messages"], unread_tray["unread"]), (2, 2))
        self.ok("folder", "create", "Work", "Archive")
        self.ok("mv", "Work", str(lunch), "Archive")
        self.assertEqual(self.ids("Work", "Archive"), [lunch])
        self.assertNotIn(lunch, self.ids("Work", "inbox"))
        self.ok("rm", "Work", str(lunch))
        self.assertEqual(self.ids("Work", "Archive"), [])
        self.fails(1, "show", "Work", str(lunch))

        exported = os.path.join(self.dir, "exported")
        os.mkdir(exported)
        self.ok("export", "Work", "inbox", "--to", exported)
        files = sorted(os.listdir(exported))
        self.assertEqual(files, ["EML00000.eml", "EML00001.eml"])
        contents = {open(os.path.join(exported, f), "rb").read() for f in files}
        self.assertEqual(contents, {ATTACHED, JAPANESE})

    def test_import_skips_what_it_cannot_take(self):
        good = self.write("good.eml", PLAIN)
        bad = self.write("bad.eml", NO_FROM)
        r = self.run_oxmail("import", "Work", "inbox", bad, good)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"skipped", r.stderr)
        self.assertIn(b"0x02000805", r.stderr)
        self.assertEqual(len(self.ids("Work", "inbox")), 1)
        self.fails(1, "import", "Work", "inbox", os.path.join(self.files, "missing.eml"), says="cannot read")

    def test_compose_reply_forward(self):
        att = self.write("notes.txt", b"remember the milk\n")
        self.ok("compose", "Work", "--to", "jiro@example.jp", "--to", "hanako@example.jp", "--cc",
                "saburo@example.jp", "--subject", "予定", "--body", "明日は休みです。\n", "--attach", att)
        rows = self.records("ls", "Work", "outbox")
        self.assertEqual(len(rows), 1)
        self.assertEqual(rows[0]["subject"], "予定")
        self.assertEqual(rows[0]["flags"][1], "A")
        raw = self.run_oxmail("show", "Work", str(rows[0]["id"]), "--raw").stdout
        self.assertIn(b"From: ", raw)
        self.assertIn(b"To: jiro@example.jp,\r\n hanako@example.jp", raw)
        self.assertIn(b"Content-Disposition: attachment;", raw)
        self.assertIn(base64.b64encode(b"remember the milk\n"), raw)

        before = self.snapshot()
        self.fails(1, "compose", "Work", "--to", "a@example.jp", "--subject", "s", "--body", "b",
                   "--attach", os.path.join(self.files, "gone.txt"), says="cannot read the attachment file")
        self.assertEqual(self.snapshot(), before)

        self.ok("compose", "Work", "--mailto", "mailto:jiro@example.jp?subject=Hello%20there&body=Hi")
        subjects = [r["subject"] for r in self.records("ls", "Work", "outbox")]
        self.assertIn("Hello there", subjects)
        self.fails(1, "compose", "Work", "--mailto", "http://example.jp/", says="not a mailto URL")

        self.ok("import", "Work", "inbox", self.write("p.eml", PLAIN), self.write("a.eml", ATTACHED))
        plain, attached = sorted(self.ids("Work", "inbox"))
        self.ok("reply", "Work", str(plain))
        self.ok("reply-all", "Work", str(plain))
        self.ok("forward", "Work", str(attached))
        drafts = self.records("ls", "Work", "drafts")
        self.assertEqual([d["subject"] for d in drafts], ["Re: Lunch", "Re: Lunch", "Fw: Schedule"])
        reply_all = self.records("show", "Work", str(drafts[1]["id"]))[0]
        self.assertEqual(reply_all["to"], "hanako@example.jp")
        self.assertEqual(reply_all["cc"], "taro@example.jp, jiro@example.jp, saburo@example.jp")
        self.assertIn(">Soba on Friday?", reply_all["body"])
        forward = self.records("show", "Work", str(drafts[2]["id"]))[0]
        self.assertEqual(forward["attachments"], ["schedule.csv"])

    def test_rules_signature_recover(self):
        self.ok("folder", "create", "Work", "Lists")
        self.ok("rules", "Work", "add", "--field", "From", "--keyword", "news@", "--folder", "Lists")
        self.ok("rules", "Work", "add", "--field", "subject", "--keyword", "sale", "--folder", "Lists",
                "--target", "both", "--name", "Sales")
        rules = self.records("rules", "Work", "list")
        self.assertEqual([(r["name"], r["field"], r["keyword"], r["target"]) for r in rules],
                         [("news@", "From", "news@", "received"), ("Sales", "件名", "sale", "both")])
        self.ok("import", "Work", "inbox", self.write("news.eml", PLAIN.replace(b"hanako@example.jp", b"news@example.jp")),
                self.write("other.eml", PLAIN))
        applied = self.records("rules", "Work", "apply")[0]
        self.assertEqual((applied["checked"], applied["moved"]), (2, 1))
        self.assertEqual(len(self.ids("Work", "Lists")), 1)
        self.ok("rules", "Work", "remove", "1")
        self.assertEqual(len(self.records("rules", "Work", "list")), 1)
        self.fails(1, "rules", "Work", "remove", "5", says="there is no rule 5")

        self.ok("signature", "Work", "set", "--first", "Taro Suzuki\nExample Corp.")
        shown = self.records("signature", "Work", "show")[0]
        self.assertEqual(shown["first"], "Taro Suzuki\nExample Corp.")
        self.fails(1, "signature", "Work", "set", "--first", "x" * 4097)

        storage = os.path.join(self.root, "Application Data", "OxenMail", "Account")
        for base, _, names in os.walk(storage):
            for n in names:
                if n.endswith(".msg") or n.endswith(".fdb"):
                    os.remove(os.path.join(base, n))
        self.ok("recover", "Work")
        self.assertEqual(len(self.ids("Work", "inbox")), 1)
        self.assertEqual(len(self.ids("Work", "Lists")), 1)

    def test_folder_full(self):
        self.ok("folder", "create", "Work", "Full")
        many = []
        for i in range(1000):
            many.append(self.write(f"m{i:04}.eml", PLAIN.replace(b"Lunch", b"Lunch %d" % i)))
        self.ok("import", "Work", "Full", *many)
        self.ok("import", "Work", "inbox", self.write("one.eml", PLAIN))
        one = self.ids("Work", "inbox")[0]
        self.fails(1, "mv", "Work", str(one), "Full", says="(OXMDL_ERR_STG_FOLDER_FULL, 0x02000807)")
        self.fails(1, "import", "Work", "Full", self.write("more.eml", PLAIN), says="room for 0 more")


class CorpusTest(Root):
    def test_corpus_import_shows_progress_and_lands_every_message(self):
        mail = os.path.join(TESTDATA, "mail")
        if not os.path.isdir(mail):
            self.skipTest(f"no test data at {mail}")
        self.account()
        paths = sorted(os.path.join(b, n) for b, _, names in os.walk(mail) for n in names)
        # Standard error on a pseudo-terminal, as an interactive user would see it.
        master, slave = pty.openpty()
        proc = subprocess.Popen([OXMAIL, "--root", self.root, "import", "Work", "inbox"] + paths,
                                stdout=subprocess.PIPE, stderr=slave, env=dict(os.environ, OXMIDDLE_SYNC="0"))
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        out, _ = proc.communicate(timeout=600)
        os.close(master)
        self.assertIn(b"\rimporting [", seen, "a progress bar on the terminal")
        self.assertIn(b"%d/%d" % (len(paths), len(paths)), seen)
        stored = len(self.ids("Work", "inbox"))
        skipped = seen.count(b"oxmail: skipped ")
        self.assertEqual(stored + skipped, len(paths))
        self.assertIn(b"imported %d of %d files" % (stored, len(paths)), out)
        # Only messages the importer refuses by its rules are skipped.
        for line in seen.split(b"\n"):
            if b"skipped" in line:
                self.assertIn(b"0x02000805", line, line)
        # Without a terminal there is no bar.
        self.ok("folder", "create", "Work", "Again")
        r = self.run_oxmail("import", "Work", "Again", paths[0])
        self.assertNotIn(b"importing [", r.stderr)


class DamagedStoreTest(Root):
    """The store as users meet it after a damaged disk or a crash: recover mends it and says what
    it did; commands that meet the damage say to run it."""

    def setUp(self):
        super().setUp()
        self.account("Work")
        self.ok("folder", "create", "Work", "Lists")
        mails = [PLAIN.replace(b"Lunch", b"Lunch %d" % i) for i in range(6)]
        self.ok("import", "Work", "inbox", *[self.write("m%d.eml" % i, m) for i, m in enumerate(mails)])
        self.ok("import", "Work", "Lists", self.write("l.eml", JAPANESE))
        for base, _, names in os.walk(self.root):
            if "Entry.dat" in names:
                self.store = os.path.dirname(base)
        self.listed = self.listing()

    def listing(self):
        return {f: sorted(r["subject"] for r in self.records("ls", "Work", f)) for f in ("inbox", "Lists")}

    def patch(self, rel, data, at=0):
        with open(os.path.join(self.store, rel), "r+b") as f:
            f.seek(at)
            f.write(data)

    def test_recover_says_consistent_only_when_it_changed_nothing(self):
        self.assertIn("is consistent", self.ok("recover", "Work"))
        # One wrong byte in a message's header: repaired from its text, never deleted.
        self.patch("DATA/00/00.eml", b"X", 3)
        out = self.ok("recover", "Work")
        self.assertIn("1 message files repaired from their text", out)
        self.assertEqual(self.listing(), self.listed)
        self.assertEqual(self.records("recover", "Work")[0]["consistent"], True)
        # The entry index zeroed: every message is listed again in its own folder.
        with open(os.path.join(self.store, "DATA", "Entry.dat"), "r+b") as f:
            f.write(b"\0" * 262144)
        self.assertEqual(self.listing(), self.listed)
        self.assertIn("consistent", self.ok("recover", "Work"))
        # The root's child list zeroed: the folders come back under the root, and recover says so.
        fld = os.path.join(self.store, "TREE", "00", "00.fld")
        with open(fld, "r+b") as f:
            f.write(b"\0" * os.path.getsize(fld))
        report = self.records("recover", "Work")[0]
        self.assertEqual(report["folders_restored"], 5)
        self.assertFalse(report["consistent"])
        self.assertEqual(len(self.ids("Work", "inbox")), 6)

    def test_damaged_status_files_and_lists(self):
        for status in ("DATA/Status.txt", "TREE/Status.txt"):
            with open(os.path.join(self.store, status), "wb") as f:
                f.write(b"0\t")
            self.assertEqual(self.listing(), self.listed, status)
        # A message list of garbage: the command says what to run, and recover mends it.
        with open(os.path.join(self.store, "TREE", "01", "00.msg"), "wb") as f:
            f.write(b"garbage\r\n")
        self.fails(1, "ls", "Work", "inbox", says="run 'oxmail recover Work'")
        self.assertNotIn("consistent", self.ok("recover", "Work"))
        self.assertEqual(self.listing(), self.listed)


class OxmailFixesTest(Root):
    def test_attachment_named_only_in_content_disposition_saves(self):
        self.account("Work")
        self.ok("import", "Work", "inbox", self.write("a.eml", ATTACHED.replace(b'; name="schedule.csv"', b"")))
        out = os.path.join(self.dir, "att")
        os.mkdir(out)
        self.ok("show", "Work", str(self.ids("Work", "inbox")[0]), "--save-attachments", out)
        self.assertEqual(open(os.path.join(out, "schedule.csv"), "rb").read(), CSV)

    def test_large_plain_bodies_show_as_when_decoded_whole(self):
        self.account("Work")
        line = "明日の会議は10時からです。 " * 3 + "\r\n"
        big_ja = JAPANESE.split(b"\r\n\r\n")[0] + b"\r\n\r\n" + (line * 40000).encode("iso2022_jp")
        qp = (b"From: a@example.jp\r\nTo: b@example.jp\r\nSubject: qp\r\nDate: Fri, 04 Dec 2026 09:30:00 +0900\r\n"
              b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
              b"Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
              b"=E6=98=8E=E6=97=A5 long line that is soft-broken =\r\nand joined again\r\n" * 30000)
        self.ok("import", "Work", "inbox", self.write("ja.eml", big_ja), self.write("qp.eml", qp))
        for mid in self.ids("Work", "inbox"):
            whole = self.records("show", "Work", str(mid))[0]["body"]
            shown = self.ok("show", "Work", str(mid))
            self.assertGreater(len(shown), 1 << 20)
            self.assertEqual(shown.split("\n\n", 1)[1], whole + "\n", mid)

    def test_names_that_cannot_be_used_are_refused(self):
        self.fails(1, "account", "add", "a\nb", says="control character")
        self.fails(1, "account", "add", "x" * 256, says="longer than 255 bytes")
        self.account("Work")
        self.fails(1, "folder", "create", "Work", "a/b", says="cannot be a folder name")
        self.fails(2, "folder", "create", "Work", "y" * 300, says="at most 252 bytes")

    def test_damaged_registry_is_moved_aside_by_init(self):
        reg = os.path.join(self.root, "Registry", "HKEY_CURRENT_USER.reg")
        with open(reg, "wb") as f:
            f.write(b"\x00garbage\xff")
        r = self.run_oxmail("init")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"warning: the registry file was damaged", r.stderr)
        self.assertEqual(open(reg + ".damaged", "rb").read(), b"\x00garbage\xff")
        self.account("Work")

    def test_unwritable_root_fails_init_and_is_named(self):
        if os.geteuid() != 0:
            os.chmod(self.root, 0o500)
            try:
                self.fails(1, "init", says="Permission denied")
            finally:
                os.chmod(self.root, 0o700)
            return
        # Permissions do not bind the superuser: the child runs as an unprivileged user on a
        # root it may read but not write.
        import pwd
        try:
            user = pwd.getpwnam("nobody")
        except KeyError:
            self.skipTest("running as root and there is no user 'nobody' to run as")
        for base, dirs, names in os.walk(self.dir):
            os.chmod(base, 0o755)
            for n in names:
                os.chmod(os.path.join(base, n), 0o644)

        def unprivileged():
            os.setgroups([])
            os.setgid(user.pw_gid)
            os.setuid(user.pw_uid)

        try:
            self.fails(1, "init", says="Permission denied", preexec_fn=unprivileged)
        except PermissionError as e:  # the program itself is out of that user's reach
            self.skipTest(f"user 'nobody' cannot run {OXMAIL}: {e}")


SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PHONE_STATUS_DLL = os.environ.get("OXM_PHONE_STATUS_DLL", "")


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class FetchTest(Root):
    """fetch, timer and log against a Dovecot started for the class (skipped without one)."""

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not os.path.exists("/usr/sbin/dovecot") or not shutil.which("openssl"):
            raise unittest.SkipTest("needs root, dovecot (dovecot-pop3d) and openssl")
        cls.server = tempfile.mkdtemp(prefix="oxmail-e2e-dovecot.")
        os.chmod(cls.server, 0o755)
        subprocess.run([os.path.join(SOURCE, "scripts", "certs.sh"), os.path.join(cls.server, "certs")],
                       check=True, capture_output=True)
        cls.port = free_port()
        cls.tls_port = free_port()
        subprocess.run([os.path.join(SOURCE, "scripts", "dovecot.sh"), "start", os.path.join(cls.server, "dc"),
                        str(cls.port), str(cls.tls_port), os.path.join(cls.server, "certs", "localhost.crt"),
                        os.path.join(cls.server, "certs", "localhost.key")], check=True)
        cls.added = 0

    @classmethod
    def tearDownClass(cls):
        subprocess.run([os.path.join(SOURCE, "scripts", "dovecot.sh"), "stop", os.path.join(cls.server, "dc")])
        shutil.rmtree(cls.server, ignore_errors=True)

    def maildir(self, user="alice"):
        return os.path.join(self.server, "dc", "home", user, "Maildir")

    def deliver(self, count, lines=3, user="alice"):
        """Puts messages into the user's maildir; returns their texts as the server serves them."""
        import pwd
        mail = pwd.getpwnam("mail")
        served = []
        for d in ("", "cur", "new", "tmp"):
            path = os.path.join(self.maildir(user), d)
            os.makedirs(path, exist_ok=True)
            os.chown(path, mail.pw_uid, mail.pw_gid)
        for _ in range(count):
            FetchTest.added += 1
            i = FetchTest.added
            body = "".join(f"line {k} of message {i}\n" for k in range(1, lines + 1))
            text = (f"From: sender{i}@example.com\nTo: alice@example.com\nSubject: msg {i}\n"
                    f"Date: Thu, 01 Jan 2026 00:00:00 +0000\n\n{body}")
            name = f"{1600000000 + i}.M{i}P1.e2e,S={len(text)}:2,"
            tmp = os.path.join(self.maildir(user), "tmp", name)
            with open(tmp, "w", newline="\n") as f:
                f.write(text)
            os.chown(tmp, mail.pw_uid, mail.pw_gid)
            os.rename(tmp, os.path.join(self.maildir(user), "cur", name))
            served.append(text.replace("\n", "\r\n"))
        return served

    def on_server(self, user="alice"):
        return sum(len(os.listdir(os.path.join(self.maildir(user), d))) for d in ("cur", "new"))

    def clear_server(self):
        self.deliver(0)  # the maildir, made when missing
        for d in ("cur", "new"):
            for n in os.listdir(os.path.join(self.maildir(), d)):
                os.unlink(os.path.join(self.maildir(), d, n))

    def pop_account(self, name, *options, password="secret1"):
        self.ok("account", "add", name, "--pop", f"127.0.0.1:{self.port}", "--user", "alice",
                "--password", password, *options)

    def test_fetch_new_messages_once_with_json_lines_and_summary(self):
        self.clear_server()
        served = self.deliver(3)
        self.pop_account("Pop")
        lines = self.records("fetch", "Pop")
        self.assertEqual([r["status"] for r in lines[:-1]], ["whole"] * 3)
        self.assertEqual(lines[-1]["fetched"], 3)
        self.assertEqual(lines[-1]["bytes"], sum(r["bytes"] for r in lines[:-1]))
        ids = self.ids("Pop", "inbox")
        self.assertEqual(len(ids), 3)
        self.assertEqual([self.ok("show", "Pop", str(i), "--raw").encode() for i in ids],
                         [t.encode() for t in served])
        # Known ones do not come again; a new one does.
        out = self.ok("fetch", "Pop")
        self.assertRegex(out, r"^fetched 0 messages \(0 bytes\) in [0-9.]+ s\n$")
        self.deliver(1)
        self.assertRegex(self.ok("fetch", "Pop"), r"^fetched 1 messages \(\d+ bytes\) in [0-9.]+ s\n$")
        self.assertEqual(len(self.ids("Pop", "inbox")), 4)
        self.assertEqual(self.on_server(), 4)

        # A wrong password: the library's code, exit 1, nothing stored.
        self.pop_account("Wrong", password="nope")
        err = self.fails(1, "fetch", "Wrong", says="POP_AUTH_ERR")
        self.assertIn("0x02002002", err)
        self.assertEqual(self.ids("Wrong", "inbox"), [])
        # The right one given on the command line.
        self.assertIn("fetched 4 messages", self.ok("fetch", "Wrong", "--password", "secret1"))

    def test_partial_completion_delete_and_clear(self):
        self.clear_server()
        served = self.deliver(2, lines=12)
        self.pop_account("Part", "--partial", "2", "--apop")
        settings = self.records("account", "show", "Part")[0]
        self.assertEqual((settings["bAPOPEnabled"], settings["bPartialRetrievingEnabled"],
                          settings["uiPartialRetrievingLines"]), ("true", "true", "2"))
        lines = self.records("fetch", "Part")
        self.assertEqual([r["status"] for r in lines[:-1]], ["partial", "partial"])
        ids = self.ids("Part", "partial")
        self.assertEqual(len(ids), 2)
        self.assertNotIn("line 3 of", self.ok("show", "Part", str(ids[0]), "--raw"))
        # Completed in place: same identifiers, whole text, no longer partial.
        self.assertIn("fetched 2 messages", self.ok("fetch", "Part", "--select", *map(str, ids)))
        self.assertEqual(self.ids("Part", "partial"), [])
        self.assertEqual(self.ids("Part", "inbox"), ids)
        self.assertEqual(self.ok("show", "Part", str(ids[1]), "--raw"), served[1])
        self.fails(2, "fetch", "Part", "--select")
        self.fails(2, "fetch", "Part", "7")

        # Clearing the server deletes what was received, nothing newer.
        self.deliver(1)
        self.ok("fetch", "Part", "--clear-server")
        self.assertEqual(self.on_server(), 1)
        # Deleted from the server as soon as stored.
        self.pop_account("Del", "--delete-from-server")
        self.assertEqual(self.records("account", "show", "Del")[0]["bMessageLeavingEnabled"], "true")
        self.assertIn("fetched 1 messages", self.ok("fetch", "Del"))
        self.assertEqual(self.on_server(), 0)

    def tls_account(self, name):
        """An account on port 995 (TLS from the first byte), which the hook sends to the test
        Dovecot's TLS port; its certificate is self-signed, so no system CA knows its issuer."""
        self.ok("account", "add", name, "--pop", "localhost:995", "--user", "alice", "--password", "secret1")
        return {"OXMIDDLE_PORT_REDIRECT": f"995={self.tls_port}"}

    def test_untrusted_certificate_without_a_terminal(self):
        self.clear_server()
        self.deliver(2)
        redirect = self.tls_account("Tls")
        r = self.run_oxmail("fetch", "Tls", env=redirect)
        err = r.stderr.decode()
        self.assertEqual(r.returncode, 1, err)
        self.assertIn("refused (no terminal to ask; --accept-certificate accepts it)", err)
        self.assertIn("(POP_CONNECT_ERR, 0x", err)
        self.assertEqual(self.ids("Tls", "inbox"), [])
        self.assertEqual(self.on_server(), 2)
        r = self.run_oxmail("fetch", "Tls", "--accept-certificate", env=redirect)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("fetched 2 messages", r.stdout.decode())
        self.assertEqual(len(self.ids("Tls", "inbox")), 2)

    def test_untrusted_certificate_asked_on_a_terminal(self):
        self.clear_server()
        self.deliver(2)
        redirect = self.tls_account("Asked")
        code, seen, out = self.answer_on_terminal("n", "fetch", "Asked", env=redirect)
        self.assertEqual(code, 1, seen)
        self.assertIn("POP_CONNECT_ERR", seen)
        self.assertEqual(self.ids("Asked", "inbox"), [])
        code, seen, out = self.answer_on_terminal("y", "fetch", "Asked", env=redirect)
        self.assertEqual(code, 0, seen)
        self.assertIn("fetched 2 messages", out)
        # Remembered for the host: no question, no terminal, no flag needed any more.
        self.deliver(1)
        r = self.run_oxmail("fetch", "Asked", env=redirect)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn(b"certificate", r.stderr)
        self.assertEqual(len(self.ids("Asked", "inbox")), 3)

    def test_progress_bar_on_a_terminal(self):
        self.clear_server()
        self.deliver(5, lines=200)
        self.pop_account("Bar")
        master, slave = pty.openpty()
        proc = subprocess.Popen([OXMAIL, "--root", self.root, "fetch", "Bar"], stdout=subprocess.PIPE,
                                stderr=slave, env=dict(os.environ, OXMIDDLE_SYNC="0"))
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        out, _ = proc.communicate(timeout=120)
        os.close(master)
        self.assertEqual(proc.returncode, 0)
        self.assertIn(b"\rfetching [", seen)
        self.assertIn(b"fetched 5 messages", out)

    def test_timer_set_run_off(self):
        self.clear_server()
        self.pop_account("Timed")
        if PHONE_STATUS_DLL:
            os.makedirs(os.path.join(self.root, "Windows"), exist_ok=True)
            shutil.copy(PHONE_STATUS_DLL, os.path.join(self.root, "Windows", "TmPhoneStatus.dll"))
        db = os.path.join(self.root, "Notify", "Notifications.txt")
        self.fails(1, "timer", "set", "15", "--account", "Nobody")
        self.assertEqual(self.ok("timer", "set", "15", "--account", "Timed"), "periodic retrieval every 15 minutes\n")
        self.ok("timer", "set", "20")
        with open(db) as f:
            entries = f.read().splitlines()
        self.assertEqual(entries[0], "OxMiddle user notifications 1")
        self.assertEqual(len(entries), 2, "exactly one receive timer")
        self.assertTrue(entries[1].endswith("\t\\Windows\\OxRecvTimer.exe\t-t"), entries[1])
        self.assertEqual(self.ok("timer", "run"), "nothing due\n")

        # Due: the periodic retrieval runs, the indicators are set, the next timer is set.
        self.deliver(2)
        fields = entries[1].split("\t")
        fields[3] = "2020-01-01 00:00:00.000"
        with open(db, "w") as f:
            f.write(entries[0] + "\n" + "\t".join(fields) + "\n")
        log = os.path.join(self.dir, "phone.log")
        r = subprocess.run([OXMAIL, "--root", self.root, "timer", "run"], capture_output=True, timeout=120,
                           env=dict(os.environ, OXMIDDLE_SYNC="0", OXM_PHONE_STATUS_LOG=log))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"fetched 2 messages", r.stdout)
        self.assertEqual(len(self.ids("Timed", "inbox")), 2)
        if PHONE_STATUS_DLL:
            with open(log) as f:
                self.assertEqual(f.read().splitlines(), ["10 1", "13 0"])
        with open(db) as f:
            again = f.read().splitlines()
        self.assertEqual(len(again), 2)
        self.assertNotIn("2020-01-01", again[1])

        # The next timer is set before the retrieval: a retrieval that fails keeps the cycle.
        self.pop_account("Gone")
        self.ok("timer", "set", "15", "--account", "Gone")
        self.ok("account", "delete", "Gone")
        with open(db) as f:
            entries = f.read().splitlines()
        fields = entries[1].split("\t")
        fields[3] = "2020-01-01 00:00:00.000"
        with open(db, "w") as f:
            f.write(entries[0] + "\n" + "\t".join(fields) + "\n")
        self.fails(1, "timer", "run", says="Gone")
        with open(db) as f:
            again = f.read().splitlines()
        self.assertEqual(len(again), 2)
        self.assertNotIn("2020-01-01", again[1])

        self.assertEqual(self.ok("timer", "set", "off"), "periodic retrieval off\n")
        with open(db) as f:
            self.assertEqual(f.read(), "OxMiddle user notifications 1\n")
        self.fails(2, "timer", "set", "0")

    def test_protocol_log_masks_the_password(self):
        self.clear_server()
        self.deliver(1)
        self.pop_account("Logged")
        self.fails(1, "log", "show", says="the protocol log is off")
        self.ok("log", "on")
        self.ok("fetch", "Logged")
        shown = self.ok("log", "show")
        self.assertIn("USER alice", shown)
        self.assertIn("PASS *******", shown)
        self.assertNotIn("secret1", shown)
        self.assertIn("RETR 1", shown)
        self.ok("log", "off")
        self.assertFalse(os.path.exists(os.path.join(self.root, "Application Data", "OxenMail", "OxMailLog.txt")))
        self.fails(2, "log", "sideways")


class DemoTest(unittest.TestCase):
    def demo(self, *args):
        r = subprocess.run([OXMAIL, "demo"] + list(args), capture_output=True,
                           env=dict(os.environ, OXMIDDLE_SYNC="0"), timeout=300)
        out = r.stdout.decode()
        root = out.split("a fresh device root at ")[1].split("\n")[0]
        self.assertTrue(os.path.isdir(root))
        shutil.rmtree(root)
        return r.returncode, out, r.stderr.decode()

    def test_demo_runs_the_local_part_then_the_whole_road(self):
        code, out, err = self.demo()
        self.assertEqual(code, 0, err)
        for piece in ("$ oxmail import Demo inbox", "会議のお知らせ", "明日の会議は10時から", "Re: ",
                      "exported 4 messages"):
            self.assertIn(piece, out)
        installed = all(os.path.exists(p) for p in ("/usr/sbin/dovecot", "/usr/sbin/exim4", "/usr/sbin/nginx"))
        if not installed or os.geteuid() != 0:
            self.assertIn("the local part only", out)
            return
        for piece in ("sent 1 of 1 messages", "fetched 1 messages", "Subject: 来週の予定",
                      "来週の予定を添付します。", "[1] 予定表.txt (text/plain)", "fetched 3 items (0 without",
                      "駅前に新しい図書館", "Title:    初雪の便り", "Pictures: image.jpg, image_small.jpg, image_large.jpg",
                      "The servers are stopped and their folder removed."):
            self.assertIn(piece, out)
        servers = out.split("(in ")[1].split(")")[0]
        self.assertFalse(os.path.exists(servers))

    def test_ctrl_c_stops_the_servers(self):
        if os.geteuid() != 0 or not all(os.path.exists(p) for p in ("/usr/sbin/dovecot", "/usr/sbin/exim4")):
            self.skipTest("needs root, dovecot (dovecot-pop3d) and exim4 (exim4-daemon-light)")
        import signal
        import time
        proc = subprocess.Popen([OXMAIL, "demo"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                env=dict(os.environ, OXMIDDLE_SYNC="0"))
        out = b""
        while b"Dovecot POP3 on" not in out:
            chunk = proc.stdout.read1(65536)
            self.assertTrue(chunk, out)
            out += chunk
        servers = out.decode().split("(in ")[1].split(")")[0]
        root = out.decode().split("a fresh device root at ")[1].split("\n")[0]
        self.addCleanup(shutil.rmtree, root, True)
        self.assertTrue(os.path.isdir(servers))
        proc.send_signal(signal.SIGINT)
        self.assertEqual(proc.wait(timeout=60), -signal.SIGINT)
        for _ in range(600):  # the servers' script stops them and removes their folder
            if not os.path.exists(servers):
                break
            time.sleep(0.05)
        self.assertFalse(os.path.exists(servers))

    def test_demo_without_servers_or_when_they_fail(self):
        """The servers script's first answer decides: a missing package keeps to the local part
        (exit 0), a server that does not start stops the demo (exit 1); the servers' folder is
        the script's to remove."""
        scripts = tempfile.mkdtemp(prefix="oxmail-e2e-scripts.")
        self.addCleanup(shutil.rmtree, scripts, True)
        for answer, code, says in [("missing nginx exim4-daemon-light", 0,
                                    "Not installed (Debian packages): nginx exim4-daemon-light; the local part only."),
                                   ("missing root", 0, "Dovecot and Exim run as root here"),
                                   ("failed exim", 1, "oxmail: the local servers did not start (failed exim)")]:
            with open(os.path.join(scripts, "demo_servers.sh"), "w") as f:
                f.write(f"rmdir \"$1\"\necho '{answer}'\n")
            got, out, err = self.demo("--scripts", scripts)
            self.assertEqual(got, code, err)
            self.assertIn(says, out + err)
        got, out, _ = self.demo("--scripts", os.path.join(scripts, "none"))
        self.assertEqual(got, 0)
        self.assertIn("The server scripts are not at", out)


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class FeedTest(Root):
    """feed add, fetch, reget and show against an nginx started by scripts/nginx.sh."""

    @classmethod
    def setUpClass(cls):
        if not os.path.exists("/usr/sbin/nginx"):
            raise unittest.SkipTest("nginx is not installed (Debian package nginx)")
        cls.srv = tempfile.mkdtemp(prefix="oxmail-e2e-nginx.")
        os.chmod(cls.srv, 0o755)
        cls.port = free_port()
        cls.script = os.path.join(SOURCE, "scripts", "nginx.sh")
        r = subprocess.run([cls.script, "start", cls.srv, str(cls.port)], capture_output=True)
        if r.returncode != 0:
            shutil.rmtree(cls.srv, ignore_errors=True)
            raise unittest.SkipTest("nginx did not start: " + r.stdout.decode() + r.stderr.decode())
        cls.www = os.path.join(cls.srv, "www")

    @classmethod
    def tearDownClass(cls):
        subprocess.run([cls.script, "stop", cls.srv], capture_output=True)
        shutil.rmtree(cls.srv, ignore_errors=True)

    def put(self, name, data):
        path = os.path.join(self.www, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{path}"

    def item(self, title, picture):
        return (f"<item><title>{title}</title><link>{self.url(title)}</link><description>about {title}"
                f"</description><pubDate>Mon, 07 Dec 2026 07:30:00 +0900</pubDate><image><url>{self.url(picture)}"
                f"</url><width>40</width><height>30</height></image></item>")

    def test_add_fetch_show_and_reget(self):
        self.account()  # a mail account named Work
        self.fails(2, "feed", "add", "News", "ftp://127.0.0.1/feed.xml", says="http://HOST[:PORT]/PATH")
        self.fails(2, "feed", "add", "News", "http://127.0.0.1")
        self.fails(1, "feed", "add", "Work", self.url("feed.xml"), says="'Work' is a mail account")
        self.fails(2, "feed", "reget", "News", says="missing ID")
        self.fails(2, "feed", "fetch", "News", "--manual", "x", says="unexpected argument 'x'")
        self.fails(2, "feed", "frob", "News", says="'frob' is not add, fetch or reget")
        self.fails(1, "feed", "fetch", "News", says="no feed account named 'News'")
        self.fails(1, "feed", "fetch", "Work", says="no feed account named 'Work'")

        with open(os.path.join(self.root, "Windows", "TIDAL.jpg"), "rb") as f:
            picture = f.read()
        self.put("a.jpg", picture)
        self.put("feed.xml", ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel>"
                              "<title>Chan</title><link>http://chan.invalid/</link><description>d</description>" +
                              self.item("first", "a.jpg") + self.item("second", "later.jpg") +
                              "</channel></rss>").encode())
        self.assertIn("set up the feed account 'News'", self.ok("feed", "add", "News", self.url("feed.xml")))
        lines = self.records("feed", "fetch", "News")
        self.assertEqual(lines[:-1], [{"item": 1, "status": "whole"}, {"item": 2, "status": "whole"}])
        self.assertEqual((lines[-1]["fetched"], lines[-1]["partial"]), (2, 0))
        ids = self.ids("News", "inbox/News")
        items = {self.records("show", "News", str(i))[0]["title"]: i for i in ids}
        self.assertEqual(sorted(items), ["first", "second"])

        first = self.records("show", "News", str(items["first"]))[0]
        self.assertEqual((first["link"], first["date"], first["category"], first["channel"]),
                         (self.url("first"), "Mon, 07 Dec 2026 07:30:00 +0900", "news", "Chan"))
        self.assertEqual(first["pictures"], ["image.jpg", "image_small.jpg", "image_large.jpg"])
        self.ok("show", "News", str(items["first"]), "--save-attachments", self.files)
        with open(os.path.join(self.files, "image.jpg"), "rb") as f:
            self.assertEqual(f.read(), picture)
        with open(os.path.join(self.files, "image_small.jpg"), "rb") as f:
            self.assertEqual(f.read(2), b"\xff\xd8")
        # The second picture was missing: the item keeps its address, shown until a re-get.
        second = self.ok("show", "News", str(items["second"]))
        self.assertIn("Picture:  " + self.url("later.jpg") + " (not fetched: oxmail feed reget)", second)
        self.assertIn("\nabout second\n", second)
        self.put("later.jpg", picture)
        self.assertRegex(self.ok("feed", "reget", "News", str(items["second"])),
                         r"^re-got 1 items \(0 without picture or contents\) in [0-9.]+ s\n$")
        self.assertEqual(self.ids("News", "inbox/News"), ids)
        self.assertIn("Pictures: image.jpg, image_small.jpg, image_large.jpg",
                      self.ok("show", "News", str(items["second"])))

        # A document the server does not have: the library's code, nothing stored lost.
        self.ok("feed", "add", "News", self.url("gone.xml"))
        self.fails(1, "feed", "fetch", "News", says="(OXMDL_ERR_RSS_HTTP_STATUS, 0x0200230A)")
        self.assertEqual(self.ids("News", "inbox/News"), ids)


class SendTest(Root):
    """oxmail send against an Exim started by scripts/exim.sh (skipped without Exim or root)."""

    @classmethod
    def setUpClass(cls):
        if not os.path.exists("/usr/sbin/exim4") or os.geteuid() != 0 or not shutil.which("openssl"):
            raise unittest.SkipTest("Exim (exim4-daemon-light), openssl and root are needed")
        cls.srv = tempfile.mkdtemp(prefix="oxmail-exim.")
        os.chmod(cls.srv, 0o755)
        certs = os.path.join(cls.srv, "certs")
        os.mkdir(certs, 0o755)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                        "-keyout", os.path.join(certs, "localhost.key"),
                        "-out", os.path.join(certs, "localhost.crt"), "-subj", "/CN=localhost"],
                       check=True, capture_output=True)
        cls.ports = [free_port() for _ in range(4)]
        cls.exim = os.path.join(cls.srv, "exim")
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "exim.sh")
        cls.script = script
        r = subprocess.run([script, "start", cls.exim, certs] + [str(p) for p in cls.ports], capture_output=True)
        if r.returncode != 0:
            shutil.rmtree(cls.srv, ignore_errors=True)
            raise unittest.SkipTest("Exim did not start: " + r.stdout.decode() + r.stderr.decode())

    @classmethod
    def tearDownClass(cls):
        subprocess.run([cls.script, "stop", cls.exim], capture_output=True)
        shutil.rmtree(cls.srv, ignore_errors=True)

    def deliveries(self, expected=0):
        """The delivered files (removed once read), after waiting at most 10 s for `expected`:
        Exim delivers just after its reply to the data."""
        import time
        out = os.path.join(self.exim, "out", "new")
        for _ in range(500):
            if len(os.listdir(out) if os.path.isdir(out) else []) >= expected:
                break
            time.sleep(0.02)
        found = []
        for name in sorted(os.listdir(out)) if os.path.isdir(out) else []:
            with open(os.path.join(out, name), "rb") as f:
                env, data = f.read().split(b"\r\n\r\n", 1)
            found.append((env.split(b"\r\n")[1], data))
            os.unlink(os.path.join(out, name))
        return found

    def test_outbox_with_a_refused_recipient(self):
        self.deliveries()
        self.ok("account", "add", "Work", "--address", "taro@example.jp",
                "--smtp", "127.0.0.1:%d" % self.ports[0], "--smtp-auth", "none")
        for i in range(3):
            self.ok("compose", "Work", "--to", "hanako@example.jp", "--subject", "hello %d" % i, "--body", "b\n.\n")
        self.ok("compose", "Work", "--to", "refused@example.jp", "--subject", "bad one", "--body", "x")
        r = self.run_oxmail("send", "Work")
        self.assertEqual(r.returncode, 1)
        self.assertRegex(r.stdout.decode(), r"^sent 3 of 4 messages in [0-9.]+ s\n$")
        err = r.stderr.decode()
        self.assertIn("(SMTP_ADDRESS_ERR, 0x0200210E)", err)
        self.assertIn('"bad one" stayed in the outbox', err)
        got = self.deliveries(3)
        self.assertEqual([rcpt for rcpt, _ in got], [b"RCPT TO:<hanako@example.jp>"] * 3)
        for _, data in got:
            self.assertIn(b"\r\n\r\nb\r\n.\r\n", data)  # the body line "." arrives as "."
        self.assertEqual(len(self.ids("Work", "sent")), 3)
        self.assertEqual(len(self.ids("Work", "outbox")), 1)
        # Again, as JSON: the refused message is tried first and stays; the new one goes.
        self.ok("compose", "Work", "--to", "jiro@example.jp", "--subject", "again", "--body", "y")
        r = self.run_oxmail("send", "Work", json_out=True)
        lines = [json.loads(line) for line in r.stdout.decode().splitlines()]
        self.assertEqual(lines[0], {"sent": 1, "of": 2})
        self.assertEqual(lines[-1]["sent"], 1)
        self.assertEqual(lines[-1]["messages"], 2)
        self.assertEqual(lines[-1]["errors"], ["0x0200210E"])
        self.assertEqual(lines[-1]["left"], self.ids("Work", "outbox"))
        self.assertEqual(len(self.deliveries(1)), 1)

    def test_untrusted_certificate_over_implicit_tls(self):
        """Port 465 (TLS from the first byte), sent to the test Exim's SMTPS port by the hook;
        its certificate is self-signed."""
        self.deliveries()
        redirect = {"OXMIDDLE_PORT_REDIRECT": "465=%d" % self.ports[3]}
        self.ok("account", "add", "Tls", "--address", "alice@example.jp", "--smtp", "localhost:465",
                "--smtp-auth", "login", "--smtp-user", "alice", "--smtp-password", "secret1")
        self.ok("compose", "Tls", "--to", "bob@example.jp", "--subject", "over tls", "--body", "x")
        r = self.run_oxmail("send", "Tls", env=redirect)
        err = r.stderr.decode()
        self.assertEqual(r.returncode, 1, err)
        self.assertIn("refused (no terminal to ask; --accept-certificate accepts it)", err)
        self.assertIn("(SMTP_CONNECT_ERR, 0x", err)
        self.assertIn('"over tls" stayed in the outbox', err)
        self.assertEqual(self.deliveries(), [])
        r = self.run_oxmail("send", "Tls", "--accept-certificate", env=redirect)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().split(" in ")[0], "sent 1 of 1 messages")
        self.assertEqual([rcpt for rcpt, _ in self.deliveries(1)], [b"RCPT TO:<bob@example.jp>"])
        self.assertEqual(self.ids("Tls", "outbox"), [])

    def test_authentication_choices(self):
        self.deliveries()
        submit = "127.0.0.1:%d" % self.ports[1]
        for name, auth, password, code in [("Login", "login", "secret1", 0), ("Cram", "cram-md5", "secret1", 0),
                                           ("Auto", "auto", "secret1", 0), ("Wrong", "cram-md5", "nope", 1)]:
            self.ok("account", "add", name, "--address", "alice@example.jp", "--smtp", submit,
                    "--smtp-auth", auth, "--smtp-user", "alice", "--smtp-password", password)
            self.ok("compose", name, "--to", "bob@example.jp", "--subject", name, "--body", "x")
            r = self.run_oxmail("send", name)
            self.assertEqual(r.returncode, code, r.stderr)
            if code:
                self.assertIn("SMTP_AUTH_ERR", r.stderr.decode())
                self.assertEqual(len(self.ids(name, "outbox")), 1)
            else:
                self.assertEqual(r.stdout.decode().split(" in ")[0], "sent 1 of 1 messages")
        # A wrong stored password, replaced for one run by --password.
        self.ok("send", "Wrong", "--password", "secret1")
        self.assertEqual(len(self.deliveries(4)), 4)


if __name__ == "__main__":
    unittest.main()

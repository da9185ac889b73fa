#!/usr/bin/python3
"""The host side of retrieve_bench.sh.
fill MAILDIR N SIZE: N messages of about SIZE bytes as maildir files, in order.
warm HOST PORT USER PASSWORD: one UIDL, so that Dovecot has indexed the mailbox before the
timed runs (the first conversation pays for the index, whoever has it).
fetch HOST PORT USER PASSWORD MAILDIR FSYNC: poplib fetches every message (UIDL, RETR each) and
delivers it into MAILDIR (tmp/ then new/, fsync per message when FSYNC is 1); prints seconds."""
import os, poplib, sys, time

def fill(maildir, n, size):
    for d in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(maildir, d), exist_ok=True)
    for i in range(1, n + 1):
        head = (f"From: sender{i}@example.com\nTo: alice@example.com\nSubject: msg {i}\n"
                f"Message-ID: <m{i}@example.com>\nDate: Thu, 01 Jan 2026 00:00:00 +0000\n\n")
        line = f"line of message {i} " + "x" * 50 + "\n"
        body = line * max(1, (size - len(head)) // len(line))
        msg = head + body
        name = f"{1600000000 + i}.M{i}P1.bench,S={len(msg)}:2,"
        with open(os.path.join(maildir, "cur", name), "w", newline="\n") as f:
            f.write(msg)

def fetch(host, port, user, password, maildir, sync):
    for d in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(maildir, d), exist_ok=True)
    start = time.monotonic()
    pop = poplib.POP3(host, int(port))
    pop.user(user)
    pop.pass_(password)
    _, lines, _ = pop.uidl()
    for entry in lines:
        number, uid = entry.decode().split(" ", 1)
        _, body, _ = pop.retr(int(number))
        name = f"{uid}.{os.getpid()}.bench"
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(b"\r\n".join(body) + b"\r\n")
            if sync:
                f.flush()
                os.fsync(f.fileno())
        os.rename(tmp, os.path.join(maildir, "new", name))
    pop.quit()
    print("%.3f" % (time.monotonic() - start))

def warm(host, port, user, password):
    pop = poplib.POP3(host, int(port))
    pop.user(user)
    pop.pass_(password)
    pop.uidl()
    pop.quit()

if __name__ == "__main__":
    if sys.argv[1] == "fill":
        fill(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif sys.argv[1] == "warm":
        warm(*sys.argv[2:6])
    else:
        fetch(*sys.argv[2:7], sys.argv[7] == "1")

#!/usr/bin/env python3
"""Exports a program folder to Maildir and to mbox and has software that nobody here wrote read
them back: Dovecot's imap process (pre-authenticated on standard input, as an unprivileged user,
with a configuration of this test's own) and Python's mailbox module. Every message must be in
the folder a repair of the same folder files it in, marked seen exactly when the repair marks it
read, with its text as the store holds it; the program folder must be left byte for byte.

usage: readers.py CLI PROGRAM_FOLDER [--names]
  CLI is qvrepair-cli (QV_EMULATOR, e.g. wine, runs it); --names also checks the IMAP names of
  the folders against the tree's names (modified UTF-7 decoded). Needs Dovecot (Debian's
  dovecot-imapd): without it the test fails under CI and is skipped (77) elsewhere.
"""
import base64
import json
import mailbox
import os
import re
import shutil
import subprocess
import sys
import tempfile

SEPARATOR = re.compile(
    rb"^From .*(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    rb"\d\d \d\d:\d\d:\d\d \d{4}\r*$")
IMAP = "/usr/lib/dovecot/imap"
failures = []


def fail(text, got=None, want=None):
    failures.append(text)
    print("FAILED: " + text, file=sys.stderr)
    if got is not None:
        print(f"  {len(got)} messages, {len(want)} expected", file=sys.stderr)
        for n, (g, w) in enumerate(zip(got, want)):
            if g != w:
                print(f"  the first that differs, number {n}:\n  got  {g!r:.600}\n  want {w!r:.600}",
                      file=sys.stderr)
                break


def run(args, **kw):
    emulator = os.environ.get("QV_EMULATOR", "").split()
    return subprocess.run(emulator + args, capture_output=True, stdin=subprocess.DEVNULL, **kw)


def snapshot(folder):
    files = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(root, name)
            files[os.path.relpath(path, folder)] = (
                open(path, "rb").read() if os.path.isfile(path) else None)
    return files


def store_messages(store):
    """The messages of a store as lists of lines: a line ends at LF or CR LF."""
    lines = re.split(rb"\r?\n", store)
    if lines and lines[-1] == b"":
        lines.pop()
    messages, current, started = [], [], False
    for line in lines:
        if SEPARATOR.match(line):
            if started or any(l.strip(b" \t\r") for l in current):
                messages.append(current)
            current, started = [], True
        else:
            current.append(line)
    if started:
        messages.append(current)
    return messages


def dump_value(text):
    """A value of `qvrepair-cli dump`: a quoted string (with \\" \\\\ \\r \\n \\t \\xNN) or as is."""
    if not text.startswith('"'):
        return text
    return re.sub(r'\\(x[0-9A-F]{2}|.)',
                  lambda m: {"r": "\r", "n": "\n", "t": "\t"}.get(
                      m.group(1), chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x" and
                      len(m.group(1)) == 3 else m.group(1)), text[1:-1])


def read_index(cli, path):
    """The folder tree (level, text, status) and the entries (key, read) of an index."""
    out = run([cli, "dump", path]).stdout.decode("utf-8")
    tree, entries, section, item = [], [], None, None
    for line in out.splitlines():
        stripped = line.strip()
        if stripped.startswith("TreeItems ="):
            section = tree
        elif stripped.startswith("MailItems ="):
            section = entries
        elif stripped == "item":
            item = {}
        elif stripped == "end" and item is not None:
            section.append(item)
            item = None
        elif item is not None and " = " in stripped:
            name, value = stripped.split(" = ", 1)
            item[name] = dump_value(value)
    return ([(int(i.get("Level", "0")), i.get("Text", ""), i.get("Status", "")) for i in tree],
            [(i.get("F0", ""), i.get("F1") == "True") for i in entries])


def folder_names(tree, key):
    """The names from the top down to the folder of a folder key."""
    if key == "_msInbox":
        return ["Inbox"]
    found = next((n for n, t in enumerate(tree) if t[2] == key), None)
    if found is None:
        found = next((n for n, t in enumerate(tree) if t[1] == key), None)
    if found is None:
        return [key]
    names, n = [], found
    while n is not None:
        level, text, status = tree[n]
        names.insert(0, "Inbox" if status == "_msInbox" else text or status)
        if status == "_msInbox":
            break
        n = next((m for m in range(n - 1, -1, -1) if tree[m][0] < level), None)
    return names


def imap_session(home, location, commands):
    """Runs Dovecot's imap process on the commands; returns its output as bytes."""
    with open(os.path.join(home, "dovecot.conf"), "w") as conf:
        conf.write(f"mail_location = {location}\nlog_path = {home}/dovecot.log\nssl = no\n")
    subprocess.run(["chown", "-R", "nobody:nogroup", home], check=True)
    script = "".join(f"t{n} {c}\r\n" for n, c in enumerate(commands)) + "z LOGOUT\r\n"
    # Standard input stays open until the process has ended the session: at the end of its input
    # it would drop a FETCH that is still being answered.
    process = subprocess.Popen(
        ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env", "-i",
         f"HOME={home}", "USER=nobody", f"MAIL={location}", IMAP, "-c", f"{home}/dovecot.conf"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    process.stdin.write(script.encode())
    process.stdin.flush()
    output = process.stdout.read()
    process.stdin.close()
    process.wait(timeout=120)
    if b"z OK Logout" not in output:
        fail(f"Dovecot ended the session early: {output[-300:]!r}")
    return output


def fetched(output):
    """(flags, body) of each FETCH response, with the literals read by their length."""
    messages, at = [], 0
    pattern = re.compile(rb"\* \d+ FETCH \(FLAGS \(([^)]*)\) BODY\[\] \{(\d+)\}\r\n")
    while True:
        m = pattern.search(output, at)
        if not m:
            return messages
        start = m.end()
        size = int(m.group(2))
        messages.append(("\\Seen" in m.group(1).decode(), output[start:start + size]))
        at = start + size


def modified_utf7(name):
    """Decodes IMAP's modified UTF-7."""
    def decode(m):
        if m.group(1) == "":
            return "&"
        data = m.group(1).replace(",", "/")
        data += "=" * (-len(data) % 4)
        return base64.b64decode(data).decode("utf-16-be")
    return re.sub(r"&([^-]*)-", decode, name)


def crlf(lines):
    return b"".join(l + b"\n" for l in lines).replace(b"\r\n", b"\n")


def check_maildir(cli, app, work, expected, names_too):
    out = os.path.join(work, "maildir")
    done = run([cli, "export", "--dir", app, "--to", "maildir", out, "--json"])
    if done.returncode != 0:
        return fail(f"maildir export: {done.returncode} {done.stderr.decode()}")
    summary = json.loads(done.stdout)
    colon = ":" if os.listdir(os.path.join(out, "cur")) == [] or all(
        ":" in f for f in os.listdir(os.path.join(out, "cur"))) else "!"
    by_names = {tuple(f["names"]): f["path"] for f in summary["folders"]}
    # Python's mailbox module.
    mailbox.Maildir.colon = colon
    for names, want in expected.items():
        box = mailbox.Maildir(os.path.join(out, by_names[names]), factory=None, create=False)
        got = [(("S" in box.get_message(k).get_flags()), box.get_bytes(k))
               for k in sorted(box.keys(), key=lambda k: box._lookup(k))]
        if got != [(read, b"".join(l + b"\n" for l in lines)) for read, lines in want]:
            fail(f"Python's Maildir reads folder {names} otherwise")
    # Dovecot, on a copy of its own (it writes its index files into the Maildir).
    home = tempfile.mkdtemp(dir=work)
    shutil.copytree(out, os.path.join(home, "Maildir"), copy_function=shutil.copy2)
    if colon != ":":
        for root, _, files in os.walk(os.path.join(home, "Maildir")):
            for f in files:
                if "!2," in f:
                    os.rename(os.path.join(root, f), os.path.join(root, f.replace("!2,", ":2,")))
    imap_names = {}
    for names in expected:
        path = by_names[names]
        imap_names[names] = "INBOX" if path == "." else path[1:]
    output = imap_session(home, f"maildir:{home}/Maildir",
                          ['LIST "" "*"'] + [f'STATUS "{name}" (MESSAGES UNSEEN)'
                                             for name in imap_names.values()])
    listed = set(re.findall(rb'^\* LIST \([^)]*\) "\." "?([^"\r\n]*?)"?\r$', output, re.M))
    for names, want in expected.items():
        name = imap_names[names]
        if name.encode() not in listed:
            fail(f"Dovecot does not list {name} ({names})")
        if names_too and not same_names(modified_utf7(name).split("."), names):
            fail(f"the IMAP name {name} does not decode to {names}")
        status = re.search(rb'\* STATUS "?' + re.escape(name.encode()) +
                           rb'"? \(MESSAGES (\d+) UNSEEN (\d+)\)', output)
        if not status or (int(status.group(1)), int(status.group(2))) != (
                len(want), sum(1 for r, _ in want if not r)):
            fail(f"Dovecot's STATUS of {names}: {status.group(0) if status else None}")
        got = fetched(imap_session(home, f"maildir:{home}/Maildir",
                                   [f'SELECT "{name}"', "FETCH 1:* (FLAGS BODY.PEEK[])"]))
        got = [(r, b.replace(b"\r\n", b"\n")) for r, b in got]
        if got != [(r, crlf(lines)) for r, lines in want]:
            fail(f"Dovecot reads Maildir folder {names} otherwise", got,
                 [(r, crlf(lines)) for r, lines in want])


def same_names(levels, names):
    """Whether the levels of an IMAP name are the tree's names, "." and "/" replaced, each with a
    " (N)" that tells it from another where it needs one."""
    if len(levels) != len(names):
        return False
    for n, (level, name) in enumerate(zip(levels, names)):
        if n == 0 and name == "Inbox" and level.upper() == "INBOX":
            continue
        wanted = name.replace(".", "_").replace("/", "_")
        if level != wanted and not re.fullmatch(re.escape(wanted) + r" \(\d+\)", level):
            return False
    return True


def mbox_view(lines, read):
    """A message without its Status and X-Status fields, which an mbox file has its own of."""
    out, header, dropping = [], True, False
    for line in lines:
        if header and line == b"":
            header = False
        elif header and dropping and line[:1] in (b" ", b"\t"):
            continue
        elif header:
            dropping = re.match(rb"(?i)(x-)?status[ \t]*:", line) is not None
            if dropping:
                continue
        out.append(line)
    return out


def trimmed(lines):
    return lines[:-1] if lines and lines[-1] == b"" else lines


def unquote(lines):
    return [re.sub(rb"^>(>*From )", rb"\1", l) for l in lines]


def check_mbox(cli, app, work, expected):
    out = os.path.join(work, "mbox")
    done = run([cli, "export", "--dir", app, "--to", "mbox", out, "--json"])
    if done.returncode != 0:
        return fail(f"mbox export: {done.returncode} {done.stderr.decode()}")
    summary = json.loads(done.stdout)
    # The Windows program names a path with "\" (a folder's own name never holds one).
    by_names = {tuple(f["names"]): f["path"].replace("\\", "/") for f in summary["folders"]}
    for names, want in expected.items():
        path = os.path.join(out, by_names[names])
        box = mailbox.mbox(path, create=False)
        got = []
        for key in box.keys():
            message = box.get_bytes(key, from_=False).split(b"\n")
            if message[-1] == b"":
                message.pop()
            read = "R" in box.get_message(key).get_flags()
            got.append((read, mbox_view(unquote(message), read)))
        # The empty line before a From_ line belongs to the file, not to the message.
        want = [(read, trimmed(mbox_view(lines, read))) for read, lines in want]
        if got != want:
            fail(f"Python's mbox reads {path} otherwise", got, want)
        # Dovecot serves the file as its INBOX.
        home = tempfile.mkdtemp(dir=work)
        shutil.copy2(path, os.path.join(home, "inbox"))
        os.mkdir(os.path.join(home, "mail"))
        output = imap_session(home, f"mbox:{home}/mail:INBOX={home}/inbox",
                              ["SELECT INBOX", "FETCH 1:* (FLAGS BODY.PEEK[])"])
        got = [(r, unquote(b.replace(b"\r\n", b"\n").split(b"\n")[:-1]))
               for r, b in fetched(output)]
        got = [(r, mbox_view(l, r)) for r, l in got]
        # (Dovecot takes a CR before the line's end for part of it.)
        if got != [(r, [l[:-1] if l.endswith(b"\r") else l for l in lines]) for r, lines in want]:
            fail(f"Dovecot reads {path} otherwise", got, want)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    cli, program = sys.argv[1], sys.argv[2]
    names_too = "--names" in sys.argv[3:]
    if not os.access(IMAP, os.X_OK):
        print("Dovecot (dovecot-imapd) is needed: " + IMAP + " is missing", file=sys.stderr)
        return 1 if os.environ.get("CI") else 77
    # In memory where the system has a memory file system with room to spare: Dovecot syncs
    # what it writes.
    shm = "/dev/shm"
    roomy = os.path.isdir(shm) and shutil.disk_usage(shm).free > (4 << 30)
    work = tempfile.mkdtemp(prefix="qv-readers-", dir=shm if roomy else None)
    os.chmod(work, 0o755)
    try:
        app = os.path.join(work, "app")
        shutil.copytree(program, app, copy_function=shutil.copy2)
        repaired = os.path.join(work, "repaired")
        shutil.copytree(program, repaired, copy_function=shutil.copy2)
        folder = os.path.join("profile", "default")
        store = open(os.path.join(app, folder, "mailbox.mbx"), "rb").read()
        before = snapshot(app)
        done = run([cli, "repair", "--dir", repaired, "--quiet"])
        if done.returncode != 0:
            fail(f"the repair failed: {done.stderr.decode()}")
            return 1
        tree, entries = read_index(cli, os.path.join(repaired, folder, "mailbox.idx"))
        messages = store_messages(store)
        if len(messages) != len(entries):
            fail(f"{len(messages)} messages in the store, {len(entries)} in the repaired index")
            return 1
        expected = {}
        for n, node in enumerate(tree):
            expected.setdefault(tuple(folder_names(tree, node[2] or node[1])), [])
        expected.setdefault(("Inbox",), [])
        for (key, read), lines in zip(entries, messages):
            expected.setdefault(tuple(folder_names(tree, key)), []).append((read, lines))
        check_maildir(cli, app, work, expected, names_too)
        check_mbox(cli, app, work, expected)
        if snapshot(app) != before:
            fail("the export changed the program folder")
        print(f"{len(messages)} messages in {len(expected)} folders read back by Dovecot and "
              f"Python's mailbox as the repair files them"
              if not failures else f"{len(failures)} failures")
        return 1 if failures else 0
    finally:
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main())

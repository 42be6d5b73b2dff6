#!/usr/bin/python3
"""Alert mail through Debian's exim4, end to end.

Each case of CASES starts exim (as root, with a configuration of the test's
own on a free loopback port, its spool and logs in a temporary directory),
lets the probe (notify_exim_probe) send one alert, stops exim, and reads what
exim stored with Python's email package. Exit code 77 (skipped) when exim4 is
missing or the test does not run as root.

Usage: exim_test.py <notify_exim_probe>
"""

import email
import email.policy
import mailbox
import os
import pwd
import shutil
import signal
import smtplib
import socket
import subprocess
import sys
import tempfile
import time

EXIM = shutil.which("exim4", path="/usr/sbin:/usr/bin")
USER, PASSWORD = "alerts", "Ex1m-Pa55"
SENDER = "Vantrel Feed <quotes-feed@example.com>"
RECIPIENTS = ["operator%02d@example.org" % i for i in range(40)]
SUBJECT = "Kurs\u00e4nderung: quotes feed \u2014 down"
ATTACHMENT = "r\u00e9sum\u00e9 of the feed log with a name longer than one header line could hold.txt"
WAIT_SECONDS = 30

# What the strict configuration checks, as large mailbox providers do.
STRICT_ACLS = r"""
acl_smtp_helo = acl_helo
acl_smtp_rcpt = acl_rcpt
acl_smtp_data = acl_data

begin acl
acl_helo:
  accept condition = ${if match{$sender_helo_name}{\N^\[[0-9.]+\]$\N}}
  accept condition = ${if match{$sender_helo_name}{\N^([A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?\.)+[A-Za-z]([A-Za-z0-9-]*[A-Za-z0-9])?$\N}}
  deny   message = EHLO needs a fully qualified name or an address literal
acl_rcpt:
  accept
acl_data:
  deny   message = a Message-ID is required
         condition = ${if !def:h_Message-ID: {1}}
  deny   message = header lines must be 7-bit
         condition = ${if match{$message_headers_raw}{\N[\x80-\xff]\N}}
  deny   message = lines must not exceed 998 characters
         condition = ${if >{$max_received_linelength}{998}}
  accept
"""

# One row per case: name, configuration kind ("slow-connect" and "slow-data"
# pause 3 s before the greeting or the reply to the end of data), the probe's
# mode and settings. Each must end in one delivery; the "alert" mode also in
# the QUIT the library sends when it is unloaded.
CASES = [
    # name            config          mode     security    auth
    ("plain",         "shipped",      "send",  "none",     "none"),
    ("starttls-plain", "shipped",     "send",  "starttls", "plain"),
    ("starttls-login", "shipped",     "send",  "starttls", "login"),
    ("implicit-tls",  "shipped",      "send",  "tls",      "login"),
    ("strict",        "strict",       "send",  "none",     "none"),
    ("slow-greeting", "slow-connect", "send",  "none",     "none"),
    ("slow-data",     "slow-data",    "send",  "none",     "none"),
    ("quit",          "shipped",      "alert", "none",     "none"),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def exim_config(directory, port, kind, security, certificate, key):
    acls = "acl_smtp_rcpt = acl_rcpt\n\nbegin acl\nacl_rcpt:\n  accept\n"
    if kind == "strict":
        acls = STRICT_ACLS
    elif kind == "slow-connect":
        acls = "acl_smtp_connect = acl_connect\n" + acls + "acl_connect:\n  accept delay = 3s\n"
    elif kind == "slow-data":
        acls = "acl_smtp_data = acl_data\n" + acls + "acl_data:\n  accept delay = 3s\n"
    tls = "tls_advertise_hosts =\n"
    if security != "none":
        tls = "tls_advertise_hosts = *\ntls_certificate = %s\ntls_privatekey = %s\n" % (certificate, key)
    if security == "tls":
        tls += "tls_on_connect_ports = %d\n" % port
    main, acl = acls.split("begin acl\n")
    return f"""
primary_hostname = exim.test
exim_user = Debian-exim
exim_group = Debian-exim
local_interfaces = 127.0.0.1
daemon_smtp_ports = {port}
spool_directory = {directory}/spool
log_file_path = {directory}/log/%slog
pid_file_path = {directory}/exim.pid
log_selector = +smtp_connection
host_lookup =
rfc1413_hosts =
keep_environment =
never_users = root
{tls}{main}
begin acl
{acl}
begin routers
everything:
  driver = accept
  transport = mbox

begin transports
mbox:
  driver = appendfile
  file = {directory}/mail/mbox
  user = Debian-exim
  batch_max = 100
  envelope_to_add

begin authenticators
plain:
  driver = plaintext
  public_name = PLAIN
  server_condition = ${{if and{{{{eq{{$auth2}}{{{USER}}}}}{{eq{{$auth3}}{{{PASSWORD}}}}}}}}}
login:
  driver = plaintext
  public_name = LOGIN
  server_prompts = Username:: : Password::
  server_condition = ${{if and{{{{eq{{$auth1}}{{{USER}}}}}{{eq{{$auth2}}{{{PASSWORD}}}}}}}}}
"""


class Exim:
    def __init__(self, directory, port, config):
        self.directory = directory
        exim_ids = pwd.getpwnam("Debian-exim")
        for sub in ("spool", "log", "mail"):
            os.makedirs(os.path.join(directory, sub))
            os.chown(os.path.join(directory, sub), exim_ids.pw_uid, exim_ids.pw_gid)
        self.config = os.path.join(directory, "exim.conf")
        with open(self.config, "w") as f:
            f.write(config)
        os.chmod(self.config, 0o644)
        self.process = subprocess.Popen([EXIM, "-C", self.config, "-bdf"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        self.port = port
        deadline = time.monotonic() + 20
        while True:
            if self.process.poll() is not None:
                raise RuntimeError("exim did not start: " + self.process.stderr.read().decode())
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("exim does not listen on port %d" % port)
                time.sleep(0.05)

    def log(self):
        try:
            with open(os.path.join(self.directory, "log", "mainlog"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_for_log(self, text):
        return self.wait_until(lambda log: text in log)

    def wait_until(self, condition):
        deadline = time.monotonic() + WAIT_SECONDS
        while not condition(self.log()):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)
        return True

    def messages(self):
        path = os.path.join(self.directory, "mail", "mbox")
        if not os.path.exists(path):
            return []
        box = mailbox.mbox(path, factory=None, create=False)
        return [email.message_from_bytes(box.get_bytes(key), policy=email.policy.default) for key in box.keys()]

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def settings(directory, port, security, auth, ca_file):
    attachment = os.path.join(directory, ATTACHMENT)
    with open(attachment, "wb") as f:
        f.write(bytes(range(256)) * 4)
    path = os.path.join(directory, "vantrel.cfg")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join([
            "[DEFAULT]", "FlushFlag=N", "MailSendMail=Y", "MailUseSimpleMAPI=N",
            "MailSMTPServerName=127.0.0.1", "MailSMTPServerPortNo=%d" % port,
            "MailSMTPSecurity=" + security, "MailSMTPAuth=" + auth, "MailSMTPCAFile=" + ca_file,
            "MailProfileName=" + USER, "MailPassword=" + PASSWORD,
            "MailAddressFrom=" + SENDER, "MailAddressTo=" + ", ".join(RECIPIENTS),
            "MailSubject=" + SUBJECT, "MailFile2Send=" + attachment,
            "MailSendErrors=Y", ""]))
    os.chmod(path, 0o600)
    return path, attachment


def check_mail(message, attachment):
    """The alert as a strict reader sees it."""
    problems = []
    expect = {
        "From": SENDER, "Subject": SUBJECT, "To": ", ".join(RECIPIENTS),
    }
    for name, value in expect.items():
        if str(message[name]) != value:
            problems.append("%s is %r" % (name, str(message[name])))
    message_id = str(message["Message-ID"] or "")
    if not (message_id.startswith("<") and message_id.endswith("@example.com>")):
        problems.append("Message-ID is %r" % message_id)
    parts = [p for p in message.walk() if p.get_content_disposition() == "attachment"]
    if len(parts) != 1 or parts[0].get_filename() != ATTACHMENT or parts[0].get_param("name") is None:
        problems.append("attachment names %r" % [(p.get_filename(), p.get_param("name")) for p in parts])
    elif parts[0].get_payload(decode=True) != open(attachment, "rb").read():
        problems.append("attachment bytes differ")
    body = message.get_body(("plain",))
    if body is None or "quotes feed is down" not in body.get_content():
        problems.append("body is %r" % (body and body.get_content()))
    if message.defects or any(p.defects for p in message.walk()):
        problems.append("defects %r" % [d for p in message.walk() for d in p.defects])
    raw = message.as_bytes(policy=email.policy.compat32)
    if max(len(line) for line in raw.split(b"\n")) > 998:
        problems.append("a line over 998 characters")
    return problems


def strict_refusals(port):
    """The strict configuration refuses what it claims to: else the case
    proves nothing."""
    problems = []
    good = "From: a@example.com\r\nTo: b@example.org\r\nSubject: x\r\nMessage-ID: <1@example.com>\r\n\r\nbody\r\n"
    trials = [
        ("EHLO vm", "vm", good.encode()),
        ("EHLO with _", "QUOTES_PC01.example.com", good.encode()),
        ("no Message-ID", "client.example.com", good.replace("Message-ID: <1@example.com>\r\n", "").encode()),
        ("8-bit header", "client.example.com", good.replace("Subject: x", "Subject: \u00e4").encode("utf-8")),
        ("long line", "client.example.com", good.replace("body", "b" * 1200).encode()),
    ]
    for name, helo, data in trials:
        try:
            with smtplib.SMTP("127.0.0.1", port, local_hostname=helo, timeout=30) as client:
                client.sendmail("a@example.com", ["b@example.org"], data)
            problems.append("strict exim accepted: " + name)
        except (smtplib.SMTPException, UnicodeError):
            pass
    return problems


def run_case(probe, certificates, case):
    name, kind, mode, security, auth = case
    directory = tempfile.mkdtemp(prefix="vantrel-exim-")
    os.chmod(directory, 0o755)
    try:
        certificate = os.path.join(directory, "cert.pem")
        key = os.path.join(directory, "key.pem")
        shutil.copy(certificates[2], certificate)
        shutil.copy(certificates[1], key)
        exim_ids = pwd.getpwnam("Debian-exim")
        os.chown(key, exim_ids.pw_uid, exim_ids.pw_gid)
        port = free_port()
        exim = Exim(directory, port, exim_config(directory, port, kind, security, certificate, key))
        problems = []
        try:
            config, attachment = settings(directory, port, security, auth, certificates[0])
            if mode == "send":
                result = subprocess.run([probe, "send", config], capture_output=True, text=True,
                                        timeout=WAIT_SECONDS, cwd=directory)
                if result.stdout.strip() != "sent":
                    problems.append("probe: " + result.stdout.strip() + result.stderr.strip()[-500:])

            else:
                alert = subprocess.Popen([probe, "alert", config], stdin=subprocess.PIPE, cwd=directory)
                if not exim.wait_for_log(" Completed"):
                    problems.append("no delivery")
                alert.stdin.close()
                alert.wait(timeout=WAIT_SECONDS)
                if not exim.wait_for_log("closed by QUIT"):
                    problems.append("the server saw no QUIT")
            if kind == "strict":
                problems += strict_refusals(port)
            # Every mail received has been delivered.
            exim.wait_until(lambda log: log.count(" <= ") == log.count(" Completed"))
        finally:
            exim.stop()
        messages = exim.messages()
        if len(messages) != 1:
            problems.append("%d deliveries" % len(messages))
        if messages:
            problems += check_mail(messages[0], attachment)
        if problems:
            log = exim.log()
            problems.append("exim's log:\n" + "\n".join(l for l in log.splitlines() if " -> " not in l and " => " not in l)[-3000:])
        return problems
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 64
    if EXIM is None or os.geteuid() != 0:
        print("SKIPPED: the exim suite needs exim4 (exim4-daemon-heavy) and root")
        return 77
    probe = os.path.abspath(sys.argv[1])
    holder = subprocess.Popen([probe, "certs"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    certificates = [holder.stdout.readline().strip() for _ in range(3)]
    only = os.environ.get("VANTREL_EXIM_CASES", "").split(",")
    failed = []
    try:
        for case in CASES:
            if only != [""] and case[0] not in only:
                continue
            problems = run_case(probe, certificates, case)
            print("%-16s %s" % (case[0], "ok" if not problems else "FAILED"), flush=True)
            for problem in problems:
                print("    " + problem)
            if problems:
                failed.append(case[0])
    finally:
        holder.stdin.close()
        holder.wait()
    if failed:
        print("failed: " + " ".join(failed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

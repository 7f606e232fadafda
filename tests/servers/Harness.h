#pragma once

// The harness for tests against real mail servers and clients, all on loopback, with
// throw-away configurations, started and stopped by the test:
//
//   DovecotServer  a Dovecot serving IMAP and POP3 for one user (DovecotServer::user,
//                  DovecotServer::password) on free ports, from a Maildir++ store (its
//                  own, or one the test names); stopped by its destructor.
//   ImapClient     an IMAP session from the test: login, append, create, subscribe,
//                  mailboxes (LIST/LSUB), messages (Message-ID and flags per message).
//   MbsyncChannel  mbsync keeping a local Maildir++ store in step with the server.
//   FetchmailRun   fetchmail fetching the server's mail (POP3 or IMAP) and handing each
//                  message to an "mda" command.
//   BrevaloWorld   a learned net and its store made by "brevalo-cli demo", with cli() to
//                  run brevalo-cli on it; message() makes mail the net sorts; program()
//                  is the brevalo-cli the mail user can run.
//   LmtpService    "brevalo-cli lmtp" on a unix socket, for the mail user or (as root) for
//                  every user; LmtpClient speaks to it.
//   PostfixServer  a real Postfix on loopback (Debian's package unpacked into the build
//                  folder, never installed) handing a domain's mail over LMTP to a socket.
//   ProgramRun     one run of any program (environment, input, output, exit status).
//   ServiceRun     a program left running while the test talks to it (a server, such as
//                  brevalo-cli lmtp), read until a line shows, stopped with what it started.
//   ScratchFolder  a temporary folder removed at the end.
//   StoreContents  where each message of a store lies, by Message-ID.
//   MailUser       the account all of these run as: the current user, or "nobody" when
//                  the tests run as root (CI), because Dovecot serves no mail to root.
//                  Files a server and brevalo-cli share must be that account's:
//                  BrevaloWorld, ScratchFolder and ProgramRun see to it.
//
// A test skips, with the message the harness gives, only when a program is not installed
// (or, for Postfix, the tests do not run as root):
//
//   if (auto missing = DovecotServer::missing() + FetchmailRun::missing(); !missing.empty())
//       GTEST_SKIP() << missing;
//   BrevaloWorld world;
//   DovecotServer server;                  // or DovecotServer server(world.maildir());
//   ImapClient imap(server.imapPort());
//   imap.login(DovecotServer::user, DovecotServer::password);
//   imap.append("INBOX", "\\Seen", BrevaloWorld::message("<1@example.org>", "Travel"));
//   imap.logout();
//   FetchmailRun fetch(server, BrevaloWorld::program() + " deliver");
//   fetch.set("BREVALO_HOME", world.home()).set("MAILDIR", world.maildir());
//   ASSERT_EQ(fetch.run(), 0) << fetch.output();
//
// Programs that hang are caught by CTest's timeout; servers die with the test process.

#include "tests/servers/BrevaloWorld.h"
#include "tests/servers/DovecotServer.h"
#include "tests/servers/FetchmailRun.h"
#include "tests/servers/ImapClient.h"
#include "tests/servers/LmtpClient.h"
#include "tests/servers/LmtpService.h"
#include "tests/servers/MailUser.h"
#include "tests/servers/MbsyncChannel.h"
#include "tests/servers/PostfixServer.h"
#include "tests/servers/ProgramRun.h"
#include "tests/servers/ScratchFolder.h"
#include "tests/servers/StoreContents.h"
#include "tests/servers/ServiceRun.h"

#include "generator/ProgramFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"

namespace qv::gen {

namespace {

struct Folder {
  const char* text;
  const char* key;
  int level;
  int image;
  bool isProtected;
};

// Inbox, Sent and Trash are the client's own folders; "Projects" is the user's, with "Archive"
// inside it.
constexpr Folder kFolders[] = {{"Inbox", "_msInbox", 0, 1, true},
                               {"Sent", "_msSent", 0, 2, true},
                               {"Trash", "_msTrash", 0, 3, true},
                               {"Projects", "_usrProjects", 0, 4, false},
                               {"Archive", "_usrArchive", 1, 4, false}};

// Unix seconds as a date value (days since 30 December 1899).
TDateTime DateValue(std::int64_t unixSeconds) {
  return static_cast<double>(unixSeconds) / 86400.0 + 25569.0;
}

// A header value on one line, without double quotes, as the client shows a sender.
std::string Shown(std::string_view value) {
  std::string s;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r' || c == '\n') {
      while (i + 1 < value.size() && (value[i + 1] == ' ' || value[i + 1] == '\t' ||
                                      value[i + 1] == '\r' || value[i + 1] == '\n'))
        ++i;
      s += ' ';
    } else if (c != '"') {
      s += c;
    }
  }
  return s;
}

std::string AccountFor(std::string_view address) {
  const auto at = address.find('@');
  const std::string_view domain = at == std::string_view::npos ? "" : address.substr(at + 1);
  return domain == "example.org" ? "Home" : "Work";
}

void WriteProfile(const std::string& path, const std::string& mailbox,
                  platform::FileSystem& files) {
  TqvProfile profile(nullptr);
  profile.SetName("qvProfile");
  profile.SetVersion("2.3.1");
  profile.SetMailbox(mailbox);
  profile.SetCheckStartup(true);
  profile.SetCheckEvery(true);
  profile.SetCheckMinutes(15);
  profile.SetStartFolder("_msInbox");
  profile.SetUnreadBold(true);
  profile.SetConfirmDelete(true);
  profile.SetMainTop(40);
  profile.SetMainLeft(60);
  profile.SetMainWidth(1024);
  profile.SetMainHeight(720);
  profile.SetMailboxWidth(200);
  profile.SetPreviewShow(true);
  profile.SetPreviewHeight(260);
  profile.SetGridOrder("0,1,2,3,4");
  profile.SetGridSizes("24,180,260,120,60");
  profile.SetCompFontName("Arial");
  profile.SetCompFontSize(10);
  profile.SetCompWrapLines(true);
  profile.SetCompWrapCol(76);
  profile.SetCompQuoteChar(">");
  profile.SetLanguage("English");
  profile.SetCharSet("iso-8859-1");
  profile.SetLabel1Text("Important");
  profile.SetLabel1Color(255);
  profile.SetID(DateValue(FromCivil(2019, 3, 14, 9, 30, 0)));

  struct AccountValues {
    const char* account;
    const char* address;
    const char* type;
    const char* server;
    int port;
    bool tls;
    const char* smtp;
    int smtpPort;
  };
  static constexpr AccountValues kAccounts[] = {
      {"Work", "anna.berg@example.com", "POP3", "pop.example.com", 110, false, "smtp.example.com",
       25},
      {"Home", "anna@example.org", "POP3", "pop3.mail.example.org", 995, true, "smtp.example.org",
       465}};
  for (const AccountValues& v : kAccounts) {
    TAccount& a = profile.Accounts().NewItem();
    a.SetAccount(v.account);
    a.SetName("Anna Berg");
    a.SetAddress(v.address);
    a.SetServerType(v.type);
    a.SetServer(v.server);
    a.SetPort(v.port);
    a.SetUserName(v.address);
    a.SetUseTLS(v.tls);
    a.SetActive(true);
    a.SetLeaveOnServer(true);
    a.SetLeaveKB(1024);
    a.SetSMTPServer(v.smtp);
    a.SetSMTPPort(v.smtpPort);
    a.SetSMTPLogin(true);
    a.SetSMTPUsePOP3(true);
    a.SetSMTPUseTLS(v.tls);
  }
  profile.SaveToFile(path, files);
}

}  // namespace

ProgramSummary WriteProgramFolder(const ProgramOptions& options, platform::FileSystem& files) {
  const std::filesystem::path folder = std::filesystem::path(options.dir) / "profile" / "default";
  std::filesystem::create_directories(folder);
  const std::string base = (folder / options.mailbox).string();

  WriteProfile((folder / "profile.dat").string(), options.mailbox, files);

  TqvMailBox index(nullptr);
  index.SetName("MailBox");
  TMailMessageList& entries = index.MailItems();
  // The old entries come from a sequence of their own, so that the store does not depend on them.
  Random rng(options.store.seed ^ 0x9E3779B97F4A7C15ULL);
  std::map<std::string, int> unread;
  ProgramSummary summary;

  const auto addEntry = [&](const std::string& key, bool read) -> TMailMessageItem& {
    TMailMessageItem& e = entries.NewItem();
    e.SetFolderKey(key);
    e.SetRead(read);
    e.SetPriority(-1);
    if (!read) ++unread[key];
    ++summary.oldEntries;
    return e;
  };
  // A stale entry that no message of the store matches, and one without an identifier.
  const auto addStale = [&](std::uint64_t n, bool withId) {
    const Folder& f = kFolders[rng.Below(std::size(kFolders))];
    TMailMessageItem& e = addEntry(f.key, rng.Chance(50));
    if (withId)
      e.SetMessageId("<stale." + std::to_string(n) + "." + std::to_string(rng.Below(100000)) +
                     "@example.com>");
    e.SetAccount("Work");
    e.SetSender("Old Correspondent <old@example.net>");
    e.SetRecipients("anna.berg@example.com");
    e.SetSubject("A message that is no longer in the store");
    e.SetBlockSize(static_cast<std::int64_t>(rng.Between(800, 40000)));
    e.SetDate(DateValue(FromCivil(2018, 6, 1, 12, 0, 0)));
    e.SetReceivedDate(DateValue(FromCivil(2018, 6, 1, 12, 0, 0)));
    e.SetOffset(static_cast<std::int64_t>(rng.Between(0, 1 << 20)));
  };
  addStale(0, false);

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen((base + ".mbx").c_str(), "wb"),
                                                      &std::fclose);
  if (!out) throw std::runtime_error("cannot create " + base + ".mbx: " + std::strerror(errno));
  std::setvbuf(out.get(), nullptr, _IOFBF, 1 << 20);

  summary.store = WriteStore(
      options.store,
      [&](std::string_view message) {
        if (std::fwrite(message.data(), 1, message.size(), out.get()) != message.size())
          throw std::runtime_error("cannot write " + base + ".mbx: " + std::strerror(errno));
      },
      [&](const MessageInfo& m) {
        if (rng.Chance(12)) addStale(m.number + 1, true);
        if (m.messageId.empty() || m.duplicateId || !rng.Chance(70)) return;
        const std::uint64_t where = rng.Below(100);
        const Folder& f = where < 50   ? kFolders[0]
                          : where < 62 ? kFolders[1]
                          : where < 70 ? kFolders[2]
                          : where < 88 ? kFolders[3]
                                       : kFolders[4];
        TMailMessageItem& e = addEntry(f.key, rng.Chance(60));
        ++summary.matching;
        if (f.key != std::string_view("_msInbox")) ++summary.outsideInbox;
        if (e.Read()) ++summary.read;
        e.SetMessageId(m.messageId);
        e.SetHasAttachment(m.attachments);
        e.SetAccount(AccountFor(m.to));
        e.SetSender(Utf8ToLatin1(Shown(m.from)));
        e.SetRecipients(m.to);
        e.SetSubject(Utf8ToLatin1(m.subject));
        e.SetBlockSize(static_cast<std::int64_t>(m.size));
        e.SetDate(DateValue(m.date));
        e.SetReceivedDate(DateValue(m.date));
        e.SetOffset(static_cast<std::int64_t>(m.offset));
      });
  if (std::fflush(out.get()) != 0)
    throw std::runtime_error("cannot write " + base + ".mbx: " + std::strerror(errno));
  out.reset();

  for (std::size_t i = 0; i < std::size(kFolders); ++i) {
    const Folder& f = kFolders[i];
    TMailTreeItem& item = index.TreeItems().NewItem();
    item.SetIndex(static_cast<std::int32_t>(i));
    item.SetLevel(f.level);
    item.SetText(f.text);
    item.SetStatus(f.key);
    item.SetExpanded(i == 3);
    item.SetImageIndex(f.image);
    item.SetSelectedIndex(f.image);
    item.SetIsVisible(true);
    item.SetIsProtected(f.isProtected);
    item.SetUnread(unread[f.key]);
  }
  summary.folders = static_cast<int>(std::size(kFolders));
  index.SaveToFile(base + ".idx", files);
  return summary;
}

}  // namespace qv::gen

// Makes a program folder for the export's tests: real messages (the MIME test data) and messages
// that test what a mail reader makes of an export ("From " lines in bodies, Status fields, stray
// CRs, no header end, no date, text before the first separator), filed by an index whose folder
// tree has names with non-ASCII characters, "&", "." and "/", names that meet once those are
// replaced, a folder below the Inbox, three levels, a key found by its Text and a key it lacks.
// usage: qv_export_folder DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mailbox/qvMailbox.h"
#include "platform/SystemPlatform.h"

#ifndef QV_MIME_DATA
#error "the MIME test data's folder is given by the build"
#endif

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Message {
  std::string id, key;
  bool read;
  std::string text;  // as the store holds it, without its separator
};

}  // namespace

int main(int argc, char** argv) {
  using namespace qv;
  if (argc != 2) {
    std::fprintf(stderr, "usage: qv_export_folder DIR\n");
    return 2;
  }
  const std::filesystem::path folder = std::filesystem::path(argv[1]) / "profile" / "default";
  std::filesystem::create_directories(folder);
  const std::string data = QV_MIME_DATA;
  const std::vector<Message> messages = {
      {"<mp@example.org>", "_usrTief", true,
       "Message-ID: <mp@example.org>\n" + Read(data + "/multipart.eml")},
      {"<uu@example.org>", "_usrKunden", false,
       "Message-ID: <uu@example.org>\n" + Read(data + "/uuencoded.eml")},
      {"<from@x>", "_usrAerger", true,
       "Message-ID: <from@x>\r\nFrom: Ann <ann@b.c>\r\nDate: Mon, 05 Jan 2004 10:00:00 +0100\r\n"
       "Status: RO\r\nSubject: From lines\r\nX-Status: D\r\n\tF\r\n\r\n"
       "From here on the body speaks.\r\n>From once quoted\r\n>>From twice\r\nFrom  two blanks\r\n"
       "from lower case\r\n\r\n"},
      {"<cr@x>", "_usrQ", false,
       "Message-ID: <cr@x>\nSubject: stray CRs\n\nline with a\rCR inside\nends with CR\r\r\n"
       "caf\xe9 in Latin-1\n"},
      {"<nohead@x>", "Sent", true, "Message-ID: <nohead@x>\nSubject: only a header, no date"},
      {"<ab1@x>", "_usrAB1", false, "Message-ID: <ab1@x>\nSubject: A.B\n\n.\n"},
      {"<ab2@x>", "_usrAB2", true, "Message-ID: <ab2@x>\nSubject: A_B\n\nbody\n\n\n"},
      {"<inbox@x>", "_usrInboxLike", false, "Message-ID: <inbox@x>\nSubject: INBOX\n\nx\n"},
      {"<gone@x>", "_usrGone", true, "Message-ID: <gone@x>\nSubject: gone\n\nthe last line"},
  };
  // Text before the first separator is kept as a message of its own.
  std::string store = "Subject: lost separator\n\nkept as a message\n";
  for (const Message& m : messages) {
    store += "From sender@example.org Mon Jan 05 10:00:00 2004\n";
    store += m.text;
    if (!store.empty() && store.back() != '\n') store += '\n';
  }
  store.pop_back();  // the last message's last line without a line break
  std::ofstream(folder / "mailbox.mbx", std::ios::binary) << store;

  TqvMailBox index(nullptr);
  index.SetName("MailBox");
  struct Item {
    int level;
    const char* text;
    const char* status;
  };
  static constexpr Item kTree[] = {
      {0, "Inbox", "_msInbox"},      {1, "Kunden", "_usrKunden"},
      {0, "Sent", "_msSent"},        {0, "\xC4rger & Co", "_usrAerger"},
      {1, "Q1.2024/Q2", "_usrQ"},    {2, "Tiefer", "_usrTief"},
      {0, "A.B", "_usrAB1"},         {0, "A_B", "_usrAB2"},
      {0, "INBOX", "_usrInboxLike"},
  };
  int n = 0;
  for (const Item& i : kTree) {
    TMailTreeItem& item = index.TreeItems().NewItem();
    item.SetIndex(n++);
    item.SetLevel(i.level);
    item.SetText(i.text);
    item.SetStatus(i.status);
  }
  for (const Message& m : messages) {
    TMailMessageItem& e = index.MailItems().NewItem();
    e.SetMessageId(m.id);
    e.SetFolderKey(m.key);
    e.SetRead(m.read);
  }
  platform::SystemFileSystem files;
  index.SaveToFile((folder / "mailbox.idx").string(), files);
  return 0;
}

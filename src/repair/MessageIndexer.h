// The scan's per-message step: a message's lines in, its block to a sink and its index entry to the
// rebuilt list out.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "mailbox/CompactMessages.h"
#include "mailbox/qvProfile.h"
#include "mime/clMailMessage.h"
#include "platform/Platform.h"
#include "repair/MessageSink.h"

namespace qv {

inline constexpr const char* kInboxKey = "_msInbox";
inline constexpr const char* kDefaultAccount = "Default";

// "ddd mmm dd hh:mm:ss yyyy" with the given short day and month names (the store is written with
// the English ones).
std::string FormatSeparatorDate(TDateTime d, const platform::LocaleNames& names);
// The text between the first "<" and the first ">", trimmed; the text itself without them.
std::string ExtractAngleAddress(std::string_view text);
// The account a message to `recipients` (a comma text) belongs to: the last account whose incoming
// server's name holds the first recipient's domain, else the first account; "Default" without
// accounts.
std::string AccountForRecipients(const TAccounts& accounts, std::string_view recipients);

class MessageIndexer : public MessageStep {
 public:
  // `message` is read anew for every message; the entries are appended to `entries`.
  MessageIndexer(TclMailMessage& message, const TAccounts& accounts, platform::Clock& clock,
                 MessageSink& sink, TCompactMessageList& entries)
      : message_(message), accounts_(accounts), clock_(clock), sink_(sink), entries_(entries) {}

  MessageSink& Sink() noexcept override { return sink_; }

  // Hands the message to the sink as one block (a new separator, the lines, and one more line
  // holding CR LF when the last line is not empty, every line followed by CR LF, so such a
  // message ends in two empty lines) and appends its entry: in the Inbox, unread, with the
  // values its header gives and the place the sink gave its block. A message without lines is
  // a separator and one empty line, with an entry of its own. The lines are views that must stay
  // valid during the call.
  void Index(std::span<const std::string_view> lines) override;

 private:
  TclMailMessage& message_;
  const TAccounts& accounts_;
  platform::Clock& clock_;
  MessageSink& sink_;
  TCompactMessageList& entries_;
};

}  // namespace qv

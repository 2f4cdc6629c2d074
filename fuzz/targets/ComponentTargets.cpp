// The component stream reader: index bytes into the working index of the window (also as the
// repair reads it, its message list kept compactly), profile bytes into its profile, and any bytes
// through the class-free reader behind `qvrepair-cli dump`.
#include <memory>

#include "FuzzTargets.h"
#include "base/Errors.h"
#include "base/Stream.h"
#include "components/Component.h"
#include "components/ComponentStream.h"
#include "components/StreamTree.h"
#include "mailbox/CompactMessages.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "support/TestStreams.h"

namespace qv::fuzz {

namespace {

// The owner the repair program gives its index and profile: a top-level form named "Form1" with
// the working and scratch indexes and the profile.
struct Window {
  TComponentRegistry app;
  TComponent form{nullptr};
  TqvMailBox mailBox{&form};
  TqvProfile profile{&form};
  TqvMailBox scratch{&form};
  Window() {
    form.SetName("Form1");
    app.Add(form);
    mailBox.SetName("MailBox");
    profile.SetName("qvProfile");
    scratch.SetName("qvMailBox");
  }
};

std::string Write(TComponent& c, TItemSource* source = nullptr) {
  TMemoryStream out;
  WriteComponentStream(out, c, source);
  return out.TakeData();
}

// Keeps a message list compactly as it is read.
class CompactSink : public TItemSink {
 public:
  CompactSink(const TCollection& collection, TCompactMessageList& list)
      : collection_(collection), list_(list) {}
  const TCollection& Collection() const override { return collection_; }
  void Clear() override { list_.Clear(); }
  TCollectionItem& Begin() override {
    item_ = std::make_unique<TMailMessageItem>();
    return *item_;
  }
  void End(TCollectionItem& item) override { list_.Add(static_cast<TMailMessageItem&>(item)); }

 private:
  const TCollection& collection_;
  TCompactMessageList& list_;
  std::unique_ptr<TMailMessageItem> item_;
};

// The repair reads an index with its message list handed to a sink and writes it from a compact
// list: whatever the bytes, that must fail as reading into the items fails and write the same.
void CompareCompactPath(std::string_view input) {
  Window held, compact;
  std::string heldError, compactError;
  try {
    TViewStream in(input);
    ReadComponentStream(in, held.mailBox);
  } catch (const Exception& e) {
    heldError = e.what();
  }
  TCompactMessageList list;
  CompactSink sink(compact.mailBox.MailItems(), list);
  try {
    TViewStream in(input);
    ReadComponentStream(in, compact.mailBox, &sink);
  } catch (const Exception& e) {
    compactError = e.what();
  }
  Check(compactError == heldError, "a message list kept compactly is read differently");
  Check(compact.mailBox.MailItems().Count() == 0, "a message list handed to a sink was kept");
  TCompactItemSource source(compact.mailBox.MailItems(), list);
  Check(Write(compact.mailBox, &source) == Write(held.mailBox),
        "an index written from a compact message list differs");
}

// write(read(f)) is what the writer makes of what was read; reading that back must succeed, and
// the writer must reach a fixed point: the writer is canonical, so f itself need not come back.
// One rewrite may still change: an empty string read over a property whose constructor gives it
// a value is not written (strings are stored when not empty), so the next read keeps the
// constructor's value. That is how the stored files work; the second rewrite must equal the first
// rewrite's successor.
template <class Pick>
void ReadAndRewrite(std::string_view input, Pick pick) {
  std::string stored;
  {
    Window w;
    TViewStream in(input);
    try {
      ReadComponentStream(in, pick(w));
    } catch (const Exception&) {
      return;  // a rejected file is rejected with the reader's message
    }
    stored = Write(pick(w));
  }
  for (int pass = 0; pass < 2; ++pass) {
    Window w;
    TMemoryStream again(stored);
    try {
      ReadComponentStream(again, pick(w));
    } catch (const Exception& e) {
      Broken(std::string("the reader rejects what the writer made of an accepted file: ") +
             e.what());
    }
    Check(again.Position() == again.Size(), "the rewritten file was not read to its end");
    const std::string rewritten = Write(pick(w));
    if (pass == 1) Check(rewritten == stored, "write(read(f)) does not reach a fixed point");
    stored = rewritten;
  }
}

}  // namespace

void FuzzComponentMailbox(std::string_view input) {
  ReadAndRewrite(input, [](Window& w) -> TComponent& { return w.mailBox; });
  CompareCompactPath(input);
}

void FuzzComponentProfile(std::string_view input) {
  ReadAndRewrite(input, [](Window& w) -> TComponent& { return w.profile; });
}

void FuzzStreamTree(std::string_view input) {
  // Read as `dump` reads it: whatever was read is formatted, complete or not. A reader fed one
  // byte at a time must see the same.
  auto read = [](TStream& in, std::string& error) {
    std::string text;
    try {
      WriteStreamTree(in, [&text](std::string_view piece) { text += piece; });
    } catch (const Exception& e) {
      error = e.what();
    }
    return text;
  };
  std::string wholeError, trickleError;
  TViewStream whole(input);
  const std::string text = read(whole, wholeError);
  test::TrickleStream trickle{std::string(input)};
  Check(read(trickle, trickleError) == text, "one byte at a time the tree reads differently");
  Check(trickleError == wholeError, "one byte at a time the tree fails differently");
}

}  // namespace qv::fuzz

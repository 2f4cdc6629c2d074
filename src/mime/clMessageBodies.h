// TclMessageBodies: the parts of a message in order, which it owns; and the registry of body
// classes by which stored parts are made again.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "base/Errors.h"
#include "components/Component.h"
#include "components/Filer.h"

namespace qv {

// The failure of a broken internal precondition of this unit (a body or collection without owner).
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed() : Exception("Assertion failure") {}
};

class TclMailMessage;
class TclMessageBody;
class TclMessageBodies;

// A body class that can be found by name: its name and how to make a body of it in a collection.
struct TclBodyClass {
  const char* name;
  // Constructs a body of the class in owner; a missing owner fails with "Assertion failure".
  TclMessageBody& (*create)(TclMessageBodies* owner);
  bool (*isInstance)(const TclMessageBody& body);
};

// Adds a class to the registry (the four classes of this unit are there from the start, in the
// order TclTextBody, TclAttachmentBody, TclMultipartBody, TclImageBody).
void RegisterBodyClass(const TclBodyClass& cls);
const std::vector<const TclBodyClass*>& BodyClassList();
// The registered class of that name (compared without regard to case), or null.
const TclBodyClass* FindBodyClass(std::string_view name);

class TclMessageBodies : public TPersistent {
  QV_CLASS_INFO
 public:
  // A collection without message fails with "Assertion failure".
  explicit TclMessageBodies(TclMailMessage* message);
  ~TclMessageBodies() override;

  TclMailMessage& MailMessage() const noexcept { return *message_; }
  int Count() const noexcept { return static_cast<int>(bodies_.size()); }
  // The body at a position from 0; outside the range fails with "List index out of bounds (%d)".
  TclMessageBody& Items(int index) const;
  void Delete(int index);
  void Clear();
  int IndexOf(const TclMessageBody* body) const noexcept;

  // Clear, then one new body of the same class per source body, copied from it in order.
  void CopyFrom(const TPersistent* source) override;
  // As CopyFrom, but the source bodies give up their text and nested parts instead of copying
  // them; for a source that is discarded afterwards.
  void TakeFrom(TclMessageBodies& source);

  // The stored entry "Items": per body its class name and its fields, in a list.
  void DefineProperties(TFiler& filer) override;
  void WriteItems(TWriter& writer) const;
  // Clears, then reads the bodies; an unregistered class name fails with "Invalid property value".
  void ReadItems(TReader& reader);
  TPersistent* GetOwner() const override;

  // Constructs a body of class B in this collection (it appends itself).
  template <class B>
  B& Add();
  TclMessageBody& Add(const TclBodyClass& cls) { return cls.create(this); }

 private:
  friend class TclMessageBody;
  void AddBody(std::unique_ptr<TclMessageBody> body);
  void CopyBodies(TclMessageBodies& source, bool take);

  TclMailMessage* message_;
  std::vector<std::unique_ptr<TclMessageBody>> bodies_;
};

template <class B>
B& TclMessageBodies::Add() {
  std::unique_ptr<B> body(new B(*this));
  B& ref = *body;
  AddBody(std::move(body));
  ref.CreateMembers();
  ref.Clear();
  return ref;
}

}  // namespace qv

#include "components/ComponentStream.h"

#include <mutex>
#include <optional>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "components/Filer.h"

namespace qv {

namespace {

constexpr char kSignature[4] = {'T', 'P', 'F', '0'};

// --- writing --------------------------------------------------------------------------------

class TComponentWriter : public TWriter {
 public:
  TComponentWriter(TStream& stream, TComponent& root, TItemSource* source)
      : TWriter(stream), source_(source) {
    root_ = &root;
  }

  void WriteRoot() {
    Write(kSignature, sizeof kSignature);
    WriteStr(root_->ClassName());
    WriteStr(root_->Name());
    WriteProperties(*root_);
    WriteListEnd();  // end of properties
    WriteListEnd();  // end of children: these classes own none that are stored
    FlushBuffer();
  }

 private:
  void WriteProperties(TPersistent& obj) {
    for (const TPropInfo& p : obj.ClassInfo().Properties())
      WriteProperty(obj, p);
    obj.DefineProperties(*this);
  }

  void WriteProperty(TPersistent& obj, const TPropInfo& p) {
    if (!p.Readable() || !p.Writable() || !p.stored) return;
    switch (p.kind) {
      case TPropKind::Integer:
      case TPropKind::Char:
      case TPropKind::Enumeration:
      case TPropKind::Set: {
        const std::int64_t v = p.getOrd(obj);
        if (p.defaultValue && *p.defaultValue == v) return;
        WritePropName(p.name);
        WriteOrdinal(p, v);
        return;
      }
      case TPropKind::Int64: {
        const std::int64_t v = p.getOrd(obj);
        if (v == 0) return;
        WritePropName(p.name);
        WriteInteger(v);
        return;
      }
      case TPropKind::Float: {
        const double v = p.getFloat(obj);
        if (v == 0) return;
        WritePropName(p.name);
        WriteFloat(v);
        return;
      }
      case TPropKind::String: {
        const std::string v = p.getStr(obj);
        if (v.empty()) return;
        WritePropName(p.name);
        WriteString(v);
        return;
      }
      case TPropKind::Event: {
        const TMethod m = p.getEvent(obj);
        if (!m.Assigned() || m.data != root_ || !root_->HasMethod(m.name)) return;
        WritePropName(p.name);
        WriteIdent(m.name);
        return;
      }
      case TPropKind::Object:
        WriteObjectProperty(obj, p);
        return;
    }
  }

  void WriteOrdinal(const TPropInfo& p, std::int64_t v) {
    switch (p.kind) {
      case TPropKind::Integer:
        if (const char* ident = IdentOfValue(p.identMap, v)) {
          WriteIdent(ident);
        } else {
          WriteInteger(v);
        }
        return;
      case TPropKind::Char:
        WriteChar(static_cast<char>(v));
        return;
      case TPropKind::Enumeration:
        if (v >= 0 && static_cast<std::size_t>(v) < p.enumInfo->names.size()) {
          WriteIdent(p.enumInfo->names[static_cast<std::size_t>(v)]);
        } else {
          WriteInteger(v);  // a value outside the type has no identifier
        }
        return;
      case TPropKind::Set: {
        WriteValue(TValueType::Set);
        const auto bits = static_cast<std::uint32_t>(v);
        for (std::size_t i = 0; i < p.enumInfo->names.size() && i < 32; ++i)
          if (bits & (std::uint32_t{1} << i)) WriteStr(p.enumInfo->names[i]);
        WriteStr("");
        return;
      }
      default:
        return;
    }
  }

  // The name under which a referenced component is stored, or empty when it cannot be named.
  std::string ReferenceName(const TComponent* c) const {
    if (c->Owner() == root_) return c->Name();
    if (c == root_) return "Owner";
    if (c->Name().empty()) return {};
    if (const TComponent* owner = c->Owner()) {
      const std::string ownerName = owner->Owner() == root_ ? ReferenceName(owner) : owner->Name();
      if (ownerName.empty()) return {};
      return ownerName + "." + c->Name();
    }
    return c->Name() + ".Owner";
  }

  void WriteObjectProperty(TPersistent& obj, const TPropInfo& p) {
    TPersistent* value = p.getObj(obj);
    if (!value) return;
    if (const auto* component = dynamic_cast<const TComponent*>(value)) {
      const std::string ref = ReferenceName(component);
      if (ref.empty()) return;
      WritePropName(p.name);
      WriteValue(TValueType::Ident);
      WriteStr(ref);
      return;
    }
    const std::string saved = prefix_;
    prefix_ += p.name;
    prefix_ += '.';
    WriteProperties(*value);
    prefix_ = saved;
    if (auto* collection = dynamic_cast<TCollection*>(value)) {
      WritePropName(p.name);
      WriteCollection(*collection);
    }
  }

  void WriteCollection(TCollection& collection) {
    WriteValue(TValueType::Collection);
    const std::string saved = prefix_;
    prefix_.clear();
    if (source_ && &source_->Collection() == &collection) {
      for (std::size_t i = 0; i < source_->Count(); ++i)
        WriteItem(source_->Item(i));
    } else {
      for (int i = 0; i < collection.Count(); ++i)
        WriteItem(collection.ItemAt(i));
    }
    prefix_ = saved;
    WriteListEnd();
  }

  void WriteItem(TCollectionItem& item) {
    WriteListBegin();
    WriteProperties(item);
    WriteListEnd();
  }

  TItemSource* source_;
};

// --- reading --------------------------------------------------------------------------------

class TComponentReader : public TReader {
 public:
  TComponentReader(TStream& stream, TComponent& root, TItemSink* sink)
      : TReader(stream), sink_(sink) {
    root_ = &root;
  }

  void ReadRoot() {
    char sig[4];
    Read(sig, sizeof sig);
    if (std::string_view(sig, 4) != std::string_view(kSignature, 4))
      throw EReadError(kInvalidStreamFormat);

    TComponentRegistry* registry = root_->Registry();
    std::optional<std::unique_lock<std::shared_mutex>> lock;
    if (registry) lock.emplace(registry->NameSpaceLock());

    // The loading and reading marks never outlive the read, whatever happens.
    struct StateGuard {
      TComponent* c;
      bool done = false;
      ~StateGuard() {
        if (!done) c->ClearStateFlags(csLoading | csReading);
      }
    } guard{root_};

    ReadPrefix();
    ReadStr();  // the stored class name: properties are those of the existing root's class
    root_->SetStateFlags(csLoading | csReading);
    std::string name = ReadStr();
    if (registry) name = registry->UniqueName(name);
    root_->SetName(name);

    while (!EndOfList())
      ReadProperty(*root_);
    ReadByte();
    while (!EndOfList()) {
      // Index and profile files hold no child components; no class is registered to make one.
      ReadPrefix();
      throw EReadError(FormatMessage(kClassNotFound, {ReadStr()}));
    }
    ReadByte();

    ResolveFixups(registry);
    root_->ClearStateFlags(csReading);
    root_->Loaded();
    guard.done = true;
    if (registry) {
      lock.reset();
      registry->RetryGlobalFixups();
    }
  }

 private:
  struct Fixup {
    TPersistent* instance;
    const TPropInfo* prop;
    std::string name;
  };

  void ReadPrefix() {
    if ((PeekByte() & 0xF0) != 0xF0) return;
    const std::uint8_t flags = ReadByte() & 0x0F;
    if (flags & 0x02) ReadInteger();  // child position: meaningless for a root
  }

  void ResolveFixups(TComponentRegistry* registry) {
    for (auto& f : fixups_) {
      TComponent* target = FindNestedComponent(root_, f.name);
      if (target) {
        f.prop->setObj(*f.instance, target);
      } else if (f.name.find('.') == std::string::npos) {
        f.prop->setObj(*f.instance, nullptr);
      } else if (registry) {
        registry->AddGlobalFixup({f.instance->LifeToken(), f.instance, f.prop, f.name});
      }
    }
    fixups_.clear();
  }

  static std::string InstanceName(const TPersistent& obj) {
    if (const auto* c = dynamic_cast<const TComponent*>(&obj))
      if (!c->Name().empty()) return c->Name();
    return obj.ClassName();
  }

  void ReadProperty(TPersistent& instance) {
    const std::string name = ReadStr();
    try {
      TPersistent* obj = &instance;
      std::string_view rest = name;
      std::size_t dot;
      while ((dot = rest.find('.')) != std::string_view::npos) {
        const std::string part(rest.substr(0, dot));
        rest = rest.substr(dot + 1);
        const TPropInfo* p = obj->ClassInfo().FindProperty(part);
        if (!p) {
          SkipValue();
          throw EReadError(FormatMessage(kUnknownProperty, {part}));
        }
        TPersistent* sub = p->kind == TPropKind::Object && p->getObj ? p->getObj(*obj) : nullptr;
        if (!sub) {
          SkipValue();
          throw EReadError(kInvalidPropertyPath);
        }
        obj = sub;
      }
      const std::string last(rest);
      if (const TPropInfo* p = obj->ClassInfo().FindProperty(last)) {
        if (!p->Writable()) throw EReadError(kReadOnlyProperty);
        ReadPropValue(*obj, *p);
      } else {
        propName_ = last;
        obj->DefineProperties(*this);
        if (!propName_.empty()) {
          propName_.clear();
          SkipValue();
          throw EReadError(FormatMessage(kUnknownProperty, {last}));
        }
      }
    } catch (const Exception& e) {
      propName_.clear();
      throw EReadError(
          FormatMessage(kPropertyException, {InstanceName(instance), ".", name, e.Message()}));
    }
  }

  void ReadPropValue(TPersistent& obj, const TPropInfo& p) {
    TPropertyValue value(*this, obj, p);
    ReadValueWith(value);
  }

  // What a property makes of a stored value: the kinds of value each kind of property takes, and
  // how it is set from them.
  class TPropertyValue final : public TValueVisitor {
   public:
    TPropertyValue(TComponentReader& reader, TPersistent& obj, const TPropInfo& p)
        : reader_(reader), obj_(obj), p_(p) {}

    bool Accepts(TValueType t) override {
      switch (p_.kind) {
        case TPropKind::Integer:
          return IsShortInteger(t) || (t == TValueType::Ident && !p_.identMap.empty());
        case TPropKind::Char:
        case TPropKind::String:
          return IsTextValue(t);
        case TPropKind::Enumeration:
          return t == TValueType::Ident || t == TValueType::False || t == TValueType::True ||
                 t == TValueType::Nil || t == TValueType::Null;
        case TPropKind::Set:
          return t == TValueType::Set;
        case TPropKind::Float:
          return IsInteger(t) || t == TValueType::Extended || t == TValueType::Double;
        case TPropKind::Int64:
          return IsInteger(t);
        case TPropKind::Object:
          return AcceptsObject(t);
        case TPropKind::Event:
          return t == TValueType::Nil || t == TValueType::Ident;
      }
      return false;
    }

    void Ident(TValueType t, std::string name) override {
      switch (p_.kind) {
        case TPropKind::Integer: {
          const auto found = ValueOfIdent(p_.identMap, name);
          if (!found) ThrowInvalidPropertyValue();
          return p_.setOrd(obj_, ClampToWidth(*found, p_.width));
        }
        case TPropKind::Enumeration: {
          const int v = p_.enumInfo->IndexOf(name);
          if (v < 0) ThrowInvalidPropertyValue();
          return p_.setOrd(obj_, v);
        }
        case TPropKind::Object:
          if (t == TValueType::Nil) return p_.setObj(obj_, nullptr);
          reader_.fixups_.push_back({&obj_, &p_, std::move(name)});
          return;
        default:  // an event
          if (t == TValueType::Nil) return p_.setEvent(obj_, {});
          if (!reader_.root_->HasMethod(name)) ThrowInvalidPropertyValue();
          return p_.setEvent(obj_, {reader_.root_, std::move(name)});
      }
    }

    void Integer(TValueType, std::int64_t v) override {
      if (p_.kind == TPropKind::Float) return p_.setFloat(obj_, static_cast<double>(v));
      p_.setOrd(obj_, p_.kind == TPropKind::Integer ? ClampToWidth(v, p_.width) : v);
    }

    void Real(TValueType, double v) override { p_.setFloat(obj_, v); }

    void Text(TValueType t, std::string bytes) override {
      std::string s = TextToAnsi(t, std::move(bytes));
      if (p_.kind == TPropKind::String) return p_.setStr(obj_, std::move(s));
      if (s.size() > 1) ThrowInvalidPropertyValue();
      p_.setOrd(obj_, s.empty() ? 0 : static_cast<std::uint8_t>(s[0]));
    }

    // Members that are not of the set's enumeration fail once the whole set is read.
    void Set(std::vector<std::string> members) override {
      std::uint32_t bits = 0;
      bool bad = false;
      for (const std::string& m : members) {
        const int i = p_.enumInfo->IndexOf(m);
        if (i < 0 || i >= 32)
          bad = true;
        else
          bits |= std::uint32_t{1} << i;
      }
      if (bad) ThrowInvalidPropertyValue();
      p_.setOrd(obj_, bits);
    }

    void Collection(TReader&) override { reader_.ReadCollection(*collection_); }

   private:
    bool AcceptsObject(TValueType t) {
      if (t == TValueType::Collection) {
        collection_ = dynamic_cast<TCollection*>(p_.getObj(obj_));
        return collection_ != nullptr;
      }
      return t == TValueType::Nil ||
             (t == TValueType::Ident && p_.objectRole == TObjectRole::Reference);
    }

    TComponentReader& reader_;
    TPersistent& obj_;
    const TPropInfo& p_;
    TCollection* collection_ = nullptr;
  };

  void ReadCollection(TCollection& collection) {
    struct UpdateGuard {
      TCollection& c;
      ~UpdateGuard() { c.EndUpdate(); }
    };
    collection.BeginUpdate();
    UpdateGuard guard{collection};
    TItemSink* sink = sink_ && &sink_->Collection() == &collection ? sink_ : nullptr;
    if (!EndOfList()) {
      collection.Clear();
      if (sink) sink->Clear();
    }
    while (!EndOfList()) {
      if (IsShortInteger(NextValue())) ReadInteger();  // a stored item number is not used
      if (!sink) {
        ReadItem(collection.Add());
        continue;
      }
      TCollectionItem& item = sink->Begin();
      try {
        ReadItem(item);
      } catch (...) {
        sink->End(item);
        throw;
      }
      sink->End(item);
    }
  }

  void ReadItem(TCollectionItem& item) {
    if (ReadValue() != TValueType::List) ThrowInvalidPropertyValue();
    while (!EndOfList())
      ReadProperty(item);
    ReadByte();
  }

  std::vector<Fixup> fixups_;
  TItemSink* sink_;
};

}  // namespace

void WriteComponentStream(TStream& stream, TComponent& root, TItemSource* source) {
  TComponentWriter writer(stream, root, source);
  writer.WriteRoot();
}

TComponent& ReadComponentStream(TStream& stream, TComponent& root, TItemSink* sink) {
  TComponentReader reader(stream, root, sink);
  reader.ReadRoot();
  return root;
}

}  // namespace qv

// The value layer of component streams: TWriter turns values into tagged bytes, TReader reads them
// back. Both buffer the underlying stream in blocks of 4096 bytes. Classes that store extra entries
// (DefineProperties) use these directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"
#include "components/Extended.h"

namespace qv {

class TComponent;
class TReader;
class TWriter;

// The tag byte in front of every value.
enum class TValueType : std::uint8_t {
  Null = 0x00,  // end of a list; also the identifier "Null"
  List = 0x01,
  Int8 = 0x02,
  Int16 = 0x03,
  Int32 = 0x04,
  Extended = 0x05,
  String = 0x06,
  Ident = 0x07,
  False = 0x08,
  True = 0x09,
  Binary = 0x0A,
  Set = 0x0B,
  LString = 0x0C,
  Nil = 0x0D,
  Collection = 0x0E,
  Single = 0x0F,
  Currency = 0x10,
  Date = 0x11,
  WString = 0x12,
  Int64 = 0x13,
  Utf8String = 0x14,
  Double = 0x15,
};
constexpr std::uint8_t kMaxValueType = 0x15;

// Message texts of the component stream.
inline constexpr const char* kInvalidStreamFormat = "Invalid stream format";
inline constexpr const char* kInvalidPropertyValue = "Invalid property value";
inline constexpr const char* kUnknownProperty = "Property %s does not exist";
inline constexpr const char* kInvalidPropertyPath = "Invalid property path";
inline constexpr const char* kReadOnlyProperty = "Property is read-only";
inline constexpr const char* kPropertyException = "Error reading %s%s%s: %s";
inline constexpr const char* kInvalidName = "''%s'' is not a valid component name";
inline constexpr const char* kDuplicateName = "A component named %s already exists";
inline constexpr const char* kClassNotFound = "Class %s not found";

// Lists and collections nest at most this deep; deeper input is rejected as malformed.
inline constexpr int kMaxNesting = 64;

// A stored value as TReader::ReadValueWith hands it out: one call per value, once the bytes after
// its tag are read. This is the one place that knows what follows each tag. The visitor itself
// takes every value and keeps nothing: reading with it skips a value.
class TValueVisitor {
 public:
  virtual ~TValueVisitor() = default;
  // Whether a value with this tag is taken; one that is not fails with "Invalid property value"
  // right after its tag.
  virtual bool Accepts(TValueType type) { return type <= TValueType{kMaxValueType}; }
  // Null, False, True and Nil ("Null", "False", "True", "nil"), and identifiers.
  virtual void Ident(TValueType, std::string) {}
  // Int8, Int16, Int32, Int64, and Currency (in ten-thousandths).
  virtual void Integer(TValueType, std::int64_t) {}
  // Extended, Single, Double and Date.
  virtual void Real(TValueType, double) {}
  // String, LString, Utf8String and Binary: the bytes as stored; WString: its UTF-16 code units as
  // stored, two bytes each, low byte first.
  virtual void Text(TValueType, std::string) {}
  // Set: the names of its members.
  virtual void Set(std::vector<std::string>) {}
  // List and Collection: called once the tag is read and one more level of nesting is entered, to
  // read the elements (for a collection, its items) up to the end marker, which the reader takes
  // afterwards.
  virtual void List(TReader& reader);
  virtual void Collection(TReader& reader);
};

// A value of one of the four string kinds (String, LString, WString, Utf8String) as stored, in the
// ANSI code page; and the code units of a WString's bytes.
std::string TextToAnsi(TValueType type, std::string bytes);
std::u16string Utf16FromBytes(std::string_view bytes);
constexpr bool IsTextValue(TValueType t) noexcept {
  return t == TValueType::String || t == TValueType::LString || t == TValueType::WString ||
         t == TValueType::Utf8String;
}
// The integer kinds an item number is stored as.
constexpr bool IsShortInteger(TValueType t) noexcept {
  return t == TValueType::Int8 || t == TValueType::Int16 || t == TValueType::Int32;
}
constexpr bool IsInteger(TValueType t) noexcept {
  return IsShortInteger(t) || t == TValueType::Int64;
}

// What DefineProperties talks to: the writer or the reader of the current pass.
class TFiler {
 public:
  using ReadProc = std::function<void(TReader&)>;
  using WriteProc = std::function<void(TWriter&)>;
  using StreamProc = std::function<void(TStream&)>;

  virtual ~TFiler() = default;
  // An entry written with its own values: `write` runs when hasData holds; `read` runs when an
  // entry of that name is read.
  virtual void DefineProperty(std::string_view name, const ReadProc& read, const WriteProc& write,
                              bool hasData) = 0;
  // An entry held as binary data (tag 0x0A, a 4-byte length, the bytes).
  virtual void DefineBinaryProperty(std::string_view name, const StreamProc& read,
                                    const StreamProc& write, bool hasData) = 0;
  // The root component of the pass.
  TComponent* Root() const noexcept { return root_; }

 protected:
  TComponent* root_ = nullptr;
};

class TWriter : public TFiler {
 public:
  explicit TWriter(TStream& stream) : stream_(stream) {}
  // Hands the buffered bytes to the stream; a short write fails with "Stream write error".
  void FlushBuffer();

  void Write(const void* data, std::size_t n);
  void WriteValue(TValueType t) { WriteByte(static_cast<std::uint8_t>(t)); }
  void WriteByte(std::uint8_t b);
  // A short string: one length byte, then at most 255 bytes (longer text is cut).
  void WriteStr(std::string_view s);

  // The values of the format.
  void WriteInteger(std::int64_t v);  // smallest of 0x02/0x03/0x04, else 0x13
  void WriteBoolean(bool v) { WriteValue(v ? TValueType::True : TValueType::False); }
  // False, True, Null and nil have tags of their own (compared without regard to case).
  void WriteIdent(std::string_view ident);
  void WriteFloat(double v);  // 0x05 + 80-bit extended
  void WriteString(std::string_view ansi);
  void WriteChar(char c);
  void WriteListBegin() { WriteValue(TValueType::List); }
  void WriteListEnd() { WriteValue(TValueType::Null); }
  void WriteBinary(std::string_view bytes);

  void DefineProperty(std::string_view name, const ReadProc& read, const WriteProc& write,
                      bool hasData) override;
  void DefineBinaryProperty(std::string_view name, const StreamProc& read, const StreamProc& write,
                            bool hasData) override;

 protected:
  // Writes the current path prefix and a name as one short string.
  void WritePropName(std::string_view name);
  std::string prefix_;

 private:
  TStream& stream_;
  char buf_[4096];
  std::size_t len_ = 0;
};

class TReader : public TFiler {
 public:
  explicit TReader(TStream& stream) : stream_(stream) {}
  // Sets the stream back to just after the last byte consumed.
  ~TReader() override;

  // Raw input; reading beyond the end fails with "Stream read error" (EReadError).
  void Read(void* data, std::size_t n);
  std::uint8_t ReadByte();
  std::uint8_t PeekByte();
  // Bytes left: buffered plus what the stream still holds.
  std::uint64_t Remaining();
  // n bytes as a string; n beyond what the stream still holds fails before anything is allocated.
  std::string ReadBytes(std::uint64_t n);

  TValueType ReadValue();
  TValueType NextValue() { return static_cast<TValueType>(PeekByte()); }
  std::string ReadStr();  // short string

  // The values of the format; a value of another kind fails with "Invalid property value".
  std::int64_t ReadInteger();  // 0x02, 0x03, 0x04
  std::int64_t ReadInt64();    // 0x13 as well
  bool ReadBoolean();
  // 0x07, and the identifiers with tags of their own: False, True, nil, Null.
  std::string ReadIdent();
  double ReadFloat();        // 0x05, 0x15 and every integer form
  std::string ReadString();  // 0x06, 0x0C as they stand; 0x12, 0x14 converted to ANSI
  std::string ReadBinary();  // 0x0A
  void ReadListBegin();      // 0x01
  void ReadListEnd();        // 0x00
  bool EndOfList() { return PeekByte() == 0; }
  TExtended80 ReadExtendedBytes();

  // Reads one value, tag first, and hands it to the visitor.
  void ReadValueWith(TValueVisitor& visitor);
  void SkipValue();
  void SkipProperty();  // a name and its value

  void DefineProperty(std::string_view name, const ReadProc& read, const WriteProc& write,
                      bool hasData) override;
  void DefineBinaryProperty(std::string_view name, const StreamProc& read, const StreamProc& write,
                            bool hasData) override;

  // Nesting of lists, collections and records; deeper than kMaxNesting is rejected.
  void EnterNesting();
  void LeaveNesting() noexcept { --depth_; }

 protected:
  // The last part of the entry being looked up among the extra definitions; cleared when one
  // takes it.
  std::string propName_;

 private:
  void Fill();
  std::string ReadLongData(std::uint64_t count, unsigned unit);

  TStream& stream_;
  char buf_[4096];
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  int depth_ = 0;
};

[[noreturn]] void ThrowInvalidPropertyValue();

}  // namespace qv

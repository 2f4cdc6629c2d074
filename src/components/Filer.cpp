#include "components/Filer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace qv {

void ThrowInvalidPropertyValue() {
  throw EReadError(kInvalidPropertyValue);
}

// --- writer ---------------------------------------------------------------------------------

void TWriter::FlushBuffer() {
  if (len_ == 0) return;
  const std::size_t n = len_;
  len_ = 0;
  stream_.WriteBuffer(buf_, n);
}

void TWriter::Write(const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    if (len_ == sizeof buf_) FlushBuffer();
    const std::size_t k = std::min(n, sizeof buf_ - len_);
    std::memcpy(buf_ + len_, p, k);
    len_ += k;
    p += k;
    n -= k;
  }
}

void TWriter::WriteByte(std::uint8_t b) {
  Write(&b, 1);
}

void TWriter::WriteStr(std::string_view s) {
  if (s.size() > 255) s = s.substr(0, 255);
  WriteByte(static_cast<std::uint8_t>(s.size()));
  Write(s.data(), s.size());
}

namespace {
template <class T>
void PutLE(TWriter& w, T v) {
  std::uint8_t b[sizeof(T)];
  auto u = static_cast<std::make_unsigned_t<T>>(v);
  for (std::size_t i = 0; i < sizeof(T); ++i)
    b[i] = static_cast<std::uint8_t>(u >> (8 * i));
  w.Write(b, sizeof b);
}
}  // namespace

void TWriter::WriteInteger(std::int64_t v) {
  if (v >= -128 && v <= 127) {
    WriteValue(TValueType::Int8);
    PutLE(*this, static_cast<std::int8_t>(v));
  } else if (v >= -32768 && v <= 32767) {
    WriteValue(TValueType::Int16);
    PutLE(*this, static_cast<std::int16_t>(v));
  } else if (v >= INT32_MIN && v <= INT32_MAX) {
    WriteValue(TValueType::Int32);
    PutLE(*this, static_cast<std::int32_t>(v));
  } else {
    WriteValue(TValueType::Int64);
    PutLE(*this, v);
  }
}

void TWriter::WriteIdent(std::string_view ident) {
  if (SameText(ident, "False")) {
    WriteValue(TValueType::False);
  } else if (SameText(ident, "True")) {
    WriteValue(TValueType::True);
  } else if (SameText(ident, "Null")) {
    WriteValue(TValueType::Null);
  } else if (SameText(ident, "nil")) {
    WriteValue(TValueType::Nil);
  } else {
    WriteValue(TValueType::Ident);
    WriteStr(ident);
  }
}

void TWriter::WriteFloat(double v) {
  WriteValue(TValueType::Extended);
  const TExtended80 x = DoubleToExtended(v);
  Write(x.data(), x.size());
}

void TWriter::WriteString(std::string_view ansi) {
  const std::u16string wide = platform::AnsiToUtf16(ansi);
  const std::string utf8 = platform::Utf16ToUtf8(wide);
  if (utf8.size() >= 2 * wide.size() && !wide.empty()) {
    WriteValue(TValueType::WString);
    PutLE(*this, static_cast<std::uint32_t>(wide.size()));
    for (char16_t c : wide)
      PutLE(*this, static_cast<std::uint16_t>(c));
    return;
  }
  if (platform::Utf16ToAnsi(wide) != utf8) {
    WriteValue(TValueType::Utf8String);
    PutLE(*this, static_cast<std::uint32_t>(utf8.size()));
    Write(utf8.data(), utf8.size());
    return;
  }
  if (ansi.size() <= 255) {
    WriteValue(TValueType::String);
    WriteByte(static_cast<std::uint8_t>(ansi.size()));
  } else {
    WriteValue(TValueType::LString);
    PutLE(*this, static_cast<std::uint32_t>(ansi.size()));
  }
  Write(ansi.data(), ansi.size());
}

void TWriter::WriteChar(char c) {
  if (static_cast<unsigned char>(c) < 0x80) {
    WriteValue(TValueType::String);
    WriteByte(1);
    WriteByte(static_cast<std::uint8_t>(c));
  } else {
    const std::string utf8 = platform::AnsiToUtf8(std::string_view(&c, 1));
    WriteValue(TValueType::Utf8String);
    PutLE(*this, static_cast<std::uint32_t>(utf8.size()));
    Write(utf8.data(), utf8.size());
  }
}

void TWriter::WriteBinary(std::string_view bytes) {
  WriteValue(TValueType::Binary);
  PutLE(*this, static_cast<std::uint32_t>(bytes.size()));
  Write(bytes.data(), bytes.size());
}

void TWriter::WritePropName(std::string_view name) {
  std::string full = prefix_;
  full += name;
  WriteStr(full);
}

void TWriter::DefineProperty(std::string_view name, const ReadProc&, const WriteProc& write,
                             bool hasData) {
  if (!hasData || !write) return;
  WritePropName(name);
  write(*this);
}

void TWriter::DefineBinaryProperty(std::string_view name, const StreamProc&,
                                   const StreamProc& write, bool hasData) {
  if (!hasData || !write) return;
  WritePropName(name);
  TMemoryStream data;
  write(data);
  WriteBinary(data.DataString());
}

// --- reader ---------------------------------------------------------------------------------

TReader::~TReader() {
  if (end_ > pos_) {
    try {
      stream_.Seek(-static_cast<std::int64_t>(end_ - pos_), SeekOrigin::Current);
    } catch (...) {
      // The position cannot be restored; the read itself is over either way.
    }
  }
}

void TReader::Fill() {
  pos_ = 0;
  end_ = stream_.Read(buf_, sizeof buf_);
  if (end_ == 0) throw EReadError(kStreamReadError);
}

void TReader::Read(void* data, std::size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    if (pos_ == end_) Fill();
    const std::size_t k = std::min(n, end_ - pos_);
    std::memcpy(p, buf_ + pos_, k);
    pos_ += k;
    p += k;
    n -= k;
  }
}

std::uint8_t TReader::ReadByte() {
  if (pos_ == end_) Fill();
  return static_cast<std::uint8_t>(buf_[pos_++]);
}

std::uint8_t TReader::PeekByte() {
  if (pos_ == end_) Fill();
  return static_cast<std::uint8_t>(buf_[pos_]);
}

std::uint64_t TReader::Remaining() {
  const std::int64_t pos = stream_.Position();
  const std::int64_t size = stream_.Size();
  const std::uint64_t rest = size > pos ? static_cast<std::uint64_t>(size - pos) : 0;
  return rest + (end_ - pos_);
}

std::string TReader::ReadBytes(std::uint64_t n) {
  if (n == 0) return {};
  // A length field must not drive an allocation beyond what the stream still holds.
  if (n > end_ - pos_ && n > Remaining()) throw EReadError(kStreamReadError);
  std::string s(static_cast<std::size_t>(n), '\0');
  Read(s.data(), s.size());
  return s;
}

namespace {
template <class T>
T GetLE(TReader& r) {
  std::uint8_t b[sizeof(T)];
  r.Read(b, sizeof b);
  std::make_unsigned_t<T> u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    u = static_cast<decltype(u)>(u | (static_cast<decltype(u)>(b[i]) << (8 * i)));
  return static_cast<T>(u);
}
}  // namespace

TValueType TReader::ReadValue() {
  return static_cast<TValueType>(ReadByte());
}

std::string TReader::ReadStr() {
  const std::uint8_t n = ReadByte();
  std::string s(n, '\0');
  Read(s.data(), n);
  return s;
}

std::int64_t TReader::ReadInteger() {
  switch (ReadValue()) {
    case TValueType::Int8:
      return GetLE<std::int8_t>(*this);
    case TValueType::Int16:
      return GetLE<std::int16_t>(*this);
    case TValueType::Int32:
      return GetLE<std::int32_t>(*this);
    default:
      ThrowInvalidPropertyValue();
  }
}

std::int64_t TReader::ReadInt64() {
  if (NextValue() == TValueType::Int64) {
    ReadValue();
    return GetLE<std::int64_t>(*this);
  }
  return ReadInteger();
}

bool TReader::ReadBoolean() {
  const TValueType t = ReadValue();
  if (t == TValueType::True) return true;
  if (t == TValueType::False) return false;
  ThrowInvalidPropertyValue();
}

namespace {
// The identifiers that have tags of their own; null for every other tag.
const char* TagIdent(TValueType t) noexcept {
  switch (t) {
    case TValueType::False:
      return "False";
    case TValueType::True:
      return "True";
    case TValueType::Nil:
      return "nil";
    case TValueType::Null:
      return "Null";
    default:
      return nullptr;
  }
}
}  // namespace

std::string TReader::ReadIdent() {
  const TValueType t = ReadValue();
  if (t == TValueType::Ident) return ReadStr();
  if (const char* ident = TagIdent(t)) return ident;
  ThrowInvalidPropertyValue();
}

TExtended80 TReader::ReadExtendedBytes() {
  TExtended80 x;
  Read(x.data(), x.size());
  return x;
}

double TReader::ReadFloat() {
  switch (NextValue()) {
    case TValueType::Extended:
      ReadValue();
      return ExtendedToDouble(ReadExtendedBytes());
    case TValueType::Double: {
      ReadValue();
      const auto bits = GetLE<std::uint64_t>(*this);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case TValueType::Int8:
    case TValueType::Int16:
    case TValueType::Int32:
    case TValueType::Int64:
      return static_cast<double>(ReadInt64());
    default:
      ReadValue();
      ThrowInvalidPropertyValue();
  }
}

std::string TReader::ReadLongData(std::uint64_t count, unsigned unit) {
  return ReadBytes(count * unit);
}

std::u16string Utf16FromBytes(std::string_view bytes) {
  std::u16string wide(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                    (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
  return wide;
}

std::string TextToAnsi(TValueType type, std::string bytes) {
  if (type == TValueType::WString) return platform::Utf16ToAnsi(Utf16FromBytes(bytes));
  if (type == TValueType::Utf8String) return platform::Utf8ToAnsi(bytes);
  return bytes;
}

std::string TReader::ReadString() {
  switch (const TValueType t = ReadValue()) {
    case TValueType::String:
      return ReadStr();
    case TValueType::LString:
    case TValueType::Utf8String:
      return TextToAnsi(t, ReadLongData(GetLE<std::uint32_t>(*this), 1));
    case TValueType::WString:
      return TextToAnsi(t, ReadLongData(GetLE<std::uint32_t>(*this), 2));
    default:
      ThrowInvalidPropertyValue();
  }
}

std::string TReader::ReadBinary() {
  if (ReadValue() != TValueType::Binary) ThrowInvalidPropertyValue();
  return ReadLongData(GetLE<std::uint32_t>(*this), 1);
}

void TReader::EnterNesting() {
  if (++depth_ > kMaxNesting) throw EReadError(kInvalidStreamFormat);
}

void TReader::ReadListBegin() {
  if (ReadValue() != TValueType::List) ThrowInvalidPropertyValue();
  EnterNesting();
}

void TReader::ReadListEnd() {
  if (ReadValue() != TValueType::Null) ThrowInvalidPropertyValue();
  if (depth_ > 0) --depth_;
}

void TReader::SkipProperty() {
  ReadStr();
  SkipValue();
}

void TReader::SkipValue() {
  TValueVisitor skip;
  ReadValueWith(skip);
}

void TValueVisitor::List(TReader& reader) {
  while (!reader.EndOfList())
    reader.SkipValue();
}

void TValueVisitor::Collection(TReader& reader) {
  while (!reader.EndOfList()) {
    if (IsShortInteger(reader.NextValue())) reader.SkipValue();
    if (reader.ReadValue() != TValueType::List) ThrowInvalidPropertyValue();
    while (!reader.EndOfList())
      reader.SkipProperty();
    reader.ReadByte();
  }
}

namespace {

// The bytes after the tag of a value that is not a list or a collection.
void ReadScalar(TReader& r, TValueType t, TValueVisitor& v) {
  switch (t) {
    case TValueType::Int8:
      return v.Integer(t, GetLE<std::int8_t>(r));
    case TValueType::Int16:
      return v.Integer(t, GetLE<std::int16_t>(r));
    case TValueType::Int32:
      return v.Integer(t, GetLE<std::int32_t>(r));
    case TValueType::Int64:
    case TValueType::Currency:
      return v.Integer(t, GetLE<std::int64_t>(r));
    case TValueType::Extended:
      return v.Real(t, ExtendedToDouble(r.ReadExtendedBytes()));
    case TValueType::Single:
      return v.Real(t, std::bit_cast<float>(GetLE<std::uint32_t>(r)));
    case TValueType::Double:
    case TValueType::Date:
      return v.Real(t, std::bit_cast<double>(GetLE<std::uint64_t>(r)));
    case TValueType::String:
      return v.Text(t, r.ReadStr());
    case TValueType::LString:
    case TValueType::Utf8String:
    case TValueType::Binary:
      return v.Text(t, r.ReadBytes(GetLE<std::uint32_t>(r)));
    case TValueType::WString:
      return v.Text(t, r.ReadBytes(std::uint64_t{GetLE<std::uint32_t>(r)} * 2));
    case TValueType::Set: {
      std::vector<std::string> members;
      for (std::string m; !(m = r.ReadStr()).empty();)
        members.push_back(std::move(m));
      return v.Set(std::move(members));
    }
    default:
      ThrowInvalidPropertyValue();
  }
}

}  // namespace

void TReader::ReadValueWith(TValueVisitor& v) {
  const TValueType t = ReadValue();
  if (!v.Accepts(t)) ThrowInvalidPropertyValue();
  switch (t) {
    case TValueType::Null:
    case TValueType::False:
    case TValueType::True:
    case TValueType::Nil:
      return v.Ident(t, TagIdent(t));
    case TValueType::Ident:
      return v.Ident(t, ReadStr());
    case TValueType::List:
    case TValueType::Collection:
      EnterNesting();
      if (t == TValueType::List)
        v.List(*this);
      else
        v.Collection(*this);
      ReadByte();
      LeaveNesting();
      return;
    default:
      ReadScalar(*this, t, v);
  }
}

void TReader::DefineProperty(std::string_view name, const ReadProc& read, const WriteProc&, bool) {
  if (propName_.empty() || !read || !SameText(name, propName_)) return;
  propName_.clear();
  read(*this);
}

void TReader::DefineBinaryProperty(std::string_view name, const StreamProc& read, const StreamProc&,
                                   bool) {
  if (propName_.empty() || !read || !SameText(name, propName_)) return;
  propName_.clear();
  TMemoryStream data(ReadBinary());
  read(data);
}

}  // namespace qv

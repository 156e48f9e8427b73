#include "export_rooms.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KPFUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KPFUZZ_ASAN 1
#endif
#ifdef KPFUZZ_ASAN
#include <sanitizer/asan_interface.h>
#define KPFUZZ_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define KPFUZZ_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define KPFUZZ_POISON(at, size) ((void)(at), (void)(size))
#define KPFUZZ_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace kpfuzz {
namespace {

#include "export_table.inc"

constexpr unsigned char kGuardByte = 0xA5;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "export rooms: %s\n", what.c_str());
  std::abort();
}

// Function name -> its rooms field ("out=ROOM; out2=ROOM"), from the table.
const std::map<std::string, std::string>& RoomFields() {
  static const std::map<std::string, std::string> fields = [] {
    std::map<std::string, std::string> byName;
    std::istringstream lines(kExportTable);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::vector<std::string> field;
      std::istringstream cells(line);
      std::string cell;
      while (std::getline(cells, cell, '\t')) field.push_back(cell);
      if (field.size() == 7 && field[1] != "ordinal") byName[field[0]] = field[6];
    }
    return byName;
  }();
  return fields;
}

// One room expression: numbers, + - * /, parentheses, max(a,b), NAME,
// [NAME] and len(NAME), the names looked up in the caller's values.
class Expression {
 public:
  Expression(std::string text, const Values& values) : text_(std::move(text)), values_(values) {}

  long long Evaluate() {
    const long long value = Sum();
    Skip();
    if (at_ != text_.size()) Fail("room '" + text_ + "': unexpected text");
    return value;
  }

 private:
  void Skip() {
    while (at_ < text_.size() && text_[at_] == ' ') ++at_;
  }
  bool Eat(char c) {
    Skip();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Eat(c)) Fail("room '" + text_ + "': '" + std::string(1, c) + "' expected");
  }
  std::string Name() {
    Skip();
    const std::size_t start = at_;
    while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) ++at_;
    if (at_ == start) Fail("room '" + text_ + "': a name expected");
    return text_.substr(start, at_ - start);
  }
  long long Lookup(const std::string& name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) Fail("room '" + text_ + "' needs the value of " + name);
    return found->second;
  }
  long long Sum() {
    long long value = Product();
    for (;;) {
      if (Eat('+')) {
        value += Product();
      } else if (Eat('-')) {
        value -= Product();
      } else {
        return value;
      }
    }
  }
  long long Product() {
    long long value = Atom();
    for (;;) {
      if (Eat('*')) {
        value *= Atom();
      } else if (Eat('/')) {
        const long long divisor = Atom();
        if (divisor == 0) Fail("room '" + text_ + "' divides by zero");
        value /= divisor;
      } else {
        return value;
      }
    }
  }
  long long Atom() {
    Skip();
    if (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
      long long value = 0;
      while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
        value = value * 10 + (text_[at_++] - '0');
      }
      return value;
    }
    if (Eat('(')) {
      const long long value = Sum();
      Expect(')');
      return value;
    }
    if (Eat('[')) {
      const std::string name = Name();
      Expect(']');
      return Lookup(name);
    }
    const std::string name = Name();
    if (name == "max") {
      Expect('(');
      const long long a = Sum();
      Expect(',');
      const long long b = Sum();
      Expect(')');
      return std::max(a, b);
    }
    if (name == "len") {
      Expect('(');
      const std::string of = Name();
      Expect(')');
      return Lookup(of);
    }
    return Lookup(name);
  }

  std::string text_;
  const Values& values_;
  std::size_t at_ = 0;
};

}  // namespace

std::size_t Room(const std::string& function, const std::string& output, const Values& values) {
  const auto row = RoomFields().find(function);
  if (row == RoomFields().end()) Fail("no export " + function);
  const std::string& field = row->second;
  const std::string key = output + "=";
  std::size_t at = 0;
  while (at < field.size() && field.compare(at, key.size(), key) != 0) {
    at = field.find("; ", at);
    at = at == std::string::npos ? field.size() : at + 2;
  }
  if (at >= field.size()) Fail(function + " has no output " + output);
  const std::size_t end = std::min(field.find("; ", at), field.size());
  const long long room = Expression(field.substr(at + key.size(), end - at - key.size()), values).Evaluate();
  return room > 0 ? static_cast<std::size_t>(room) : 0;
}

Output::Output(std::size_t room) : room_(room), bytes_(new char[room + kGuard]) {
  std::memset(bytes_.get(), 0, room_);
  std::memset(bytes_.get() + room_, kGuardByte, kGuard);
  KPFUZZ_POISON(bytes_.get() + room_, kGuard);
}

Output::~Output() {
  KPFUZZ_UNPOISON(bytes_.get() + room_, kGuard);
  for (std::size_t i = 0; i < kGuard; ++i) {
    if (static_cast<unsigned char>(bytes_[room_ + i]) != kGuardByte) {
      std::fprintf(stderr, "an output of %zu bytes was written past its room\n", room_);
      std::abort();
    }
  }
}

}  // namespace kpfuzz

// Fuzzes the command-line splitter of install: the input is UTF-16LE text (two bytes a character,
// as Windows passes it, whatever the width of the host's WCHAR), split by CommandLineItem and by
// a reference model of its own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "install/Install.h"

namespace {

using Units = std::vector<WCHAR>;

[[noreturn]] void Fail(const char* what, int index) {
  std::fprintf(stderr, "fuzz_command_line: item %d: %s\n", index, what);
  std::abort();
}

// The items, by a second reading: runs of characters above the space, where a quote switches
// quoting on and off, is dropped, and makes the spaces and controls up to the next quote part of
// the item.
std::vector<Units> ModelItems(const WCHAR* text) {
  std::vector<Units> items;
  bool inItem = false, quoted = false;
  for (const WCHAR* p = text; *p; ++p) {
    bool blank = *p <= L' ';
    if (!inItem) {
      if (blank) continue;
      items.emplace_back();
      inItem = true;
      quoted = false;
    }
    if (*p == L'"') quoted = !quoted;
    else if (blank && !quoted) inItem = false;
    else items.back().push_back(*p);
  }
  return items;
}

void Check(const WCHAR* text, size_t length, const std::vector<Units>& model, int index) {
  WideText item;
  bool found = CommandLineItem(text, index, item);
  bool exists = index >= 0 && size_t(index) < model.size();
  if (found != exists) Fail(found ? "found, but the model has none" : "not found, but the model has it", index);
  if (item.Length() > length) Fail("longer than the command line", index);
  for (size_t i = 0; i < item.Length(); ++i)
    if (item.c_str()[i] == L'"') Fail("holds a quote", index);
  if (item.c_str()[item.Length()] != 0) Fail("not terminated", index);
  const Units& expected = exists ? model[size_t(index)] : Units();
  if (Units(item.c_str(), item.c_str() + item.Length()) != expected) Fail("differs from the model", index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Units text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(WCHAR(data[i] | data[i + 1] << 8));
  text.push_back(0);
  size_t length = 0;
  while (text[length]) ++length;

  std::vector<Units> model = ModelItems(text.data());
  // The program and its first argument, what the start-up uses; then the last item, one past it,
  // and a negative index.
  for (int index : {0, 1, int(model.size()) - 1, int(model.size()), -1}) Check(text.data(), length, model, index);
  return 0;
}

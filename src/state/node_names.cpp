#include "state/node_names.h"

#include <cstring>

namespace {

bool IsControlCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

template <typename Unsafe>
std::string Replaced(std::string text, char replacement, const Unsafe& unsafe) {
  for (char& c : text) {
    if (unsafe(c)) c = replacement;
  }
  return text;
}

}  // namespace

std::string NodeNameForFiles(const std::string& node, const char* notAllowed) {
  return Replaced(node, '_', [notAllowed](char c) {
    return IsControlCharacter(c) || c == '/' || c == '\\' || std::strchr(notAllowed, c) != nullptr;
  });
}

std::string PrintableInLines(const std::string& text) {
  return Replaced(text, '?', IsControlCharacter);
}

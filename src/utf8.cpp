#include "utf8.h"

namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool is_scalar_value(char32_t code_point) {
  return code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
}

void append_utf8(std::string &out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

std::wstring utf8_to_wide(const std::string &text) {
  std::wstring wide;
  wide.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code_point = 0;
    if (lead < 0x80) {
      length = 1, code_point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code_point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code_point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code_point = lead & 0x07;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto byte = static_cast<unsigned char>(text[i + k]);
      valid = is_continuation(byte);
      code_point = (code_point << 6) | (byte & 0x3F);
    }
    // Overlong forms would let two spellings name the same character.
    static constexpr char32_t smallest_of_length[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (code_point < smallest_of_length[length] || !is_scalar_value(code_point))) valid = false;
    if (valid) {
      wide += static_cast<wchar_t>(code_point);
      i += length;
    } else {
      wide += static_cast<wchar_t>(replacement_character);
      ++i;
    }
  }
  return wide;
}

std::string wide_to_utf8(const std::wstring &text) {
  static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on the platforms nimbo builds on");
  std::string narrow;
  narrow.reserve(text.size());
  for (const wchar_t character : text) {
    const auto code_point = static_cast<char32_t>(character);
    append_utf8(narrow, is_scalar_value(code_point) ? code_point : replacement_character);
  }
  return narrow;
}

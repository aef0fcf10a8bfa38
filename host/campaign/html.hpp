// Text into HTML: every string from a results file (file names are user
// input) goes through these before it reaches the page.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

#include "text.hpp"

namespace audiomeas::host::html {

// Escaped for element text and for double-quoted attribute values.
inline std::string escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// JSON text safe inside <script type="application/json">: no "</" can end
// the element, and U+2028/9 stay escapes.
inline std::string scriptJson(std::string_view json) {
  std::string out;
  out.reserve(json.size() + json.size() / 64);
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (json[i] == '<') {
      out += "\\u003c";
    } else if (json.compare(i, 3, "\xE2\x80\xA8") == 0 || json.compare(i, 3, "\xE2\x80\xA9") == 0) {
      out += json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += json[i];
    }
  }
  return out;
}

// A number as the page shows it: up to digits significant figures, "–" for none.
inline std::string number(double v, int digits = 6) {
  if (!std::isfinite(v)) return "\xE2\x80\x93";
  return fmt("%.*g", digits, v);
}

// <tag attributes>escaped text</tag>
inline std::string element(const char* tag, std::string_view text, const std::string& attributes = "") {
  return std::string("<") + tag + (attributes.empty() ? "" : " ") + attributes + ">" + escape(text) + "</" +
         tag + ">";
}

}  // namespace audiomeas::host::html

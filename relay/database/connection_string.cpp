#include "relay/database/connection_string.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>

#include "settings/ascii_text.h"
#include "settings/setting_codec.h"

namespace dbrelay {

namespace {

// The blanks around keys and values.
constexpr std::string_view kBlanks = " \t\r\n";

bool IsSpace(char c) { return kBlanks.find(c) != std::string_view::npos; }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// text[begin, end) without blanks at either end.
std::string Trim(const std::string& text, size_t begin, size_t end) {
  return std::string(
      settings::TrimCharacters(std::string_view(text).substr(begin, end - begin), kBlanks));
}

// Scans a value from pos (at its first non-blank character) to the ";" that ends the attribute.
// Returns the position of that ";" or text.size(), and the value with quoting undone.
size_t ScanValue(const std::string& text, size_t pos, std::string* value) {
  const size_t n = text.size();
  value->clear();
  if (pos < n && (text[pos] == '{' || text[pos] == '"' || text[pos] == '\'')) {
    const char close = text[pos] == '{' ? '}' : text[pos];
    size_t i = pos + 1;
    bool closed = false;
    while (i < n) {
      if (text[i] == close) {
        if (i + 1 < n && text[i + 1] == close) {
          value->push_back(close);
          i += 2;
          continue;
        }
        closed = true;
        ++i;
        break;
      }
      value->push_back(text[i++]);
    }
    if (!closed) return n;
    // Anything between the closing mark and the ";" belongs to this attribute too.
    size_t semi = text.find(';', i);
    if (semi == std::string::npos) semi = n;
    std::string tail = Trim(text, i, semi);
    *value += tail;
    return semi;
  }
  size_t semi = text.find(';', pos);
  if (semi == std::string::npos) semi = n;
  *value = Trim(text, pos, semi);
  return semi;
}

// Quotes a value for an ODBC string when it needs it.
std::string OdbcValue(const std::string& value) {
  bool needs_braces = !value.empty() && (IsSpace(value.front()) || IsSpace(value.back()));
  for (char c : value) {
    if (c == ';' || c == '{' || c == '}' || c == '=') needs_braces = true;
  }
  if (!needs_braces) return value;
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

bool IsSqlServerProvider(const std::string& provider) {
  const std::string p = settings::AsciiLowerCopy(provider);
  return p == "sqloledb" || StartsWith(p, "sqloledb.") || StartsWith(p, "sqlncli") ||
         StartsWith(p, "msoledbsql");
}

std::string OdbcKeyword(const std::string& key) {
  const std::string k = settings::AsciiLowerCopy(key);
  if (k == "data source") return "Server";
  if (k == "initial catalog") return "Database";
  if (k == "user id") return "Uid";
  if (k == "password") return "Pwd";
  return key;
}

constexpr const char* kMask = "****";

// Whether a key names a secret: it contains "pwd", "passwd" or "password" in any letter case, so
// "Jet OLEDB:Database Password" and "PWDHint" are hidden too (better a hint hidden than a password
// shown).
bool IsSecretKey(std::string_view key) {
  const std::string k = settings::AsciiLowerCopy(std::string(key));
  for (const char* word : {"pwd", "passwd", "password"}) {
    if (k.find(word) != std::string::npos) return true;
  }
  return false;
}

// A number of seconds written as decimal digits (blanks around them allowed); nothing else. An
// enormous number stands for a wait as long as the driver can be asked for.
std::optional<int> WholeSeconds(const std::string& text) {
  const std::string digits = Trim(text, 0, text.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  long long value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

bool IsOpeningMark(char c) { return c == '{' || c == '"' || c == '\''; }

// The end of a nested value that starts at pos: after its closing mark when it is braced or quoted
// (a doubled mark, or a backslash before a quote, escapes it), else at the next ";" or "}" (the
// end of the value that holds it; "}}" is an escaped brace), blanks before that excluded. Never
// beyond end.
size_t NestedValueEnd(const std::string& text, size_t pos, size_t end) {
  if (pos < end && IsOpeningMark(text[pos])) {
    const char close = text[pos] == '{' ? '}' : text[pos];
    for (size_t i = pos + 1; i < end; ++i) {
      if (close != '}' && text[i] == '\\') {
        ++i;
      } else if (text[i] == close) {
        if (i + 1 < end && text[i + 1] == close) {
          ++i;
          continue;
        }
        return i + 1;
      }
    }
    return end;
  }
  size_t stop = pos;
  while (stop < end && text[stop] != ';') {
    if (text[stop] == '}') {
      if (stop + 1 >= end || text[stop + 1] != '}') break;
      ++stop;  // "}}" is a brace inside the value
    }
    ++stop;
  }
  while (stop > pos && IsSpace(text[stop - 1])) --stop;
  return stop;
}

// Adds the spans of the secret values inside text[begin, end), the inside of a braced or quoted
// value: an ODBC string in braces, libpq's "key=value key=value" in psqlODBC's pqopt={...}, an OLE
// DB string in quotes. A key is what stands between the last mark (";", a brace, a quote, "=")
// and "=", so a blank-separated key is found inside it too.
void FindNestedSecrets(const std::string& text, size_t begin, size_t end,
                       std::vector<std::pair<size_t, size_t>>* spans) {
  size_t key_start = begin;
  for (size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c == ';' || IsOpeningMark(c) || c == '}') {
      key_start = i + 1;
      continue;
    }
    if (c != '=') continue;
    const bool secret = IsSecretKey(std::string_view(text).substr(key_start, i - key_start));
    key_start = i + 1;
    if (!secret) continue;
    size_t value = i + 1;
    while (value < end && IsSpace(text[value])) ++value;
    size_t stop = NestedValueEnd(text, value, end);
    if (stop > value) spans->emplace_back(value, stop);
    i = stop - 1;
    key_start = stop;
  }
}

}  // namespace

std::vector<ConnectionAttribute> SplitConnectionString(const std::string& text) {
  std::vector<ConnectionAttribute> attributes;
  const size_t n = text.size();
  size_t pos = 0;
  while (pos < n) {
    ConnectionAttribute attribute;
    attribute.begin = pos;
    size_t semi = text.find(';', pos);
    size_t eq = text.find('=', pos);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // No "=" in this attribute: it is a bare word (or empty).
      size_t end = semi == std::string::npos ? n : semi;
      attribute.key = Trim(text, pos, end);
      attribute.end = end;
      attribute.value_begin = attribute.value_end = end;
    } else {
      attribute.has_equals = true;
      attribute.key = Trim(text, pos, eq);
      size_t value_pos = eq + 1;
      while (value_pos < n && text[value_pos] != ';' && IsSpace(text[value_pos])) ++value_pos;
      size_t end = ScanValue(text, value_pos, &attribute.value);
      attribute.end = end;
      attribute.value_begin = value_pos;
      size_t value_end = end;
      while (value_end > value_pos && IsSpace(text[value_end - 1])) --value_end;
      attribute.value_end = value_end;
    }
    if (attribute.has_equals || !attribute.key.empty()) attributes.push_back(attribute);
    pos = attribute.end + 1;
  }
  return attributes;
}

std::optional<std::string> TranslateConnectionString(
    const std::string& text, const std::function<bool(const std::string&)>& driver_registered) {
  const std::vector<ConnectionAttribute> attributes = SplitConnectionString(text);
  const ConnectionAttribute* provider = nullptr;
  for (const ConnectionAttribute& a : attributes) {
    if (a.has_equals && settings::AsciiLowerCopy(a.key) == "provider") {
      provider = &a;
      break;
    }
  }
  if (provider == nullptr) return text;

  if (StartsWith(settings::AsciiLowerCopy(provider->value), "msdasql")) {
    size_t cut_end = provider->end < text.size() ? provider->end + 1 : provider->end;
    return text.substr(0, provider->begin) + text.substr(cut_end);
  }
  if (!IsSqlServerProvider(provider->value)) return std::nullopt;

  const bool registered = driver_registered && driver_registered("SQLOLEDB");
  std::string out = registered ? "Driver={SQLOLEDB};" : "Driver={FreeTDS};";
  for (const ConnectionAttribute& a : attributes) {
    if (&a == provider) continue;
    if (!a.has_equals) {
      out += a.key + ";";
      continue;
    }
    const std::string keyword = OdbcKeyword(a.key);
    if (settings::AsciiLowerCopy(keyword) == "server") {
      size_t comma = a.value.rfind(',');
      if (comma != std::string::npos) {
        out += "Server=" + OdbcValue(Trim(a.value, 0, comma)) + ";";
        out += "Port=" + OdbcValue(Trim(a.value, comma + 1, a.value.size())) + ";";
        continue;
      }
    }
    out += keyword + "=" + OdbcValue(a.value) + ";";
  }
  return out;
}

std::string TakeLoginTimeout(const std::string& text, int* seconds) {
  std::string out;
  size_t kept_from = 0;
  bool found = false;
  for (const ConnectionAttribute& a : SplitConnectionString(text)) {
    const std::string key = settings::AsciiLowerCopy(a.key);
    if (!a.has_equals || (key != "connect timeout" && key != "connection timeout")) continue;
    if (!found) {
      found = true;
      std::optional<int> value = WholeSeconds(a.value);
      if (value) *seconds = *value;
    }
    out += text.substr(kept_from, a.begin - kept_from);
    kept_from = a.end < text.size() ? a.end + 1 : a.end;  // its ";" goes with it
  }
  return out + text.substr(kept_from);
}

std::string MaskConnectionPassword(const std::string& connection_string) {
  // The scrambled form is a keyless encoding of the whole string, secrets included.
  if (connection_string.compare(0, settings::kScrambleMarker.size(), settings::kScrambleMarker) ==
      0) {
    return kMask;
  }
  std::vector<std::pair<size_t, size_t>> spans;  // [begin, end) of each value to hide, in order
  for (const ConnectionAttribute& a : SplitConnectionString(connection_string)) {
    if (!a.has_equals || a.value_end <= a.value_begin) continue;
    if (IsSecretKey(a.key)) {
      spans.emplace_back(a.value_begin, a.value_end);
    } else if (IsOpeningMark(connection_string[a.value_begin])) {
      // The inside of the braces or quotes; an unterminated one runs to the end of the value.
      const char open = connection_string[a.value_begin];
      const char close = open == '{' ? '}' : open;
      size_t inner_end = a.value_end;
      if (inner_end - a.value_begin >= 2 && connection_string[inner_end - 1] == close) --inner_end;
      FindNestedSecrets(connection_string, a.value_begin + 1, inner_end, &spans);
    }
  }
  std::string out = connection_string;
  // From the back, so that earlier offsets stay valid.
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
    out.replace(it->first, it->second - it->first, kMask);
  }
  return out;
}

}  // namespace dbrelay

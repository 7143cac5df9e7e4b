#include "report/json_report.h"

#include <cstdio>

void write_json_lines(JsonWriter& json, const char* key, const WarningList& lines) {
  json.Key(key);
  json.BeginArray();
  for (uint32_t i = 0; i < lines.count(); ++i) json.String(lines.line(i));
  json.EndArray();
}

bool print_json_document(const JsonWriter& json, const ByteBuffer& bytes) {
  if (!json.ok()) return false;
  std::fwrite(bytes.data(), 1, bytes.length(), stdout);
  return true;
}

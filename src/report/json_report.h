#ifndef VINTREL_REPORT_JSON_REPORT_H_
#define VINTREL_REPORT_JSON_REPORT_H_

#include "base/byte_buffer.h"
#include "base/warning_list.h"
#include "json/json_writer.h"

// What the commands' JSON documents share.

// key, then the lines as an array of strings ("warnings": [...]).
void write_json_lines(JsonWriter& json, const char* key, const WarningList& lines);

// Writes the document that json made in bytes to standard output. False, writing nothing, when the
// document is incomplete for want of memory.
bool print_json_document(const JsonWriter& json, const ByteBuffer& bytes);

#endif  // VINTREL_REPORT_JSON_REPORT_H_

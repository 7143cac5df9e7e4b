#include "inspect/messages.h"

#include <cstdarg>
#include <cstdio>

#include "base/platform.h"

namespace {

void print_line(const char* kind, const char* format, va_list args) {
  // The message is formatted whole before it is written, so that its control characters can be
  // escaped.
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  CStringBufferA message;
  CStringBufferA line;
  const bool ok =
      needed >= 0 && needed < INT32_MAX && message.Reserve(needed + 1) &&
      std::vsnprintf(message.Data(), static_cast<size_t>(needed) + 1, format, args) == needed &&
      line.Format("%s: %s: ", kProgramName, kind) > 0 &&
      append_escaped(reinterpret_cast<const uint8_t*>(message.Data()),
                     static_cast<uint32_t>(needed), line);
  if (ok) {
    std::fprintf(stderr, "%s\n", line.Data());
  } else {
    std::fprintf(stderr, "%s: error: out of memory\n", kProgramName);
  }
  std::fflush(stderr);
}

}  // namespace

void print_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_line("error", format, args);
  va_end(args);
}

void print_warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_line("warning", format, args);
  va_end(args);
}

void print_warnings(const WarningList& warnings) {
  for (uint32_t i = 0; i < warnings.count(); ++i) print_warning("%s", warnings.line(i));
}

void print_failure(const Status& status) {
  CStringBufferA description;
  if (!status.Describe(description)) {
    print_error("out of memory");
    return;
  }
  print_error("%s", description.Data());
}

void print_failure_warning(const Status& status, const char* remark) {
  CStringBufferA description;
  if (!status.Describe(description)) {
    print_error("out of memory");
    return;
  }
  print_warning("%s%s", description.Data(), remark);
}

void print_recovery(const char* gameDir, const ChangeRecovery& recovery) {
  CStringBufferA line;
  if (recovery.outcome != RecoveryOutcome::kNothing && describe_recovery(recovery, gameDir, line)) {
    print_warning("%s", line.Data());
  }
}

bool describe_reason(const Status& status, CStringBufferA& out) {
  if (!status.has_package()) return status.Describe(out);
  char system[256] = {};
  if (status.system_error() != 0) sys_error_text(status.system_error(), system, sizeof(system));
  return out.Format("%s%s%s", status.what(), system[0] != '\0' ? ": " : "", system) >= 0;
}

IdText id_text(uint64_t id) {
  IdText text;
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) text.text[i] = kDigits[(id >> (60 - 4 * i)) & 0xF];
  text.text[16] = '\0';
  return text;
}

bool append_quoted(const char* name, CStringBufferA& list) {
  CStringBufferA joined;
  return joined.Format("%s%s\"%s\"", list.Data(), list.Length() != 0 ? ", " : "", name) > 0 &&
         list.Assign(joined.Data()) != nullptr;
}

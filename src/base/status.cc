#include "base/status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/platform.h"

void Status::FailWith(StatusCode code, const char* format, va_list args) {
  Clear();
  code_ = code;
  if (std::vsnprintf(what_, sizeof(what_), format, args) < 0) what_[0] = '\0';
}

void Status::Fail(StatusCode code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FailWith(code, format, args);
  va_end(args);
}

void Status::FailAt(StatusCode code, const char* path, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FailWith(code, format, args);
  va_end(args);
  SetPath(path);
}

void Status::FailIo(const char* operation, const char* path) {
  FailIo(operation, path, sys_last_error());
}

void Status::FailIo(const char* operation, const char* path, uint32_t systemError) {
  Fail(StatusCode::kIoError, "%s", operation);
  SetPath(path);
  systemError_ = systemError;
}

bool Status::FailOutOfMemory() {
  Fail(StatusCode::kOutOfMemory, "out of memory");
  return false;
}

void Status::Assign(const Status& other) {
  if (&other == this) return;
  Clear();
  code_ = other.code_;
  std::memcpy(what_, other.what_, sizeof(what_));
  if (!other.path_.IsEmpty()) path_.Assign(other.path_.Text());
  if (!other.package_.IsEmpty()) package_.Assign(other.package_.Text());
  hasPackage_ = other.hasPackage_;
  offset_ = other.offset_;
  line_ = other.line_;
  column_ = other.column_;
  systemError_ = other.systemError_;
}

void Status::SetPath(const char* path) {
  if (!path_.IsEmpty() || path == nullptr) return;
  CStringBufferA native;
  sys_native_path(path, native);
  path_.Assign(native);
}

void Status::SetPackage(const char* name, const char* archivePath, uint64_t offset) {
  if (path_.Length() != 0 || hasPackage_) return;
  package_.Assign(name);
  SetPath(archivePath);
  offset_ = offset;
  hasPackage_ = true;
}

void Status::SetTextPosition(uint32_t line, uint32_t column) {
  line_ = line;
  column_ = column;
}

void Status::Clear() {
  code_ = StatusCode::kOk;
  what_[0] = '\0';
  path_.Release();
  package_.Release();
  hasPackage_ = false;
  offset_ = 0;
  line_ = 0;
  column_ = 0;
  systemError_ = 0;
}

bool Status::Describe(CStringBufferA& out) const {
  if (ok()) return out.Assign("") != nullptr;
  char system[256] = {};
  if (systemError_ != 0) sys_error_text(systemError_, system, sizeof(system));
  const char* systemSeparator = system[0] != '\0' ? ": " : "";

  int32_t length = 0;
  if (hasPackage_) {
    length =
        out.Format("package \"%s\" in \"%s\" at offset %llu: %s%s%s", package_.Text(), path_.Text(),
                   static_cast<unsigned long long>(offset_), what_, systemSeparator, system);
  } else if (code_ == StatusCode::kIoError) {
    length = path_.IsEmpty()
                 ? out.Format("%s%s%s", what_, systemSeparator, system)
                 : out.Format("%s \"%s\"%s%s", what_, path_.Text(), systemSeparator, system);
  } else if (path_.IsEmpty()) {
    length = out.Format("%s", what_);
  } else if (line_ != 0) {
    length = out.Format("\"%s\" line %u, column %u: %s", path_.Text(), line_, column_, what_);
  } else {
    length = out.Format("\"%s\": %s%s%s", path_.Text(), what_, systemSeparator, system);
  }
  return length >= 0;
}

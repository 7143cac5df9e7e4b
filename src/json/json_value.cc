#include "json/json_value.h"

#include <cmath>
#include <new>

#include "base/alloc_hooks.h"
#include "base/shared_string.h"
#include "json/json_key_table.h"
#include "json/json_stores.h"

JsonValue JsonNull = {1, JsonType::Null, {0}};

namespace {

bool IsShared(const JsonValue* value) { return value == nullptr || value == &JsonNull; }

bool IsContainer(JsonType type) { return type == JsonType::Object || type == JsonType::Array; }

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether the value that strtoll(text, nullptr, 10) returns is not 0: leading C-locale white
// space, an optional sign, then decimal digits up to the first non-digit. A value that overflows
// is clamped by strtoll and stays non-zero, so only a non-zero digit matters.
bool LeadingIntegerIsNonZero(const char* text) {
  const char* p = text;
  while (IsCSpace(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (*p != '0') return true;
  }
  return false;
}

// 2^63: every double of at least this magnitude is outside the range of int64_t.
constexpr double kTwoPow63 = 9223372036854775808.0;

bool NumberToBool(double value) {
  if (std::isnan(value) || std::fabs(value) >= kTwoPow63) return true;
  return static_cast<int64_t>(value) != 0;
}

}  // namespace

void AddValueRef(JsonValue* value) {
  if (IsShared(value)) return;
  ++value->refcount;
}

void ReleaseValue(JsonValue* value) {
  if (IsShared(value)) return;
  if (--value->refcount == 0) value->Destroy();
}

JsonRef::JsonRef(JsonValue* value) : value_(value) { AddValueRef(value_); }

JsonRef::JsonRef(const JsonRef& other) : value_(other.value_) { AddValueRef(value_); }

JsonRef::~JsonRef() { ReleaseValue(value_); }

JsonRef& JsonRef::operator=(const JsonRef& other) {
  if (this == &other) return *this;
  AddValueRef(other.value_);
  JsonValue* old = value_;
  value_ = other.value_;
  ReleaseValue(old);
  return *this;
}

JsonRef& JsonRef::operator=(JsonRef&& other) noexcept {
  if (this == &other) return *this;
  JsonValue* old = value_;
  value_ = other.value_;
  other.value_ = nullptr;
  ReleaseValue(old);
  return *this;
}

JsonRef JsonRef::Adopt(JsonValue* value) {
  JsonRef ref;
  ref.value_ = value;
  return ref;
}

void JsonRef::Release() {
  JsonValue* old = value_;
  value_ = nullptr;
  ReleaseValue(old);
}

JsonRef NewValue() {
  void* slot = JsonValuePool.TakeSlot();
  if (slot == nullptr) return JsonRef();
  return JsonRef::Adopt(new (slot) JsonValue{1, JsonType::Null, {0}});
}

namespace {

// NewObject and NewArray: a container whose list cannot be allocated is of no use to anyone, so
// it is dropped and the result is empty.
JsonRef NewContainer(JsonType type) {
  JsonRef ref = NewValue();
  if (ref && !ref->SetType(type)) ref.Release();
  return ref;
}

}  // namespace

JsonRef NewObject() { return NewContainer(JsonType::Object); }

JsonRef NewArray() { return NewContainer(JsonType::Array); }

bool JsonValue::SetType(JsonType newType) {
  if (this == &JsonNull) return false;
  // A value left without its payload by an earlier failure gets another allocation, so that a
  // true result always means a usable value.
  const bool missingPayload = (type == JsonType::String && payload.string == nullptr) ||
                              (IsContainer(type) && payload.list == nullptr);
  if (type != newType || missingPayload) {
    Clear();
    type = newType;
    if (newType == JsonType::String) {
      void* block = AllocHooks.allocHook(static_cast<uint32_t>(sizeof(SharedString)));
      if (block == nullptr) return false;
      payload.string = new (block) SharedString();
    } else if (IsContainer(newType)) {
      void* block = AllocHooks.allocHook(static_cast<uint32_t>(sizeof(JsonMemberList)));
      if (block == nullptr) return false;
      payload.list = new (block) JsonMemberList{nullptr, nullptr};
    }
  }
  Reset();
  return true;
}

void JsonValue::Reset() {
  if (this == &JsonNull) return;
  switch (type) {
    case JsonType::String:
      if (payload.string != nullptr) payload.string->Release();
      break;
    case JsonType::Number:
      payload.number = 0.0;
      break;
    case JsonType::Integer:
    case JsonType::Bool:
      payload.integer = 0;
      break;
    case JsonType::Object:
    case JsonType::Array:
      RemoveAllMembers();
      break;
    case JsonType::Null:
      break;
  }
}

void JsonValue::Clear() {
  if (this == &JsonNull) return;
  if (type == JsonType::String && payload.string != nullptr) {
    payload.string->~SharedString();
    AllocHooks.freeHook(payload.string);
  } else if (IsContainer(type) && payload.list != nullptr) {
    RemoveAllMembers();
    AllocHooks.freeHook(payload.list);
  }
  type = JsonType::Null;
  payload.integer = 0;
}

void JsonValue::SetString(const char* text) {
  if (this == &JsonNull) return;
  // A String value takes its new text in place: going through SetType would free its block first,
  // and the text may be the value's own (or a tail of it).
  if (type == JsonType::String && payload.string != nullptr && text != nullptr) {
    payload.string->Assign(text);
    return;
  }
  SetType(JsonType::String);
  if (type != JsonType::String || payload.string == nullptr || text == nullptr) return;
  payload.string->Assign(text);
}

void JsonValue::SetNumber(double value) {
  if (this == &JsonNull) return;
  SetType(JsonType::Number);
  payload.number = value;
}

void JsonValue::SetBool(bool flag) {
  if (this == &JsonNull) return;
  SetType(JsonType::Bool);
  payload.flag = flag;
}

namespace {

// Appends member at the tail of list.
void LinkMember(JsonMemberList* list, JsonMember* member) {
  if (list->tail == nullptr) {
    list->head = member;
  } else {
    list->tail->next = member;
  }
  list->tail = member;
}

}  // namespace

bool JsonValue::Append(JsonRef element) {
  if (type != JsonType::Array || payload.list == nullptr || !element) return false;
  void* slot = JsonMemberPool.TakeSlot();
  if (slot == nullptr) return false;
  LinkMember(payload.list, new (slot) JsonMember{nullptr, element, nullptr});
  return true;
}

bool JsonValue::AddMember(const char* name, JsonRef value) {
  if (name == nullptr || !value) return false;
  if (type != JsonType::Object || payload.list == nullptr) return false;
  void* slot = JsonMemberPool.TakeSlot();
  if (slot == nullptr) return false;
  LinkMember(payload.list, new (slot) JsonMember{nullptr, value, JsonKeys.Intern(name)});
  return true;
}

void JsonValue::RemoveAllMembers() {
  if (!IsContainer(type) || payload.list == nullptr) return;
  // The list is detached first, so that nothing released below can walk a half-freed chain.
  JsonMember* member = payload.list->head;
  payload.list->head = nullptr;
  payload.list->tail = nullptr;
  while (member != nullptr) {
    JsonMember* next = member->next;
    if (member->key != nullptr) {
      JsonKeys.ReleaseKey(member->key);
      member->key = nullptr;
    }
    member->value.Release();
    member->~JsonMember();
    JsonMemberPool.GiveSlot(member);
    member = next;
  }
}

JsonMember* JsonValue::FirstMember() const {
  if (!IsContainer(type) || payload.list == nullptr) return nullptr;
  return payload.list->head;
}

JsonRef JsonValue::FindMember(const char* name) const {
  if (type != JsonType::Object) return JsonRef();
  JsonKey key(JsonKeys, name);
  // A member without a key (its name could not be interned) never matches, not even when the
  // name itself cannot be interned.
  if (key.Get() != nullptr) {
    for (JsonMember* member = FirstMember(); member != nullptr; member = member->next) {
      if (member->key == key.Get()) return member->value;
    }
  }
  return JsonRef(&JsonNull);
}

const char* JsonValue::GetMemberString(const char* name, const char* fallback) const {
  JsonRef found = FindMember(name);
  if (!found || found->type != JsonType::String) return fallback;
  return found->Text();
}

bool JsonValue::GetMemberBool(const char* name) const {
  JsonRef found = FindMember(name);
  return found && found->ToBool();
}

bool JsonValue::ToBool() const {
  switch (type) {
    case JsonType::String:
      return LeadingIntegerIsNonZero(Text());
    case JsonType::Number:
      return NumberToBool(payload.number);
    case JsonType::Integer:
      return payload.integer != 0;
    case JsonType::Bool:
      return payload.flag;
    case JsonType::Null:
    case JsonType::Object:
    case JsonType::Array:
      break;
  }
  return false;
}

const char* JsonValue::Text() const {
  if (type != JsonType::String || payload.string == nullptr) return "";
  return payload.string->Text();
}

void JsonValue::Destroy() {
  if (IsShared(this)) return;
  Clear();
  JsonValuePool.GiveSlot(this);
}

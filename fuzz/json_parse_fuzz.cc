// libFuzzer target for JsonParse: any bytes, parsed as a NUL-terminated text, walked and dropped.
// Besides the sanitizers' checks, every slot taken by the parse must be back in its pool once
// the result is dropped.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "json/json_reader.h"
#include "json/json_stores.h"
#include "json/json_value.h"

namespace {

// Reads every part of the tree the way a consumer would; the sum keeps the reads alive.
uint32_t Walk(const JsonValue* value, int depth) {
  uint32_t sum = static_cast<uint32_t>(value->type) + (value->ToBool() ? 1u : 0u);
  if (value->type == JsonType::String) sum += static_cast<uint32_t>(std::strlen(value->Text()));
  if (value->type == JsonType::Object) {
    sum += value->GetMemberString("name", "") != nullptr ? 1u : 0u;
    sum += value->GetMemberBool("fullcopy") ? 1u : 0u;
  }
  for (JsonMember* m = value->FirstMember(); m != nullptr; m = m->next) {
    if (m->key != nullptr) {
      sum += static_cast<uint32_t>(std::strlen(m->key));
      JsonRef again = value->FindMember(m->key);
      if (!again) __builtin_trap();  // an Object's own key must be found
    }
    JsonRef child = m->GetValue();
    sum += Walk(child.Get(), depth + 1);
  }
  if (depth > kJsonMaxDepth) __builtin_trap();
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(size + 1);
  if (size != 0) std::memcpy(text.data(), data, size);
  text[size] = 0;

  const uint32_t valuesBefore = JsonValuePool.InUseCount();
  const uint32_t membersBefore = JsonMemberPool.InUseCount();
  {
    JsonRef root = JsonParse(text.data());
    if (root) {
      if (root->type != JsonType::Object && root->type != JsonType::Array) __builtin_trap();
      volatile uint32_t sink = Walk(root.Get(), 1);
      (void)sink;
    }
  }
  if (JsonValuePool.InUseCount() != valuesBefore || JsonMemberPool.InUseCount() != membersBefore) {
    __builtin_trap();
  }
  return 0;
}

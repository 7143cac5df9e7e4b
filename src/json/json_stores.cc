#include "json/json_stores.h"

#include "json/json_value.h"

static_assert(FixedPool::IsValidSlotSize(sizeof(JsonValue)), "JsonValue slot");
static_assert(FixedPool::IsValidSlotSize(sizeof(JsonMember)), "JsonMember slot");
static_assert(alignof(JsonValue) <= FixedPool::kBlockHeaderSize, "JsonValue slots are aligned");
static_assert(alignof(JsonMember) <= FixedPool::kBlockHeaderSize, "JsonMember slots are aligned");

// Constant initialisation: these exist, zeroed and usable, before any code runs.
JsonKeyTable JsonKeys;
FixedPool JsonValuePool(sizeof(JsonValue), kJsonValuesPerBlock);
FixedPool JsonMemberPool(sizeof(JsonMember), kJsonMembersPerBlock);

void dismantle_json_stores() {
  JsonKeys.Dismantle();
  JsonValuePool.ClosePool();
  JsonMemberPool.ClosePool();
}

namespace {

// The exit hook. Its destructor is registered when this file's dynamic initialisation runs, so
// it runs after the destructors of static objects constructed later and before those of static
// objects constructed earlier (and before atexit handlers registered earlier). Either side is
// safe: a value released after the dismantling is abandoned without touching freed memory (see
// FixedPool::ClosePool), and one released before it is returned to its pool as usual. The
// program itself holds no JSON value in a static object; it drops its document in load_config.
struct JsonStoresDismantler {
  ~JsonStoresDismantler() { dismantle_json_stores(); }
};

JsonStoresDismantler dismantler;

}  // namespace

#ifndef VINTREL_JSON_JSON_STORES_H_
#define VINTREL_JSON_JSON_STORES_H_

#include "json/fixed_pool.h"
#include "json/json_key_table.h"

// The three process-wide stores under the JSON values. All three are constant-initialised (their
// constructors are constexpr and they hold no dynamically initialised member), so any code may
// use them at any time, the constructors of other static objects included.
//
// They are dismantled at process exit, in this order: the key table's head and tail become none
// (its chunks stay allocated), JsonValuePool is closed, JsonMemberPool is closed. From then on
// TakeSlot yields nothing and GiveSlot does nothing, so values released later are abandoned; a
// pool that still has slots in use keeps its blocks, so those late releases read valid memory.
// See json_stores.cc for when the dismantling runs relative to other static objects.
extern JsonKeyTable JsonKeys;
extern FixedPool JsonValuePool;   // JsonValue slots, 128 a block
extern FixedPool JsonMemberPool;  // JsonMember slots, 256 a block

constexpr uint32_t kJsonValuesPerBlock = 128;
constexpr uint32_t kJsonMembersPerBlock = 256;

// Runs the exit dismantling now. Called once at exit; later calls do nothing harmful.
void dismantle_json_stores();

#endif  // VINTREL_JSON_JSON_STORES_H_

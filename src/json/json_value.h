#ifndef VINTREL_JSON_JSON_VALUE_H_
#define VINTREL_JSON_JSON_VALUE_H_

#include <cstdint>

class SharedString;
struct JsonMember;
struct JsonMemberList;
class JsonRef;

enum class JsonType : uint32_t {
  Null = 1,
  String = 2,   // payload: a heap SharedString holding the UTF-8 text
  Number = 3,   // payload: a double
  Integer = 4,  // payload: a signed 64-bit integer (never produced by the library itself)
  Object = 5,   // payload: a JsonMemberList whose members carry keys
  Array = 6,    // payload: a JsonMemberList whose members carry no key
  Bool = 7,     // payload: one byte, 0 or 1
};

union JsonPayload {
  int64_t integer;  // first, so that {0} clears all eight bytes
  double number;
  SharedString* string;
  JsonMemberList* list;
  bool flag;
};

// A reference-counted JSON value living in a JsonValuePool slot. Holders are JsonRef handles and
// list members; the last one to let go destroys the value (Destroy). Reference counts are plain
// counters: a tree belongs to one thread.
//
// The shared JsonNull is never changed and never freed: reference operations leave its count
// alone and every mutating operation returns at once (or fails) on it.
//
// A String, Object or Array whose payload could not be allocated (SetType returned false) has no
// payload; every operation treats it as empty: its text is "", it has no members, and Append and
// AddMember fail on it.
struct JsonValue {
  uint32_t refcount;
  JsonType type;
  JsonPayload payload;

  // Changes the type, then empties the value. False at once for JsonNull, and when the payload
  // of a new String, Object or Array cannot be allocated (the type has changed then, and the
  // value has no payload). A value of the same type that lacks its payload is given one.
  bool SetType(JsonType newType);
  // Sets the payload to the type's empty value ("", 0, no members, false).
  void Reset();
  // Gives back the payload and makes the value Null.
  void Clear();
  // Makes the value a String holding a copy of text; a null text, or a copy that cannot be
  // allocated, leaves "".
  void SetString(const char* text);
  void SetNumber(double value);
  void SetBool(bool flag);

  // Appends a new reference to element at the end of an Array. False when the value is not an
  // Array with a member list, the handle is empty or the member pool yields no slot.
  bool Append(JsonRef element);
  // Appends a member with the interned name and a new reference to value at the end of an
  // Object; an existing member of that name is not looked for. False when name is null, the
  // handle is empty, the value is not an Object with a member list, or the member pool yields no
  // slot. When the name cannot be interned the member is still added, with no key.
  bool AddMember(const char* name, JsonRef value);
  // Releases every member of an Object or Array (keys and value references, in list order).
  void RemoveAllMembers();
  // The first member of an Object or Array; null when there is none. Walk on through next.
  JsonMember* FirstMember() const;

  // The first member called name of an Object, as a new handle; a handle to JsonNull when no
  // member has that name (or name is null); an empty handle when the value is not an Object.
  JsonRef FindMember(const char* name) const;
  // The text of the String member called name; fallback (possibly null) when there is no such
  // member, it is of another type, or the value is not an Object. The text stays valid while the
  // member remains in its object.
  const char* GetMemberString(const char* name, const char* fallback) const;
  // ToBool of the member called name; false when absent or when the value is not an Object.
  bool GetMemberBool(const char* name) const;
  // String: its leading base-10 signed 64-bit integer (as strtoll reads it) is not 0. Number: the
  // value truncated toward zero to a signed 64-bit integer is not 0; NaN, infinities and
  // magnitudes of 2^63 or more are true. Integer: not 0. Bool: the flag. Others: false.
  bool ToBool() const;

  // The text of a String ("" when it has no payload); "" for every other type.
  const char* Text() const;

  // Run when the reference count reaches 0: Clear, then the slot goes back to JsonValuePool.
  void Destroy();
};

// The one shared Null value {refcount 1, Null, 0}.
extern JsonValue JsonNull;

// An owning handle of one JsonValue, possibly empty. Copying adds a reference; destruction
// gives it up.
class JsonRef {
 public:
  JsonRef() : value_(nullptr) {}
  // A new reference to value (which may be null or JsonNull).
  explicit JsonRef(JsonValue* value);
  JsonRef(const JsonRef& other);
  JsonRef(JsonRef&& other) noexcept : value_(other.value_) { other.value_ = nullptr; }
  ~JsonRef();
  // Same handle: nothing. Otherwise the new value gains a reference before the old one loses its.
  JsonRef& operator=(const JsonRef& other);
  JsonRef& operator=(JsonRef&& other) noexcept;

  // Takes over a reference that the caller already owns (a value fresh from the pool).
  static JsonRef Adopt(JsonValue* value);

  // Gives up the reference; the handle becomes empty.
  void Release();

  JsonValue* Get() const { return value_; }
  JsonValue* operator->() const { return value_; }
  bool IsEmpty() const { return value_ == nullptr; }
  explicit operator bool() const { return value_ != nullptr; }

 private:
  JsonValue* value_;
};

// A list element of an Object or Array, living in a JsonMemberPool slot.
struct JsonMember {
  JsonMember* next;
  JsonRef value;
  const char* key;  // interned (JsonKeyTable::Intern); null in an Array

  // A new handle to the member's value.
  JsonRef GetValue() const { return value; }
};

// Head and tail of the members of an Object or Array; a heap block of its own.
struct JsonMemberList {
  JsonMember* head;
  JsonMember* tail;
};

// Reference operations that leave null and JsonNull alone. ReleaseValue destroys the value when
// its count reaches 0.
void AddValueRef(JsonValue* value);
void ReleaseValue(JsonValue* value);

// A new value from JsonValuePool: refcount 1, Null, payload 0. Empty when the pool yields none.
JsonRef NewValue();
// A new value turned into an Object or Array; empty when the pool or the heap yields nothing.
JsonRef NewObject();
JsonRef NewArray();

#endif  // VINTREL_JSON_JSON_VALUE_H_

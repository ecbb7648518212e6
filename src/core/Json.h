// Lenient JSON helpers over json-c: ownership, parsing, rendering and the
// field readers through which every JSON value the program receives is read.
#pragma once

#include <json-c/json.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct JsonDeleter {
    void operator()(json_object *o) const { json_object_put(o); }
};
// Owns one reference to a json-c value.
using JsonPtr = std::unique_ptr<json_object, JsonDeleter>;

// Parses a whole text; null when it is not JSON.
JsonPtr jsonParse(const std::string &text);
// Parses a text that holds one array, element by element: visit gets each
// element in order and it is freed before the next is parsed, so a listing of
// 100,000 entries never exists as one tree. False when the text is not such
// an array (the elements before the fault were visited) or visit returned false.
bool jsonForEachInArray(const std::string &text, const std::function<bool(json_object *)> &visit);
// json-c's default (spaced) text form.
std::string jsonText(json_object *o);

// Missing keys, nulls and non-objects read as "" / 0 / false. A boolean read
// from a number is true when not zero, from a text unless it is "false" or "0".
std::string jsonString(json_object *obj, const char *key);
int32_t jsonInt(json_object *obj, const char *key);
int64_t jsonInt64(json_object *obj, const char *key);
bool jsonBool(json_object *obj, const char *key);

// The leading decimal integer of a text: leading white space, an optional
// sign, then digits; anything after them is ignored. Empty when the text holds
// no number or the number does not fit in 64 bits.
std::optional<int64_t> parseLeadingInt(const std::string &text);

// Builders that keep call sites short.
void jsonAdd(json_object *obj, const char *key, const std::string &value);
void jsonAddInt(json_object *obj, const char *key, int32_t value);
void jsonAddInt64(json_object *obj, const char *key, int64_t value);
void jsonAddBool(json_object *obj, const char *key, bool value);

// Reading one MessagePack value from a byte buffer into a BindingProperty tree.
//
//   const uint8_t body[] = {0x81, 0xa2, 'i', 'd', 0x2a};  // {"id": 42}
//   MsgPackDecodeResult r = DecodeMsgPack(body, sizeof body);
//   r.result.value.find("id").asSigned();  // 42
//   r.bytesUsed;                           // 5
//
// Families and the values they give: nil is empty; false/true bool; positive
// and negative fixint and int 8-64 signed (sign-extended); uint 8-64 unsigned;
// float 32 (widened) and float 64 float; fixstr and str 8-32 a string (bytes
// taken unchanged); bin 8-32 a blob; fixarray and array 16/32 a collection;
// fixmap and map 16/32 a structure. Map keys must be strings; a key given twice
// keeps its later value. The never-used byte, ext and fixext fail.
//
// Only the first value is read: bytesUsed tells the caller where it ended, so
// trailing bytes are the caller's to reject. When the buffer ends inside open
// arrays or maps, the value keeps the items read so far, succeeds, and
// bytesUsed equals `size`. The first failure ends decoding with a failed result
// whose "error" text names the position (and, for a cut string or blob, the
// declared size).
//
// A declared length or count is never trusted before its bytes are there, and
// nesting depth is bounded only by memory, never by the call stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/binding_property.h"

namespace Zorv {

struct MsgPackDecodeResult {
  BindingResult result;
  size_t bytesUsed = 0;  // on failure: the read position where decoding stopped
};

// REQUIRES: `data` points to `size` readable bytes (or size is 0).
MsgPackDecodeResult DecodeMsgPack(const uint8_t* data, size_t size);

// Whether a body without a content type looks like MessagePack: its first byte
// opens a map or an array (0x80-0x9f, 0xdc-0xdf).
bool IsMsgPack(const uint8_t* data, size_t length);

}  // namespace Zorv

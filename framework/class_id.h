// Class ids: 16-byte identifiers of component classes, message sources and
// message topics, and their text form.
#ifndef FRAMEWORK_CLASS_ID_H_
#define FRAMEWORK_CLASS_ID_H_

#include <string>

#include "framework/properties/guid.h"

namespace quor {

using ClassId = vela::Guid;

// The text form that keys the class registry and appears in traces: "{", the
// first field, "-", the second, "-", the third, "-", then each of the eight
// bytes in turn, all in lower-case hexadecimal without leading zeros and
// with no separator between the bytes, then "}". The id
// {505CD427-E218-463B-AC41-E737BD0464C9} reads
// {505cd427-e218-463b-ac41e737bd464c9}.
std::string classIdText(const ClassId& id);
std::wstring classIdWideText(const ClassId& id);

// The component classes every instance manager registers.
inline constexpr ClassId kTimerEventGeneratorClassId = {
    0x505CD427, 0xE218, 0x463B, {0xAC, 0x41, 0xE7, 0x37, 0xBD, 0x04, 0x64, 0xC9}};
inline constexpr ClassId kDebugListenerClassId = {
    0xB0D2A23A, 0xFE2D, 0x4A03, {0xAE, 0xC5, 0xC3, 0xE2, 0xF9, 0xBE, 0xA2, 0xE4}};
inline constexpr ClassId kTarnEventGeneratorClassId = {
    0x4AD54A4F, 0x7906, 0x4C40, {0xBB, 0x19, 0x03, 0xB7, 0x78, 0xA0, 0x8D, 0x4C}};
inline constexpr ClassId kTarnListenerClassId = {
    0x5DB8AD6D, 0x4D3C, 0x4F33, {0xBD, 0x1D, 0xBA, 0xFB, 0x50, 0x40, 0x1E, 0x7B}};

}  // namespace quor

#endif  // FRAMEWORK_CLASS_ID_H_

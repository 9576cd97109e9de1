#include <windows.h>

#include <new>

#include "platform/critical_section.h"

namespace platform {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= CriticalSection::kStorageSize,
              "CRITICAL_SECTION does not fit the storage");
static_assert(alignof(CRITICAL_SECTION) <= 16, "CRITICAL_SECTION alignment");

}  // namespace

CriticalSection::CriticalSection() {
  InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

CriticalSection::~CriticalSection() {
  DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void CriticalSection::enter() {
  EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void CriticalSection::leave() {
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

}  // namespace platform

#include "framework/properties/quor_database.h"

namespace quor {

IInstanceManager* Database::getInstanceManager() const {
  return manager_;
}

}  // namespace quor

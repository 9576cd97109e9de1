// The framework's property database, owned by the instance manager.
#ifndef FRAMEWORK_PROPERTIES_QUOR_DATABASE_H_
#define FRAMEWORK_PROPERTIES_QUOR_DATABASE_H_

#include "framework/properties/database.h"

namespace quor {

class IInstanceManager;

class Database : public vela::AbstractDatabase {
 public:
  explicit Database(IInstanceManager* manager = nullptr) : manager_(manager) {}

  // The instance manager that owns this database (not owned).
  virtual IInstanceManager* getInstanceManager() const;

 private:
  IInstanceManager* manager_;
};

}  // namespace quor

#endif  // FRAMEWORK_PROPERTIES_QUOR_DATABASE_H_

#include "framework/message.h"

namespace vela {
namespace {

// The holder behind every SimpleMessage. It is shared by all of them and by
// every thread, so it stays empty: whatever is offered to it is refused (and
// deleted where it was handed over).
class SharedEmptyHolder : public PropertyHolder {
 public:
  using PropertyHolder::adoptProperty;
  using PropertyHolder::setProperty;

  bool adoptProperty(const wchar_t*, IProperty* property) override {
    deleteProperty(property);
    return false;
  }
  bool setProperty(const wchar_t*, const IProperty&) override { return false; }
};

}  // namespace

IPropertyHolder* SimpleMessage::sharedEmptyProperties() {
  static SharedEmptyHolder holder;
  return &holder;
}

IPropertyHolder* SimpleMessage::getProperties() {
  return sharedEmptyProperties();
}

const IPropertyHolder* SimpleMessage::getProperties() const {
  return sharedEmptyProperties();
}

}  // namespace vela

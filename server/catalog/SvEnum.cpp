// SvEnum: an enumeration's items and the value lists the compiler asks for.
#include <svcatalog/SvEnum.h>

SvEnum::~SvEnum() {
  for (SvEnumItem* i : items_) delete i;
}

int32_t SvEnum::addItem(String const& name, int32_t value) {
  items_.push_back(new SvEnumItem(name, value));
  return int32_t(items_.size()) - 1;
}

SvEnumItem* SvEnum::item(int32_t i) const {
  return i >= 0 && i < nItems() ? items_[size_t(i)] : nullptr;
}

int32_t SvEnum::itemValue(String const& name) const {
  for (SvEnumItem const* i : items_)
    if (cmp(i->name(), name) == 0) return i->value();
  return kNoValue;
}

int32_t* SvEnum::itemsValues() const {
  if (items_.empty()) return nullptr;
  int32_t* v = new int32_t[items_.size() + 1];
  for (size_t i = 0; i < items_.size(); ++i) v[i] = items_[i]->value();
  v[items_.size()] = kNoValue;
  return v;
}

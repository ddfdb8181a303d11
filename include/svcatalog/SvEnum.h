// SvEnum: an enumeration of a schema, a named list of items, each a name
// with a 32-bit value.
//
// Invariants: the enumeration owns its items; items keep their order of
// addition and duplicates are allowed (the first of a name wins a lookup).
#pragma once

#include <cstdint>
#include <vector>

#include <zfound/String.h>

class SvEnumItem {
public:
  SvEnumItem(String const& name, int32_t value) : name_(name), value_(value) {}
  String const& name() const { return name_; }
  int32_t value() const { return value_; }

private:
  String name_;
  int32_t value_;
};

class SvEnum {
public:
  // Value of a missing item and the end mark of itemsValues.
  static constexpr int32_t kNoValue = 0x7fffffff;

  explicit SvEnum(String const& name) : name_(name) { items_.reserve(8); }
  ~SvEnum();
  SvEnum(SvEnum const&) = delete;
  SvEnum& operator=(SvEnum const&) = delete;

  // Appends an item; returns its index.
  int32_t addItem(String const& name, int32_t value);
  String const& name() const { return name_; }
  int32_t nItems() const { return int32_t(items_.size()); }
  // Item i, or null when i names no item.
  SvEnumItem* item(int32_t i) const;
  // The value of the first item of that name; kNoValue when there is none.
  int32_t itemValue(String const& name) const;
  // A new array (new[]; the caller deletes it) of every item's value in
  // item order, ended by kNoValue; null when there are no items.
  int32_t* itemsValues() const;

private:
  String name_;
  std::vector<SvEnumItem*> items_;
};

// What the expression compiler asks a schema about its enumerations; the
// schema implements it. values receives a new[] array that the caller
// deletes: with an item name, one element (the item's value); with an empty
// item name, every value ended by SvEnum::kNoValue. False when the
// enumeration, the item or (for the list) any item is missing.
class SvEnumSource {
public:
  virtual ~SvEnumSource() = default;
  virtual bool getEnumInfo(String const& enumName, String const& itemName, int32_t*& values) = 0;
};
